#!/usr/bin/python3
"""zorvik through a serial device server: Debian's ser2net in front of the
receiver simulator's pty, on the loopback, with an RFC 2217 accepter and a raw
TCP one; then servers that fail in the ways a network fails."""

import os
import random
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from sim_peer import AgpsServerCase, Sim

ZORVIK = os.environ.get("ZORVIK_CLI", "zorvik")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")
AGPS_SERVER = os.environ.get("ZORVIK_AGPS_SERVER", "agps_server.py")
SER2NET = shutil.which("ser2net") or "/usr/sbin/ser2net"
FAST = ("--time-scale", "0.05")
IAC, SB, SE, DO, WILL = 255, 250, 240, 253, 251
COM_PORT = 44


def zorvik(port, *args, timeout=90, cwd=None):
    return subprocess.run([ZORVIK, "-p", port, *args], capture_output=True, text=True,
                          timeout=timeout, cwd=cwd)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening_ports():
    with open("/proc/net/tcp", encoding="ascii") as f:
        rows = [line.split() for line in f.readlines()[1:]]
    return {int(row[1].split(":")[1], 16) for row in rows if row[3] == "0A"}


def commands(sim):
    return [r["text"] for r in sim.reports() if r.get("event") == "command"]


class Ser2net:
    """ser2net in the foreground with a configuration of our own: one
    telnet(rfc2217) and one raw tcp accepter for the device."""

    def __init__(self, device):
        self.dir = tempfile.TemporaryDirectory(prefix="zorvik-ser2net-")
        self.rfc2217, self.raw = free_port(), free_port()
        config = os.path.join(self.dir.name, "ser2net.yaml")
        with open(config, "w", encoding="ascii") as f:
            for name, accepter, port in (("rfc", "telnet(rfc2217),tcp", self.rfc2217),
                                         ("raw", "tcp", self.raw)):
                f.write(f"connection: &{name}\n"
                        f"  accepter: {accepter},127.0.0.1,{port}\n"
                        f"  connector: serialdev,{device},9600n81,local\n")
        self.proc = subprocess.Popen([SER2NET, "-n", "-d", "-c", config],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Listening is read from the kernel's table: a probe connection would
        # itself hold the device for a while after it closed.
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if {self.rfc2217, self.raw} <= listening_ports():
                return
            time.sleep(0.05)
        self.close()
        raise RuntimeError("ser2net did not start")

    def url(self, kind):
        return f"rfc2217://127.0.0.1:{self.rfc2217}" if kind == "rfc2217" else \
            f"tcp://127.0.0.1:{self.raw}"

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)

    def close(self):
        self.kill()
        self.dir.cleanup()


