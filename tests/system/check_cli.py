#!/usr/bin/python3
"""zorvik, the service command line, against the receiver simulator and the
local A-GPS server: each command on its success path and on its main failure,
exit status 0/1/2, the recording against Debian's pynmea2, the flashed image
and the uploaded frames against their files."""

import functools
import json
import operator
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pynmea2

from sim_peer import AgpsServer, AgpsServerCase, Sim

ZORVIK = os.environ.get("ZORVIK_CLI", "zorvik")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")
AGPS_SERVER = os.environ.get("ZORVIK_AGPS_SERVER", "agps_server.py")
FAST = ("--time-scale", "0.05")


def zorvik(device, *args, timeout=60, cwd=None):
    return subprocess.run([ZORVIK, "-p", device, *args], capture_output=True, text=True,
                          timeout=timeout, cwd=cwd)


def commands(sim):
    return [r["text"] for r in sim.reports() if r.get("event") == "command"]


def wait_command(sim, after, prefix, timeout=3):
    """Commands the simulator reported after the first `after`, once one starts
    with prefix (a command without a reply may still be on its way)."""
    deadline = time.monotonic() + timeout
    while True:
        new = commands(sim)[after:]
        if any(c.startswith(prefix) for c in new) or time.monotonic() > deadline:
            return new
        time.sleep(0.05)


def vbi_frames(data, start):
    """The frames of an ephemeris file from `start` on: sync 0x81 0xFF, the
    payload length at bytes 4-5, 8 bytes plus the payload; other bytes skipped."""
    frames, q = [], start
    while q + 4 < len(data):
        if data[q] == 0x81 and data[q + 1] == 0xFF:
            size = 8 + data[q + 4] + 256 * data[q + 5]
            frames.append(data[q:q + size].hex())
            q += size
        else:
            q += 1
    return frames


