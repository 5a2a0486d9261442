#!/usr/bin/env python3
"""Makes DIR a busy directory, as a download folder, a build tree or /tmp is:
fills it with FILES files, prints "ready", then creates and deletes RATE files
a second until it is stopped.

    bench/busy_directory.py DIR [--files 3000] [--rate 100]
"""
import argparse
import os
import sys
import time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir")
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--rate", type=int, default=100)
    args = parser.parse_args()

    for i in range(args.files):
        with open(os.path.join(args.dir, f"file{i:05}.dat"), "wb") as f:
            f.write(b"x")
    print("ready", flush=True)

    period = 1.0 / args.rate
    due = time.monotonic()
    i = 0
    while True:
        # Each file lives for one period: created now, deleted at the next step.
        name = os.path.join(args.dir, f"churn{i % 2}.tmp")
        with open(name, "wb") as f:
            f.write(b"y")
        old = os.path.join(args.dir, f"churn{(i + 1) % 2}.tmp")
        if os.path.exists(old):
            os.unlink(old)
        i += 1
        due += period
        time.sleep(max(0.0, due - time.monotonic()))


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
