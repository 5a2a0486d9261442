"""Starting the receiver simulator from a Python check and talking to its pty."""

import os
import select
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

SPEEDS = {4800: termios.B4800, 9600: termios.B9600, 19200: termios.B19200,
          38400: termios.B38400, 57600: termios.B57600, 115200: termios.B115200}


class Sim:
    """The simulator on a private pty, its report in a temporary file."""

    def __init__(self, binary, *args):
        self.dir = tempfile.TemporaryDirectory(prefix="receiver-sim-check-")
        self.report = os.path.join(self.dir.name, "report.jsonl")
        self.image = os.path.join(self.dir.name, "image.bin")
        self.proc = subprocess.Popen(
            [binary, "--no-register", "--report", self.report, "--image-out", self.image,
             "--exit-with-parent", *args],
            stdout=subprocess.PIPE, text=True)
        self.device = None
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            if line.startswith("device "):
                self.device = line.split(None, 1)[1].strip()
            if line.strip() == "ready":
                break
        if not self.device:
            self.close()
            raise RuntimeError("simulator did not start")

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.dir.cleanup()

    def reports(self):
        import json
        try:
            with open(self.report, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []

    def wait_report(self, predicate, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for r in self.reports():
                if predicate(r):
                    return r
            time.sleep(0.02)
        return None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class AgpsServer:
    """The local A-GPS server on a free port; host is its http:// address."""

    def __init__(self, script, *args):
        self.proc = subprocess.Popen([sys.executable, script, "--port", "0", *args],
                                     stdout=subprocess.PIPE, text=True)
        self.host = "http://" + self.proc.stdout.readline().split()[1]

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)
        self.proc.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class AgpsServerCase(unittest.TestCase):
    """One A-GPS server for the class and a fresh working folder per test;
    a subclass names the server script in SERVER_SCRIPT."""

    SERVER_SCRIPT = None

    @classmethod
    def setUpClass(cls):
        cls.server = AgpsServer(cls.SERVER_SCRIPT)
        cls.host = cls.server.host

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zorvik-agps-")

    def tearDown(self):
        self.dir.cleanup()


class Line:
    """The program's end of the pty: raw 8N1 at a rate."""

    def __init__(self, device, baud):
        self.fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.set_rate(baud)
        self.pending = b""

    def set_rate(self, baud):
        attrs = termios.tcgetattr(self.fd)
        attrs[4] = attrs[5] = SPEEDS[baud]
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)

    def close(self):
        os.close(self.fd)

    def write(self, data):
        os.write(self.fd, data)

    def read(self, timeout):
        """Whatever arrives within timeout seconds (at least one read)."""
        ready, _, _ = select.select([self.fd], [], [], timeout)
        return os.read(self.fd, 4096) if ready else b""

    def lines(self, timeout):
        """Complete lines from '$' to LF (CR LF cut) arriving within timeout seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.pending += self.read(max(0.0, min(0.1, deadline - time.monotonic())))
            while b"\n" in self.pending:
                raw, self.pending = self.pending.split(b"\n", 1)
                start = raw.rfind(b"$")
                if start >= 0:
                    yield raw[start:].rstrip(b"\r")


def sentence(body):
    """A complete NMEA sentence for body (without '$'), checksum and CR LF."""
    check = 0
    for c in body.encode("ascii"):
        check ^= c
    return ("$%s*%02X\r\n" % (body, check)).encode("ascii")