class Commands(unittest.TestCase):
    """One simulator, the commands in turn (the order keeps its state known)."""

    @classmethod
    def setUpClass(cls):
        cls.sim = Sim(SIM, *FAST, "--customer-version", "CLI-CHECK")

    @classmethod
    def tearDownClass(cls):
        cls.sim.close()

    def test_commands(self):
        dev = self.sim.device
        cases = [
            # args, exit status, pattern on stdout (0) or stderr (1, 2), last command the receiver got
            (["version"], 0, r"F/W Ver: 1\.5\nKernel Ver: 2\.3\nFSA Ver: 1\.08", "$PKVX14,8*"),
            (["version", "--customer"], 0, r"Customer FW Version : CLI-CHECK", "$PKVX28,00*"),
            (["send", "PKVX14,8", "--wait", "2"], 0, r"(?m)^\$PKVX100,.*\*[0-9A-F]{2}$", "$PKVX14,8*04"),
            (["send", "$PKVX14,8*04"], 0, r"sent \$PKVX14,8\*04", "$PKVX14,8*04"),
            (["send", "$PKVX*14,8"], 1, r"^zorvik: \S+: Please key in '\$\.\.\.\.\.\.\.,\*'", None),
            (["send", "$PKVX14\r\n$PKVX02,5C"], 1, r"Please key in", None),
            (["sentences", "GSV=off", "gll=on"], 0, r"GSV off\nGLL on", "$PKVX12,2,4,*"),
            (["sentences", "GSV=on", "GLL=off"], 0, r"GSV on\nGLL off", "$PKVX12,2,0,*"),
            (["sentences", "FOO=on"], 2, r"Not a sentence setting: FOO=on", None),
            (["sentences", "GGA=maybe"], 2, r"GGA=maybe", None),
            (["single-channel", "06"], 0, r"SV 06", "$PKVX08,06*"),
            (["single-channel", "off"], 0, r"off", "$PKVX08,,*"),
            (["single-channel", "6"], 1, r"^zorvik: \S+: Please key-in correct SV Id!$", None),
            (["single-channel", "0*"], 1, r"Please key-in correct SV Id!", None),
            (["restart", "warm"], 0, r"Receiver restarted \(warm start\)", "$PKVX02,48*"),
            (["restart", "hot", "--ttff"], 0, r"TTFF Time \(sec\) : \d+\.\d$", "$PKVX02,8*"),
            (["restart", "lukewarm"], 2, r"lukewarm", None),
            (["monitor", "--count", "2"], 0, r"^(\d\d : \d\d : \d\d .*sats \d+/\d+\n){2}$", None),
            (["--baud", "12345", "version"], 2, r"12345", None),
            (["baud", "12345"], 2, r"12345", None),
            (["flash", "--kind", "firmware"], 2, r"FILE", None),
            (["-p", "COM9", "monitor"], 2, r"monitor takes one port", None),
            (["-b", "auto", "ports", "-p", "COM9"], 2, r"ports takes one port", None),
            (["bogus"], 2, r"^zorvik: bogus is not a command; the commands are ports, monitor, record", None),
            (["send", "PKVX14,8*FF"], 1, r"Please key in .* \(the checksum FF does not match the text, whose "
                                          r"checksum is 04\)$", None),
            (["sentences", "GSV=on", "gsv=off"], 2, r"GSV is given more than once", None),
            (["single-channel", "00"], 2, r"00 is no satellite a receiver tracks: 01 to 32 \(GPS\), 33 to 64", None),
            (["single-channel", "99"], 2, r"99 is no satellite", None),
            (["--timeout", "nan", "version"], 2, r"nan is not a number of seconds above 0 and at most 3600\n", None),
            (["--timeout", "1e10", "version"], 2, r"1e10 is not a number of seconds above 0 and at most 3600\n", None),
            (["monitor", "--seconds", "inf"], 2, r"inf is not a number of seconds above 0 and at most 31622400\n",
             None),
            (["send", "PKVX14,8", "--wait", "-1"], 2, r"-1 is not a number of seconds from 0 to 3600\n", None),
            (["flash", "--kind", "fsa", "/nonexistent.bin"], 1,
             r"File is not selected!\(NG\) \(/nonexistent\.bin: no such file\)$", None),
            (["flash", "--kind", "fsa", "/"], 1, r"File is not selected!\(NG\) \(/: a directory\)$", None),
        ]
        for args, status, pattern, sent in cases:
            with self.subTest(args=args):
                before = len(commands(self.sim))
                run = zorvik(dev, *args)
                self.assertEqual(run.returncode, status, run.stderr)
                out = run.stdout if status == 0 else run.stderr
                self.assertRegex(out.rstrip("\n") if status else out, pattern)
                if status == 1:
                    self.assertEqual(len(out.splitlines()), 1, out)
                if sent:
                    new = wait_command(self.sim, before, sent)
                    self.assertTrue(any(c.startswith(sent) for c in new), new)
                elif status:
                    self.assertEqual(commands(self.sim)[before:], [])

    def test_json_monitor_keys(self):
        run = zorvik(self.sim.device, "--json", "monitor", "--count", "1")
        self.assertEqual(run.returncode, 0, run.stderr)
        epoch = json.loads(run.stdout)
        self.assertEqual(list(epoch), ["port", "time", "date", "valid", "fix", "lat", "lon", "alt_m",
                                       "speed_kmh", "heading_deg", "hdop", "vdop", "satellites",
                                       "checksum_dropped"])
        self.assertEqual(epoch["port"], self.sim.device)
        self.assertRegex(epoch["time"], r"^\d\d:\d\d:\d\d$")
        self.assertRegex(epoch["date"], r"^20\d\d-\d\d-\d\d$")
        for sat in epoch["satellites"]:
            self.assertEqual(set(sat), {"prn", "elevation", "azimuth", "cn0", "status"})
            self.assertIn(sat["status"], {"Search", "Track", "PVT"})


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().decode("ascii").splitlines(keepends=True)


def by_time(lines, kind):
    """pynmea2's reading of each `kind` sentence, by its time field."""
    found = {}
    for line in lines:
        if line.startswith("$GP" + kind):
            msg = pynmea2.parse(line.strip())
            found[line.split(",")[1]] = msg
    return found


