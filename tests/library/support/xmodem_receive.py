#!/usr/bin/python3
"""Receives one XMODEM transfer into a file, as an independent peer for tests.

Uses Debian's python3-xmodem in checksum mode: it starts the transfer itself by
sending NAK, takes 128- and 1024-byte blocks, acknowledges each good block and
the final EOT. The line is given either as an open file descriptor inherited
from the test (--fd, for example a pseudo-terminal's master side) or as a device
path (--device, opened and put into raw mode).

Exit status 0 when the transfer completed; the byte count received (padding
included) is printed on stdout. Exit status 1 when it failed.
"""

import argparse
import logging
import os
import select
import sys
import termios
import time
import tty

from xmodem import XMODEM


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    line = parser.add_mutually_exclusive_group(required=True)
    line.add_argument("--fd", type=int, help="inherited file descriptor of the line")
    line.add_argument("--device", help="tty device path of the line")
    parser.add_argument("--timeout", type=float, default=10.0,
                        help="seconds to wait for a byte (default 10)")
    parser.add_argument("output", help="file to write the received data to")
    args = parser.parse_args()

    if args.fd is not None:
        fd = args.fd
    else:
        fd = os.open(args.device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd, termios.TCSANOW)

    def getc(size, timeout=1):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < size:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([fd], [], [], left)
            if not ready:
                break
            chunk = os.read(fd, size - len(data))
            if not chunk:
                break
            data += chunk
        return data if len(data) == size else None

    def putc(data, timeout=1):
        return os.write(fd, data)

    logging.basicConfig(level=logging.ERROR)
    modem = XMODEM(getc, putc, mode="xmodem1k")
    with open(args.output, "wb") as out:
        received = modem.recv(out, crc_mode=0, retry=4, timeout=args.timeout, quiet=1)
    if received is None:
        print("transfer failed", file=sys.stderr)
        return 1
    print(received)
    return 0


if __name__ == "__main__":
    sys.exit(main())