@unittest.skipUnless(os.path.exists(SER2NET), "ser2net is not installed")
class ThroughSer2net(AgpsServerCase):
    SERVER_SCRIPT = AGPS_SERVER

    def setUp(self):
        super().setUp()
        self.sim = Sim(SIM, *FAST)
        self.server = Ser2net(self.sim.device)

    def tearDown(self):
        self.server.close()
        self.sim.close()
        super().tearDown()

    def firmware(self, data):
        """A firmware image of these bytes in the case's directory."""
        image = os.path.join(self.dir.name, "fw.bin")
        with open(image, "wb") as f:
            f.write(data)
        return image

    def test_both_kinds_read_the_receiver(self):
        for kind in ("rfc2217", "tcp"):
            with self.subTest(kind=kind):
                run = zorvik(self.server.url(kind), "version")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn("F/W Ver: 1.5", run.stdout)
                run = zorvik(self.server.url(kind), "monitor", "--count", "2")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(len(run.stdout.splitlines()), 2, run.stdout)

    def test_rate_follows_and_flash_goes_through_byte_for_byte(self):
        url = self.server.url("rfc2217")
        run = zorvik(url, "baud", "115200")
        self.assertEqual(run.returncode, 0, run.stderr)
        # The simulator speaks only at the rate set on its pty: the answer
        # proves ser2net set it.
        run = zorvik(url, "-b", "115200", "version")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(zorvik(url, "-b", "9600", "version").returncode, 1)
        # Random bytes carry 0xFF, which the telnet layer must double.
        data = random.Random(7).randbytes(481280)
        self.assertGreater(data.count(0xFF), 1000)
        run = zorvik(url, "-b", "115200", "flash", "--kind", "firmware", self.firmware(data),
                     timeout=240)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(self.sim.image, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(zorvik(url, "-b", "115200", "baud", "9600").returncode, 0)

    def test_ephemeris_frames_arrive_whole(self):
        run = zorvik(self.server.url("rfc2217"), "agps", "be", "--host", self.host,
                     cwd=self.dir.name)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.dir.name, "BE.bin"), "rb") as f:
            data = f.read()
        self.assertIsNotNone(self.sim.wait_report(lambda r: r.get("state") == "off", 3))
        frames = [bytes.fromhex(r["hex"]) for r in self.sim.reports() if r.get("event") == "frame"]
        self.assertTrue(frames)
        # Every frame starts 0x81 0xFF and stands in the file as it was sent.
        for frame in frames:
            self.assertEqual(frame[:2], b"\x81\xff")
            self.assertIn(frame, data)

    def test_device_held_by_a_closing_session_is_waited_for(self):
        # While another session holds the device, the server answers a new
        # connection with a parting line and ends it; one that ends within
        # the retry bound lets the next open through.
        holder = socket.create_connection(("127.0.0.1", self.server.raw), 2)
        threading.Timer(0.8, holder.close).start()
        run = zorvik(self.server.url("rfc2217"), "version")
        self.assertEqual(run.returncode, 0, run.stderr)
        # One held past the bound is told as such.
        with self.hold_device():
            run = zorvik(self.server.url("rfc2217"), "version")
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("ended every connection at once", run.stderr)

    def hold_device(self):
        """A raw connection that holds the device: the server ends one at
        once while the session before still holds it."""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            holder = socket.create_connection(("127.0.0.1", self.server.raw), 2)
            readable, _, _ = select.select([holder], [], [], 0.5)
            if not readable:
                return holder
            holder.close()
        self.fail("the device server never let a connection hold its device")

    def test_raw_port_refuses_what_needs_another_rate(self):
        image = self.firmware(bytes(481280))
        for args in (["baud", "115200"], ["flash", "--kind", "firmware", image]):
            with self.subTest(args=args[0]):
                before = len(commands(self.sim))
                run = zorvik(self.server.url("tcp"), *args)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertIn("raw TCP port", run.stderr)
                time.sleep(0.3)
                self.assertEqual(commands(self.sim)[before:], [])

    def test_server_gone_mid_stream_and_mid_flash(self):
        image = self.firmware(os.urandom(481280))
        cases = [
            (["monitor"], lambda err: True),
            (["flash", "--kind", "firmware", image], lambda err: "transferred" in err),
        ]
        for args, ready in cases:
            with self.subTest(args=args[0]):
                proc = subprocess.Popen([ZORVIK, "-p", self.server.url("rfc2217"), *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                err = []
                reader = threading.Thread(target=lambda: err.extend(proc.stderr), daemon=True)
                reader.start()
                deadline = time.monotonic() + 30
                while not ready("".join(err)) and time.monotonic() < deadline:
                    time.sleep(0.05)
                time.sleep(1.0)
                self.server.kill()
                killed = time.monotonic()
                proc.wait(10)
                noticed = time.monotonic() - killed
                reader.join(5)
                proc.stdout.close()
                proc.stderr.close()
                self.assertEqual(proc.returncode, 1, "".join(err))
                self.assertIn("the connection to the device server ended", err[-1])
                self.assertLess(noticed, 3.0)
                self.server.close()
                self.server = Ser2net(self.sim.device)


class FakeServer:
    """A listener on a free loopback port; each connection runs `serve`."""

    def __init__(self, serve):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(4)
        self.port = self.sock.getsockname()[1]
        self.serve = serve
        threading.Thread(target=self.loop, daemon=True).start()

    def loop(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def close(self):
        self.sock.close()


def never_negotiates(conn):
    with conn:
        while conn.recv(1024):
            pass


def answers_another_rate(conn):
    """Agrees to the COM-port option, then answers each command with its own
    value except SET-BAUDRATE, which it answers with 4800."""
    with conn:
        conn.sendall(bytes([IAC, DO, COM_PORT]))
        buf = b""
        while True:
            data = conn.recv(1024)
            if not data:
                return
            buf += data
            while (start := buf.find(bytes([IAC, SB, COM_PORT]))) >= 0:
                end = buf.find(bytes([IAC, SE]), start)
                if end < 0:
                    break
                command, value = buf[start + 3], buf[start + 4:end]
                buf = buf[end + 2:]
                if command == 1:
                    value = (4800).to_bytes(4, "big")
                conn.sendall(bytes([IAC, SB, COM_PORT, command + 100]) + value + bytes([IAC, SE]))


def closes_at_once(conn):
    conn.close()


class Failures(unittest.TestCase):
    def test_each_failure_has_its_own_words(self):
        servers = {name: FakeServer(serve) for name, serve in (
            ("silent", never_negotiates), ("other-rate", answers_another_rate),
            ("closing", closes_at_once))}
        unused = free_port()
        cases = [
            # port name, words on standard error, at most this many seconds
            ("rfc2217://nosuch.invalid:2217", "unknown host", 8),
            (f"rfc2217://127.0.0.1:{unused}", "connection refused", 2),
            (f"tcp://127.0.0.1:{unused}", "connection refused", 2),
            (f"rfc2217://127.0.0.1:{servers['silent'].port}", "does not take COM-port commands", 6),
            (f"rfc2217://127.0.0.1:{servers['other-rate'].port}", "did not set the rate", 6),
            (f"rfc2217://127.0.0.1:{servers['closing'].port}", "ended every connection at once", 4),
            ("rfc2217://127.0.0.1", "not a network port address", 2),
            ("tcp://127.0.0.1:99999", "not a network port address", 2),
        ]
        try:
            for port, words, bound in cases:
                with self.subTest(port=port):
                    started = time.monotonic()
                    run = zorvik(port, "version")
                    self.assertLess(time.monotonic() - started, bound)
                    self.assertEqual(run.returncode, 1, run.stderr)
                    self.assertIn("Cannot open " + port + " port !", run.stderr)
                    self.assertIn(words, run.stderr)
        finally:
            for server in servers.values():
                server.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
