#!/usr/bin/python3
"""The example clients of examples/ as a user runs them: against the receiver
simulator, against a pseudo-terminal that sends chosen bytes, and without a
receiver."""

import os
import pty
import subprocess
import tempfile
import time
import tty
import unittest

from sim_peer import Sim, sentence

EXAMPLES = os.environ.get("ZORVIK_EXAMPLES_DIR", ".")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")

FIX = (r"\Atime \d{6}\.\d{3} date \d{6} status [AV] lat \d{4}\.\d+ [NS] lon \d{5}\.\d+ [EW] "
       r"speed \d+\.\d+ kn course \d+\.\d+\Z")
RMC = "GPRMC,092751.000,A,5321.6802,N,00630.3371,W,0.06,31.66,280511,,,A"
SHOWN = "time 092751.000 date 280511 status A lat 5321.6802 N lon 00630.3371 W speed 0.06 kn course 31.66"
OTHER = "111111.000,A,1111.1111,N,01111.1111,E,9.99,99.99,010101,,,A"


def example(name, *args, env=None):
    return subprocess.run([os.path.join(EXAMPLES, name), *args], capture_output=True, text=True,
                          timeout=30, env=env)


def damaged(body):
    """A sentence whose checksum digit no longer matches."""
    whole = bytearray(sentence(body))
    star = whole.index(b"*")
    whole[star + 1] = ord("0") if whole[star + 1] != ord("0") else ord("1")
    return bytes(whole)


def print_fixes_on_pty(stream, count="1"):
    """print_fixes on a pty that sends stream over and over (the example may
    open the port at any point of it); its exit status, output and errors."""
    master, slave = pty.openpty()
    tty.setraw(slave)
    os.set_blocking(master, False)
    try:
        proc = subprocess.Popen([os.path.join(EXAMPLES, "print_fixes"), os.ttyname(slave), "9600",
                                 count], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        while proc.poll() is None and time.monotonic() < deadline:
            try:
                os.write(master, stream)
            except BlockingIOError:
                pass
            time.sleep(0.2)
        out, err = proc.communicate(timeout=5)
    finally:
        os.close(master)
        os.close(slave)
    return proc.returncode, out, err


class Examples(unittest.TestCase):

    def test_print_fixes_against_the_simulator(self):
        # simulator options, rate; the faults put damaged, noisy and over-long lines between
        for options, baud in [((), "9600"), (("--baud", "115200"), "115200"),
                              (("--fault", "badsum,garbage,longline", "--seed", "7"), "9600")]:
            with self.subTest(options=options), Sim(SIM, *options) as sim:
                run = example("print_fixes", sim.device, baud, "3")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(len(run.stdout.splitlines()), 3, run.stdout)
                for line in run.stdout.splitlines():
                    self.assertRegex(line, FIX)

    def test_print_fixes_acts_only_on_sound_gp_sentences(self):
        cases = [
            # what the pty sends, the line printed for the first fix
            (damaged("GPRMC," + OTHER) + sentence(RMC), SHOWN),
            (b"$GPRMC," + OTHER.encode() + b"\r\n" + sentence(RMC), SHOWN),  # no checksum
            (sentence("GNRMC," + OTHER) + sentence(RMC), SHOWN),  # another talker
            (b"\x00\xff#GP$GPRMC,1111" + sentence(RMC), SHOWN),  # noise and a cut line
            (sentence(RMC).replace(b"\r\n", b"\n"), SHOWN),  # a bare line feed ends it
            (sentence("GPRMC,,V,,,,,,,,,,N"), "time  date  status V lat  - lon  - speed  kn course "),
        ]
        for stream, shown in cases:
            with self.subTest(stream=stream):
                status, out, err = print_fixes_on_pty(stream)
                self.assertEqual(status, 0, err)
                self.assertEqual(out.splitlines(), [shown])

    def test_query_version(self):
        # simulator options, exit status, pattern on stdout (0) or stderr (1)
        for options, status, pattern in [
                ((), 0, r"\Afirmware 01\.05\nkernel 02\.03\nFSA 1\.08\n\Z"),
                (("--fault", "silent"), 1, r"no version reply within 3 s")]:
            with self.subTest(options=options), Sim(SIM, *options) as sim:
                started = time.monotonic()
                run = example("query_version", sim.device)
                self.assertLess(time.monotonic() - started, 10)
                self.assertEqual(run.returncode, status, run.stderr)
                self.assertRegex(run.stdout if status == 0 else run.stderr, pattern)
                self.assertTrue(sim.wait_report(lambda r: r.get("event") == "command" and
                                                r.get("text", "").startswith("$PKVX14"), 2))

    def test_list_ports_names_a_registered_port_while_it_lives(self):
        with tempfile.TemporaryDirectory(prefix="zorvik-examples-") as runtime:
            os.chmod(runtime, 0o700)
            env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
            with subprocess.Popen([SIM, "--port-name", "EXAMPLE7", "--exit-with-parent"],
                                  stdout=subprocess.PIPE, text=True, env=env) as sim:
                while sim.stdout.readline().strip() not in ("ready", ""):
                    pass
                listed = example("list_ports", env=env)
                sim.terminate()
            self.assertEqual(listed.returncode, 0, listed.stderr)
            self.assertIn("EXAMPLE7", listed.stdout.splitlines())
            self.assertNotIn("EXAMPLE7", example("list_ports", env=env).stdout.splitlines())

    def test_failures_are_reported_and_bounded(self):
        missing = "/dev/zorvik-example-missing"
        for program, args, status, pattern in [
                ("print_fixes", [missing], 1, r"cannot open /dev/zorvik-example-missing \(ZORVIK_OPEN_ code 2\)"),
                ("query_version", [missing], 1, r"cannot open .* code 2\)"),
                ("print_fixes", [], 2, r"usage: "),
                ("query_version", [], 2, r"usage: ")]:
            with self.subTest(program=program, args=args):
                run = example(program, *args)
                self.assertEqual(run.returncode, status)
                self.assertRegex(run.stderr, pattern)
        # a pty that stays quiet: the wait for a fix ends
        started = time.monotonic()
        status, _, err = print_fixes_on_pty(b"")
        self.assertEqual(status, 1)
        self.assertIn(": 0 of 1 fixes", err)
        self.assertLess(time.monotonic() - started, 10)


if __name__ == "__main__":
    unittest.main(verbosity=2)