class Replay(unittest.TestCase):
    """A recording replayed by the simulator: the same sentences come back, and
    monitor --json shows what pynmea2 reads in the recorded RMC and GGA."""

    LOG = os.path.join(os.environ.get("ZORVIK_NMEA_LOG_DIR", ""), "fix-loss-3d-2d-none.nmea")

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zorvik-replay-")
        self.recording = os.path.join(self.dir.name, "session.nmea")

    def tearDown(self):
        self.dir.cleanup()

    def record(self, device, path, seconds):
        run = zorvik(device, "record", path, "--seconds", str(seconds))
        self.assertEqual(run.returncode, 0, run.stderr)
        lines = read_lines(path)
        self.assertEqual(run.stdout, "%d sentences recorded\n" % len(lines))
        return lines

    def check_monitor(self, device, recorded):
        rmc, gga = by_time(recorded, "RMC"), by_time(recorded, "GGA")
        run = zorvik(device, "--json", "monitor", "--count", "3")
        self.assertEqual(run.returncode, 0, run.stderr)
        epochs = [json.loads(line) for line in run.stdout.splitlines()]
        self.assertEqual(len(epochs), 3)
        for epoch in epochs:
            key = next(t for t in rmc if t[:6] == epoch["time"].replace(":", ""))
            r = rmc[key]
            self.assertEqual(epoch["date"], r.datestamp.isoformat() if r.datestamp else "")
            self.assertEqual(epoch["valid"], r.status == "A")
            self.assertReceived(epoch["speed_kmh"], r.spd_over_grnd, 2, 1.852)
            self.assertReceived(epoch["heading_deg"], r.true_course, 3)
            if epoch["lat"] is not None:
                self.assertAlmostEqual(epoch["lat"], r.latitude, places=6)
                self.assertAlmostEqual(epoch["lon"], r.longitude, places=6)
            if key in gga:
                self.assertReceived(epoch["alt_m"], gga[key].altitude, 3)
        return epochs

    def assertReceived(self, shown, field, places, scale=1.0):
        """A field the receiver left empty (None to pynmea2) is null, never 0."""
        if field is None:
            self.assertIsNone(shown)
        else:
            self.assertAlmostEqual(shown, float(field) * scale, places=places)

    def test_simulator_session_recorded_and_replayed(self):
        with Sim(SIM, *FAST) as sim:
            recorded = self.record(sim.device, self.recording, 4)
        self.assertGreaterEqual(len(by_time(recorded, "RMC")), 3)
        for line in recorded:
            self.assertTrue(line.startswith("$") and line.endswith("\r\n"), line)
            pynmea2.parse(line.strip(), check=True)
        with Sim(SIM, "--replay", self.recording, "--loop") as sim:
            replayed = self.record(sim.device, os.path.join(self.dir.name, "again.nmea"), 3)
            looped = recorded * 3
            start = looped.index(replayed[0])
            self.assertEqual(replayed, looped[start:start + len(replayed)])
            self.check_monitor(sim.device, recorded)

    def test_real_log_replayed(self):
        with Sim(SIM, "--replay", self.LOG) as sim:
            epochs = self.check_monitor(sim.device, read_lines(self.LOG))
        self.assertTrue(all(e["lat"] is not None for e in epochs))  # the log starts with a fix

    def test_empty_fields_replayed(self):
        log = os.path.join(os.path.dirname(self.LOG), "long-run-empty-fields.nmea")
        with Sim(SIM, "--replay", log) as sim:
            epochs = self.check_monitor(sim.device, read_lines(log))  # starts without a fix
            self.assertTrue(all(e["hdop"] is None and e["vdop"] is None for e in epochs))
            line = zorvik(sim.device, "monitor", "--count", "1").stdout
        self.assertNotIn("0.0", line)


