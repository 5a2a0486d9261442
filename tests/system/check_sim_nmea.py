#!/usr/bin/python3
"""Reads the simulator's NMEA stream with an independent decoder (pynmea2,
checksums verified) and fails on any sentence it cannot decode, or on a
stream that does not look like a receiver's: missing sentences, GSV groups
out of order, a fix that never arrives."""

import argparse
import sys

import pynmea2

from sim_peer import Line, Sim


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sim", required=True)
    ap.add_argument("--baud", type=int, default=9600)
    ap.add_argument("--epochs", type=int, default=8)
    args = ap.parse_args()

    errors = []
    counts = {}
    fixes = set()
    epochs = 0
    with Sim(args.sim, "--baud", str(args.baud), "--time-scale", "0.2") as sim:
        line = Line(sim.device, args.baud)
        gsv_expected = 1
        seen_rmc = False
        for raw in line.lines(timeout=args.epochs + 6):
            text = raw.decode("ascii", errors="replace")
            try:
                msg = pynmea2.parse(text, check=True)
            except (pynmea2.ParseError, pynmea2.ChecksumError, ValueError) as e:
                errors.append("%s: %s" % (text, e))
                continue
            kind = msg.sentence_type
            counts[kind] = counts.get(kind, 0) + 1
            if kind == "RMC":
                if seen_rmc:
                    epochs += 1
                seen_rmc = True
                if msg.status == "A" and msg.datestamp is None:
                    errors.append("valid RMC without a date: " + text)
            elif kind == "GSA":
                fixes.add(msg.mode_fix_type)
            elif kind == "GSV":
                total, number = int(msg.num_messages), int(msg.msg_num)
                if number != gsv_expected or not 1 <= total <= 3:
                    errors.append("GSV message %d of %d out of order" % (number, total))
                gsv_expected = 1 if number == total else number + 1
                in_view = int(msg.num_sv_in_view)
                if not 8 <= in_view <= 12:
                    errors.append("%d satellites in view" % in_view)
            if epochs >= args.epochs:
                break
        line.close()

    for kind in ("RMC", "GGA", "GSA", "GSV"):
        if counts.get(kind, 0) < args.epochs:
            errors.append("only %d %s sentences in %d epochs" % (counts.get(kind, 0), kind, epochs))
    if "3" not in fixes:
        errors.append("no 3D fix within %d epochs (fix types seen: %s)" % (epochs, sorted(fixes)))
    for e in errors:
        print("FAIL", e)
    print("%d epochs at %d baud, sentences %s" % (epochs, args.baud, counts))
    return 1 if errors or epochs < args.epochs else 0


if __name__ == "__main__":
    sys.exit(main())
