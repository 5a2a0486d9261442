#!/usr/bin/python3
"""Independent XMODEM receiver for the Windows serial test.

Runs on the Linux side of the pseudo-terminal behind the test's peer port and
receives COUNT files with Debian's python3-xmodem in checksum mode (it starts
each transfer by sending NAK). File i is written to OUTDIR/recv_i.bin, renamed
into place only once the transfer has ended, so the Windows side can wait for
it to appear.

    xmodem_peer.py DEVICE OUTDIR COUNT
"""
import os
import select
import sys
import termios
import time
import tty

import xmodem


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    device, outdir, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[3] &= ~termios.ECHO
    termios.tcsetattr(fd, termios.TCSANOW, attrs)

    def getc(size, timeout=1):
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < size:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, size - len(data))
                if not chunk:
                    return None
                data += chunk
        return data

    def putc(data, timeout=1):
        view = memoryview(data)
        while view:
            written = os.write(fd, view)
            view = view[written:]
        return len(data)

    # Whatever earlier tests left on the line is not part of a transfer.
    termios.tcflush(fd, termios.TCIFLUSH)
    while getc(1, 0.2) is not None:
        pass

    modem = xmodem.XMODEM(getc, putc, mode="xmodem1k")
    for i in range(count):
        part = os.path.join(outdir, "recv_%d.part" % i)
        with open(part, "wb") as stream:
            received = modem.recv(stream, crc_mode=0, retry=60, timeout=2, quiet=1)
        if received is None:
            print("xmodem_peer: transfer %d failed" % i, file=sys.stderr)
            return 1
        os.rename(part, os.path.join(outdir, "recv_%d.bin" % i))
        print("xmodem_peer: file %d received, %d bytes" % (i, received), flush=True)
    os.close(fd)
    return 0


if __name__ == "__main__":
    sys.exit(main())
