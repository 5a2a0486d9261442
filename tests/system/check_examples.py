#!/usr/bin/python3
"""The example clients of examples/ as a user runs them: against the receiver
simulator, against a pseudo-terminal that sends chosen bytes, and against a
port that is not there."""

import os
import pty
import re
import subprocess
import tempfile
import time
import tty
import unittest

from sim_peer import Sim, sentence

EXAMPLES = os.environ.get("ZORVIK_EXAMPLES_DIR", ".")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")

FIX = re.compile(r"time \d{6}(\.\d+)? date \d{6} status [AV] lat \d{4}\.\d+ [NS] "
                 r"lon \d{5}\.\d+ [EW] speed \d+\.\d+ kn course \d+\.\d+")
RMC = "GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A"
RMC_SHOWN = ("time 092751.000 date 280511 status A lat 5321.6802 N lon 00630.3371 W "
             "speed 0.06 kn course 31.66")


def example(name, *args, timeout=30, env=None):
    return subprocess.run([os.path.join(EXAMPLES, name), *args], capture_output=True,
                          text=True, timeout=timeout, env=env)


def damaged(body):
    """A sentence whose checksum no longer matches: a digit of it changed."""
    whole = sentence(body)
    star = whole.index(b"*")
    wrong = b"0" if whole[star + 1:star + 2] != b"0" else b"1"
    return whole[:star + 1] + wrong + whole[star + 2:]


class Pty:
    """A pseudo-terminal whose far end the test writes."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        os.set_blocking(self.master, False)

    def write(self, data):
        """As much of data as the pty takes now."""
        try:
            os.write(self.master, data)
        except BlockingIOError:
            pass

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class AgainstSimulator(unittest.TestCase):

    def test_print_fixes(self):
        cases = [
            # simulator options, rate
            ((), "9600"),
            (("--baud", "115200"), "115200"),
            # damaged, noisy and over-long lines between the sound ones
            (("--fault", "badsum,garbage,longline", "--seed", "7"), "9600"),
        ]
        for options, baud in cases:
            with self.subTest(options=options), Sim(SIM, *options) as sim:
                run = example("print_fixes", sim.device, baud, "3")
                self.assertEqual(run.returncode, 0, run.stderr)
                lines = run.stdout.splitlines()
                self.assertEqual(len(lines), 3, run.stdout)
                for line in lines:
                    self.assertRegex(line, FIX)

    def test_query_version(self):
        cases = [
            # simulator options, exit status, pattern on stdout or stderr
            ((), 0, r"\Afirmware 01\.05\nkernel 02\.03\nFSA 1\.08\n\Z"),
            (("--fault", "badsum,garbage", "--seed", "3"), 0, r"\Afirmware 01\.05\n"),
            # the query arrives, nothing answers: the wait ends
            (("--fault", "silent"), 1, r"no version reply within 3 s"),
        ]
        for options, status, pattern in cases:
            with self.subTest(options=options), Sim(SIM, *options) as sim:
                started = time.monotonic()
                run = example("query_version", sim.device)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertRegex(run.stdout if status == 0 else run.stderr, pattern)
                self.assertLess(time.monotonic() - started, 10)
                self.assertTrue(sim.wait_report(
                    lambda r: r.get("event") == "command" and r.get("text", "").startswith(
                        "$PKVX14"), 2), "the receiver got no version query")

    def test_list_ports_names_the_registered_simulator(self):
        with tempfile.TemporaryDirectory(prefix="zorvik-examples-") as runtime:
            os.chmod(runtime, 0o700)
            env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
            sim = subprocess.Popen([SIM, "--port-name", "EXAMPLE7", "--exit-with-parent"],
                                   stdout=subprocess.PIPE, text=True, env=env)
            try:
                for line in sim.stdout:
                    if line.strip() == "ready":
                        break
                listed = example("list_ports", env=env)
                self.assertEqual(listed.returncode, 0, listed.stderr)
                self.assertIn("EXAMPLE7", listed.stdout.splitlines())
            finally:
                sim.terminate()
                sim.wait(5)
                sim.stdout.close()
            gone = example("list_ports", env=env)
            self.assertNotIn("EXAMPLE7", gone.stdout.splitlines())


def first_fix(stream):
    """What print_fixes prints for its first fix while a pty sends stream over
    and over (the example may open the port at any point of it)."""
    port = Pty()
    try:
        proc = subprocess.Popen([os.path.join(EXAMPLES, "print_fixes"), port.path, "9600", "1"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        while proc.poll() is None and time.monotonic() < deadline:
            port.write(stream)
            time.sleep(0.2)
        out, err = proc.communicate(timeout=5)
    finally:
        port.close()
    return proc.returncode, out, err


class AgainstChosenBytes(unittest.TestCase):
    """print_fixes acts only on sound GP RMC sentences, whatever comes before."""

    def test_only_sound_fixes_are_printed(self):
        other = "111111.000,A,1111.1111,N,01111.1111,E,9.99,99.99,010101,,,A"
        cases = [
            # what the pty sends, the line printed for the first fix
            ("sound", sentence(RMC), RMC_SHOWN),
            ("damaged checksum first", damaged("GPRMC," + other) + sentence(RMC), RMC_SHOWN),
            ("no checksum first", b"$GPRMC," + other.encode() + b"\r\n" + sentence(RMC),
             RMC_SHOWN),
            ("another talker first", sentence("GNRMC," + other) + sentence(RMC), RMC_SHOWN),
            ("noise and a cut line first", b"\x00\xff#GP$GPRMC,1111" + sentence(RMC), RMC_SHOWN),
            ("bare line feeds", sentence(RMC).replace(b"\r\n", b"\n"), RMC_SHOWN),
            ("empty fields", sentence("GPRMC,,V,,,,,,,,,,N"),
             "time  date  status V lat  - lon  - speed  kn course "),
        ]
        for name, stream, shown in cases:
            with self.subTest(name):
                status, out, err = first_fix(stream)
                self.assertEqual(status, 0, err)
                self.assertEqual(out.splitlines(), [shown])


class WithoutReceiver(unittest.TestCase):

    def test_failures_are_reported_and_bounded(self):
        missing = "/dev/zorvik-example-missing"
        cases = [
            # program, arguments, exit status, pattern on stderr
            ("print_fixes", [missing], 1, r"cannot open /dev/zorvik-example-missing \(ZORVIK_OPEN_ code 2\)"),
            ("query_version", [missing], 1, r"cannot open .* code 2\)"),
            ("print_fixes", [], 2, r"usage: "),
            ("query_version", [], 2, r"usage: "),
        ]
        for program, args, status, pattern in cases:
            with self.subTest(program=program, args=args):
                run = example(program, *args)
                self.assertEqual(run.returncode, status)
                self.assertRegex(run.stderr, pattern)

    def test_a_quiet_port_ends_the_wait(self):
        port = Pty()
        try:
            started = time.monotonic()
            run = example("print_fixes", port.path, "9600", "1")
            waited = time.monotonic() - started
        finally:
            port.close()
        self.assertEqual(run.returncode, 1)
        self.assertIn("0 of 1 fixes", run.stderr)
        self.assertLess(waited, 10)


if __name__ == "__main__":
    unittest.main(verbosity=2)
