#!/usr/bin/python3
"""The simulator replays a real log: the bytes on the line are the log's NMEA
lines in order (line ends included), pynmea2 reads the same sentences from
both, commands are still answered meanwhile, and the output stops at the end."""

import argparse
import sys
import time

import pynmea2

from sim_peer import Line, Sim, sentence


def nmea_lines(path):
    with open(path, "rb") as f:
        return [line for line in f.read().splitlines(keepends=True) if line.startswith(b"$")]


def decoded(lines):
    out = []
    for raw in lines:
        msg = pynmea2.parse(raw.decode("ascii").rstrip("\r\n"), check=True)
        out.append((msg.talker, msg.sentence_type, msg.data))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sim", required=True)
    ap.add_argument("--log", required=True)
    args = ap.parse_args()

    expected = nmea_lines(args.log)
    errors = []
    with Sim(args.sim, "--replay", args.log) as sim:
        line = Line(sim.device, 9600)
        started = time.monotonic()
        received = b""
        asked = False
        ended = False
        while not ended and time.monotonic() - started < len(expected) + 10:
            received += line.read(0.1)
            if not asked and received.count(b"\n") >= 3:
                line.write(sentence("PKVX14,8"))  # firmware version query
                asked = True
            ended = any(r.get("event") == "replay" and r.get("state") == "end" for r in sim.reports())
        received += line.read(1.5)
        elapsed = time.monotonic() - started
        after_end = line.read(1.5)
        line.close()

    got = received.splitlines(keepends=True)
    replies = [g for g in got if g.startswith(b"$PKVX100")]
    got = [g for g in got if not g.startswith(b"$PKVX")]
    if got != expected:
        errors.append("received %d lines, the log holds %d; first difference at %s" % (
            len(got), len(expected),
            next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))))
    elif decoded(got) != decoded(expected):
        errors.append("pynmea2 reads the received sentences differently")
    if not replies:
        errors.append("no firmware version reply during the replay")
    epochs = sum(1 for e in expected if e[3:6] == b"RMC")
    if elapsed < epochs - 2:
        errors.append("%d epochs played in %.1f s, not one a second" % (epochs, elapsed))
    if after_end:
        errors.append("output after the end of the recording: %r" % after_end[:80])
    for e in errors:
        print("FAIL", e)
    print("%d lines of %s replayed in %.1f s" % (len(expected), args.log, elapsed))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