class HostileInput(unittest.TestCase):
    """Garbage on the line: monitor keeps going and its JSON stays valid."""

    BODIES = [
        b"GPRMC,\xff\xfe1234.00,A,4724.1805,N,00835.3353,E,1.70,47.49,081226,,,A",
        b"GPGGA," + b"9" * 600,
        b"GPGSV,3,9,99,999,-5,400,999",
        b"GPGSA,A,3,1,2,3,4,5,6,7,8,9,10,11,12,13,14,nan,inf,1e999",
        b"GPRMC,120000.00,A,9999.9999,N,99999.9999,W,1e308,,311299,,,A",
    ]
    LINES = [b"$%s*%02X\r\n" % (body, functools.reduce(operator.xor, body, 0)) for body in BODIES]
    LINES.append(b"\x00\x81\xff$\r\n$GPRMC*\r\n")

    def test_monitor_survives(self):
        master, slave = os.openpty()
        path = os.ttyname(slave)
        os.close(slave)
        try:
            proc = subprocess.Popen([ZORVIK, "-p", path, "--json", "monitor", "--count", "2"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 15
            while proc.poll() is None and time.monotonic() < deadline:
                for line in self.LINES:
                    os.write(master, line)
                time.sleep(0.3)
            out, err = proc.communicate(timeout=5)
        finally:
            os.close(master)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(len([json.loads(line) for line in out.splitlines()]), 2)


class NoisyLine(unittest.TestCase):
    """One sentence in eight hit by one bit on the way, its checksum that of
    what was sent: monitor shows only values the receiver sent, and counts
    per epoch the lines it dropped."""

    def test_hit_sentences_are_never_shown(self):
        count = 12
        with Sim(SIM, "--fault", "bitflip", "--seed", "7") as sim:
            run = zorvik(sim.device, "--json", "monitor", "--count", str(count))
            ended = time.time()
            hits = [r for r in sim.reports() if r.get("event") == "bitflip"]
        self.assertEqual(run.returncode, 0, run.stderr)
        epochs = [json.loads(line) for line in run.stdout.splitlines()]
        self.assertEqual(len(epochs), count)
        now = ended % 86400
        for e in epochs:
            h, m, sec = (int(part) for part in e["time"].split(":"))
            age = (now - (h * 3600 + m * 60 + sec)) % 86400
            self.assertLess(age, count + 5, e)  # an hour 10 hit into 14 is not shown
            if e["lat"] is not None:  # the simulator's position
                self.assertTrue(47.3 <= e["lat"] <= 47.5 and 8.4 <= e["lon"] <= 8.6, e)
            if e["alt_m"] is not None:
                self.assertTrue(300 <= e["alt_m"] <= 600, e)
        dropped = sum(e["checksum_dropped"] for e in epochs)
        self.assertGreater(dropped, 0)
        self.assertLessEqual(dropped, len(hits))


class PortProblems(unittest.TestCase):
    def test_absent_port_says_which_and_why(self):
        run = zorvik("/dev/zorvik-no-such-port", "version")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr, "zorvik: Cannot open /dev/zorvik-no-such-port port ! "
                                     "(/dev/zorvik-no-such-port: no such device)\n")

    def test_port_held_by_another_program(self):
        with Sim(SIM, *FAST) as sim:
            holder = subprocess.Popen([ZORVIK, "-p", sim.device, "record", os.devnull, "--seconds", "10"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                time.sleep(1)
                run = zorvik(sim.device, "version")
            finally:
                holder.send_signal(signal.SIGINT)
                holder.wait(10)
            self.assertEqual(run.returncode, 1)
            self.assertIn("in use by another program", run.stderr)

    def test_receiver_vanishes_while_monitored(self):
        with Sim(SIM, *FAST, "--fault", "vanish-after-seconds=1.5") as sim:
            run = zorvik(sim.device, "monitor", timeout=20)
            self.assertEqual(run.returncode, 1)
            self.assertEqual(run.stderr.splitlines()[-1], "zorvik: Lost %s port: the device is gone" % sim.device)

    def test_silent_receiver(self):
        with Sim(SIM, *FAST, "--fault", "silent") as sim:
            run = zorvik(sim.device, "monitor", "--seconds", "1.5")
            self.assertEqual(run.returncode, 1)
            self.assertIn("No valid NMEA sentences from the receiver on %s at 9600 bps" % sim.device, run.stderr)


class Ports(unittest.TestCase):
    def test_registered_port_is_listed_and_opens_by_name(self):
        name = "ZCLI%d" % os.getpid()
        proc = subprocess.Popen([SIM, "--port-name", name, "--exit-with-parent", *FAST],
                                stdout=subprocess.PIPE, text=True)
        try:
            while "ready" not in proc.stdout.readline():
                pass
            listed = subprocess.run([ZORVIK, "ports"], capture_output=True, text=True, timeout=10)
            self.assertEqual(listed.returncode, 0)
            self.assertIn(name, listed.stdout.splitlines())
            self.assertEqual(zorvik(name, "version").returncode, 0)
        finally:
            proc.terminate()
            proc.wait(5)
            proc.stdout.close()


class BaudRate(unittest.TestCase):
    def test_there_and_back(self):
        with Sim(SIM, *FAST) as sim:
            for old, new in (("9600", "115200"), ("115200", "4800"), ("4800", "9600")):
                with self.subTest(new=new):
                    run = zorvik(sim.device, "-b", old, "baud", new)
                    self.assertEqual((run.returncode, run.stdout), (0, "Receiver now at %s bps\n" % new),
                                     run.stderr)
                    self.assertEqual(zorvik(sim.device, "-b", new, "version").returncode, 0)

    def test_receiver_that_ignores_the_command(self):
        # Sentences arrive, the command is sent, but no acknowledgement comes:
        # the rate is not claimed and the receiver stays where it was.
        with Sim(SIM, *FAST, "--fault", "deaf") as sim:
            run = zorvik(sim.device, "baud", "38400")
            self.assertEqual((run.returncode, run.stdout), (1, ""))
            self.assertIn("No acknowledgement of the baud rate command from the receiver on %s "
                          "at 9600 bps" % sim.device, run.stderr)
            self.assertEqual(zorvik(sim.device, "-b", "9600", "monitor", "--seconds", "2").returncode,
                             0)

    def test_no_acknowledgement(self):
        with Sim(SIM, *FAST) as sim:
            # At a wrong rate nothing valid arrives, so the command is not sent.
            run = zorvik(sim.device, "-b", "19200", "--timeout", "1", "baud", "9600")
            self.assertEqual(run.returncode, 1)
            self.assertIn("at 19200 bps for 1 s: the rate may be wrong", run.stderr)


class Flash(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zorvik-flash-")
        self.image = os.path.join(self.dir.name, "fsa.bin")
        with open(self.image, "wb") as f:
            f.write(os.urandom(8192))

    def tearDown(self):
        self.dir.cleanup()

    def test_image_identical_to_file(self):
        with Sim(SIM, *FAST) as sim:
            run = zorvik(sim.device, "flash", "--kind", "fsa", self.image)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertRegex(run.stderr, r"Flash is being erased\.\.\.\n")
            self.assertRegex(run.stderr, r"100%  8192/8192 bytes")
            self.assertEqual(run.stdout, "File upload OK!(OK)\nF/W Ver: 1.5\nKernel Ver: 2.3\nFSA Ver: 1.08\n")
            with open(sim.image, "rb") as got, open(self.image, "rb") as sent:
                self.assertEqual(got.read(), sent.read())
            self.assertEqual(zorvik(sim.device, "version").returncode, 0)  # back at the NMEA rate

    def test_wrong_size_and_no_nak(self):
        with Sim(SIM, *FAST, "--fault", "no-nak") as sim:
            run = zorvik(sim.device, "flash", "--kind", "kernel", self.image)
            self.assertEqual((run.returncode, run.stderr),
                             (1, "zorvik: %s: Flash Kernel size is not correct!(NG)\n" % sim.device))
            run = zorvik(sim.device, "flash", "--kind", "fsa", self.image, "--wait-ms", "500")
            self.assertEqual(run.returncode, 1)
            self.assertRegex(run.stderr.splitlines()[-1], r"^zorvik: %s: Waiting NAK Timeout\.\.\.; the receiver is "
                             r"in its boot loader at 115200 bps .*running the flash again recovers it$" % sim.device)

    def test_receiver_vanishes_during_the_erase(self):
        # Nothing is left in a boot loader when the device went away.
        with Sim(SIM, "--erase-seconds", "20", "--fault", "vanish-after-seconds=3") as sim:
            run = zorvik(sim.device, "flash", "--kind", "fsa", self.image, "--wait-ms", "4000")
            self.assertEqual(run.returncode, 1)
            self.assertEqual(run.stderr.splitlines()[-1], "zorvik: Waiting NAK Timeout...; Lost %s port: the device "
                             "is gone (once it is back, running the flash again recovers a receiver left in its "
                             "boot loader)" % sim.device)

    def test_first_ctrl_c_warns_second_cancels(self):
        with Sim(SIM, *FAST, "--fault", "no-nak") as sim:
            proc = subprocess.Popen([ZORVIK, "-p", sim.device, "flash", "--kind", "fsa", self.image,
                                     "--wait-ms", "30000"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            self.assertIsNotNone(sim.wait_report(lambda r: r.get("state") == "erasing", 10))
            proc.send_signal(signal.SIGINT)
            time.sleep(0.5)
            self.assertIsNone(proc.poll())
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=10)
            self.assertEqual(proc.returncode, 130)
            self.assertIn("Flash would be damaged! Are you sure?", err)
            self.assertIn("cancelled", err.splitlines()[-1])


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def write_be(path, *age):
    """A broadcast ephemeris file: valid now, or of the server's --age."""
    subprocess.run([sys.executable, AGPS_SERVER, *age, "--write-be", path], check=True)


class Agps(AgpsServerCase):
    SERVER_SCRIPT = AGPS_SERVER

    def test_frames_equal_the_file(self):
        with Sim(SIM, *FAST) as sim:
            run = zorvik(sim.device, "agps", "be", "--host", self.host, cwd=self.dir.name)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertTrue(run.stdout.endswith("BE file update OK!\n"))
            with open(os.path.join(self.dir.name, "BE.bin"), "rb") as f:
                data = f.read()
            self.assertIsNotNone(sim.wait_report(lambda r: r.get("state") == "off", 3))
            sent = [r["hex"] for r in sim.reports() if r.get("event") == "frame"]
            expected = vbi_frames(data, data.index(b"\n") + 1)
            self.assertEqual(sent, expected)
            self.assertEqual([r["state"] for r in sim.reports() if r.get("event") == "vbi"], ["on", "off"])
            run = zorvik(sim.device, "agps", "lte", "--host", self.host, cwd=self.dir.name)
            self.assertEqual(run.returncode, 0, run.stderr)

    def test_refused_answer_keeps_the_older_file(self):
        # An error page served with 200, or a well-formed file the upload would
        # find nothing valid in now: not saved, said so, the older file
        # uploaded only when asked for.
        older = os.path.join(self.dir.name, "BE.bin")
        subprocess.run([sys.executable, AGPS_SERVER, "--write-be", older], check=True)
        with open(older, "rb") as f:
            before = f.read()
        answers = [
            # how the answer is made, why it is refused
            (lambda path: write_file(path, b"<html><body>Service unavailable</body></html>\n"),
             "is not a broadcast ephemeris file (46 bytes, fewer than 2048)"),
            (lambda path: write_be(path, "--age", str(5 * 3600)),
             "is a broadcast ephemeris file not valid now (its four hours have passed)"),
            (lambda path: write_be(path, "--age", str(-30 * 86400)),
             "is a broadcast ephemeris file not valid now (its four hours have not begun)"),
        ]
        for make, why in answers:
            with self.subTest(why=why), tempfile.TemporaryDirectory() as tmp:
                answer = os.path.join(tmp, "answer")
                make(answer)
                with AgpsServer(AGPS_SERVER, "--answer", answer) as server, Sim(SIM, *FAST) as sim:
                    refused = zorvik(sim.device, "agps", "be", "--host", server.host, cwd=self.dir.name)
                    run = zorvik(sim.device, "agps", "be", "--host", server.host, "--allow-old", cwd=self.dir.name)
                    self.assertIsNotNone(sim.wait_report(lambda r: r.get("state") == "off", 3))
                    sent = [r["hex"] for r in sim.reports() if r.get("event") == "frame"]
                kept = "BE.bin kept: the answer " + why
                self.assertEqual(refused.returncode, 1)
                self.assertIn(kept + "; the older BE.bin (", refused.stderr)
                self.assertIn(kept + "; uploading the older BE.bin (", run.stderr)
                self.assertNotIn("Saved", run.stdout)
                self.assertTrue(run.stdout.endswith("BE file update OK!\n"), run.stdout)
                with open(older, "rb") as f:
                    self.assertEqual(f.read(), before)
                self.assertEqual(os.listdir(self.dir.name), ["BE.bin"])
                self.assertEqual(sent, vbi_frames(before, before.index(b"\n") + 1))

    def test_receiver_that_takes_nothing(self):
        # The frames fit into the port's buffer; only the receiver's answer
        # after the switch back shows whether it heard anything.
        write_be(os.path.join(self.dir.name, "BE.bin"))
        with Sim(SIM, *FAST, "--fault", "deaf") as sim:
            run = zorvik(sim.device, "--timeout", "2", "agps", "be", "--no-download", cwd=self.dir.name)
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.stderr.splitlines()[-1],
                         "zorvik: BE file update failed!(NG): the receiver on %s did not answer after the switch "
                         "back to NMEA input" % sim.device)

    def test_server_down_without_file(self):
        with Sim(SIM, *FAST) as sim:
            run = zorvik(sim.device, "agps", "be", "--host", "http://127.0.0.1:9", cwd=self.dir.name)
            self.assertEqual(run.returncode, 1)
            self.assertTrue(run.stderr.splitlines()[-1].startswith("zorvik: %s: No BE file existing!" % sim.device),
                            run.stderr)
            self.assertEqual(os.listdir(self.dir.name), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
