#!/usr/bin/python3
"""A small local A-GPS server for the program's ephemeris tools.

Answers the two fixed requests for broadcast ephemeris ("BE") and long-term
ephemeris ("LE") with files made for the current time; anything else is 404.
Python 3 standard library only.

    agps_server.py --port 0 [--bind 127.0.0.1] [--mode normal|slow|broken|hang]
                   [--lte-records K] [--answer FILE]
    agps_server.py --write-be FILE        write a broadcast file and exit
    agps_server.py --write-lte FILE       write a long-term file and exit
    agps_server.py --age S --write-be F   a file whose time lies S seconds back (ahead if < 0)

File formats (times in seconds on the receiver's scale, see now_on_scale):
  BE:  a first line ending in LF within 18 bytes, ten decimal digits T, a LF,
       then VBI frames; 2,048 to 8,192 bytes; valid for [T, T + 14400].
  LTE: a first line ending in LF within 18 bytes, then records back to back:
       a header with T at its first character and the frame byte count at
       offset 22 (27 characters when the count is at most 999, else 28),
       followed by that many bytes of frames; record k covers its own four
       hours; 1,024 to 131,072 bytes.
"""

import argparse
import http.server
import random
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

BE_TARGET = ("/?RQ=USR(9387,c7d41a09-5e3b-4f21-9a8c-3b6e0d2f71a4,630418275,());"
             "BE(BE,VBI::Ephemeris);")
LE_TARGET = ("/?RQ=USR(9387,c7d41a09-5e3b-4f21-9a8c-3b6e0d2f71a4,630418275,());"
             "LE(LE,VBI::Ephemeris,120,4);")

GPS_EPOCH_UNIX = 315964800   # 1980-01-06 00:00:00 UTC
SCALE_OFFSET = 315964811     # added to seconds since the GPS epoch by the receiver's tools
SPAN = 14400                 # four hours
BE_LIMITS = (2048, 8192)
LTE_LIMITS = (1024, 131072)


def now_on_scale(unix_seconds=None):
    """The current time on the files' scale (calendar seconds, no leap seconds)."""
    if unix_seconds is None:
        unix_seconds = time.time()
    return int(unix_seconds) - GPS_EPOCH_UNIX + SCALE_OFFSET


def vbi_frame(kind, payload):
    """Sync 0x81 0xFF, message kind (2 bytes), payload length (LE 16-bit),
    a 2-byte header check, then the payload."""
    check = (-(sum(payload) + kind)) & 0xFFFF
    return b"\x81\xff" + struct.pack("<HHH", kind, len(payload), check) + payload


def satellite_frames(rng, prns, per_satellite=3):
    frames = b""
    for prn in prns:
        for part in range(per_satellite):
            payload = bytes([prn, part]) + bytes(rng.randrange(256) for _ in range(rng.randint(28, 78)))
            frames += vbi_frame(0x0200 + part, payload)
    return frames


def make_be(unix_seconds=None, age=1800, seed=None):
    """A broadcast ephemeris file valid now (made `age` seconds ago)."""
    t = now_on_scale(unix_seconds) - age
    rng = random.Random(seed if seed is not None else t // SPAN)
    prns = rng.sample(range(1, 33), 12)
    head = b"VBI-BE 1.0\n" + b"%010d" % t + b"\n"
    body = satellite_frames(rng, prns)
    while len(head) + len(body) < BE_LIMITS[0]:
        body += satellite_frames(rng, rng.sample(range(1, 33), 1))
    data = head + body
    assert BE_LIMITS[0] <= len(data) <= BE_LIMITS[1], len(data)
    return data


def lte_record(t, frames):
    count = len(frames)
    width = 3 if count <= 999 else 4
    header = (b"%010d" % t) + b",LE,VBI,120," + (b"%*d" % (width, count)) + b";\n"
    assert len(header) == (27 if count <= 999 else 28) and header[22:22 + width].strip().isdigit()
    return header + frames


def make_lte(unix_seconds=None, records=6, age=1800, seed=None):
    """A long-term ephemeris file: record 0 valid now, record k for the k-th
    four-hour span after it."""
    t0 = now_on_scale(unix_seconds) - age
    rng = random.Random(seed if seed is not None else t0 // SPAN)
    data = b"VBI-LTE 1.0\n"
    for k in range(records):
        frames = satellite_frames(rng, rng.sample(range(1, 33), 8), per_satellite=2)
        record = lte_record(t0 + k * SPAN, frames)
        if len(data) + len(record) > LTE_LIMITS[1]:
            break
        data += record
    assert LTE_LIMITS[0] <= len(data) <= LTE_LIMITS[1], len(data)
    return data


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "agps-test/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # quiet: tests read stdout
        if self.server.verbose:
            sys.stderr.write("agps: " + fmt % args + "\n")

    def do_GET(self):
        mode = self.server.mode
        if mode == "hang":
            # Accepted and never answered; hold the connection until the client leaves.
            self.close_connection = True
            while not self.server.stopping.wait(0.5):
                pass
            return
        target = urllib.parse.unquote(self.path)
        if self.server.answer:
            # Whatever the file holds at the time of the request, so that one
            # server can give a test several answers that are no ephemeris file.
            with open(self.server.answer, "rb") as f:
                body, name = f.read(), "answer.bin"
        elif target == BE_TARGET:
            body, name = make_be(), "BE.bin"
        elif target == LE_TARGET:
            body, name = make_lte(records=self.server.lte_records), "LTE.bin"
        else:
            self.send_error(404, "Not Found")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Disposition", 'attachment; filename="%s"' % name)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if mode == "slow":
                chunks = 20
                step = max(1, (len(body) + chunks - 1) // chunks)
                for i in range(0, len(body), step):
                    self.wfile.write(body[i:i + step])
                    self.wfile.flush()
                    time.sleep(10.0 / chunks)
            elif mode == "broken":
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
            else:
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--bind", default="127.0.0.1")
    ap.add_argument("--mode", choices=("normal", "slow", "broken", "hang"), default="normal")
    ap.add_argument("--lte-records", type=int, default=6)
    ap.add_argument("--answer", metavar="FILE",
                    help="answer every request with 200 and the bytes FILE holds then")
    ap.add_argument("--write-be", metavar="FILE")
    ap.add_argument("--write-lte", metavar="FILE")
    ap.add_argument("--age", type=int, default=1800, metavar="S",
                    help="with --write-be/--write-lte: the file's (first record's) time lies S "
                         "seconds back, ahead when negative (default 1800)")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)
    if args.lte_records < 1:
        ap.error("--lte-records must be at least 1")

    if args.write_be or args.write_lte:
        if args.write_be:
            with open(args.write_be, "wb") as f:
                f.write(make_be(age=args.age))
        if args.write_lte:
            with open(args.write_lte, "wb") as f:
                f.write(make_lte(records=args.lte_records, age=args.age))
        return 0

    server = Server((args.bind, args.port), Handler)
    server.mode = args.mode
    server.lte_records = args.lte_records
    server.answer = args.answer
    server.verbose = args.verbose
    server.stopping = threading.Event()
    host, port = server.server_address[:2]
    print("listening %s:%d" % (host, port), flush=True)

    import signal

    def stop(*_):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
