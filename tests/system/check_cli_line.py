#!/usr/bin/python3
"""zorvik as a production line runs it, against receiver simulators on real
pseudo-terminals: several ports in one call, --json records, bounded waits on
a silent receiver or a wrong rate, -b auto, stop signals, the A-GPS fallback
and the exit statuses that go with each."""

import contextlib
import hashlib
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from sim_peer import AgpsServerCase, Sim

ZORVIK = os.environ.get("ZORVIK_CLI", "zorvik")
SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")
AGPS_SERVER = os.environ.get("ZORVIK_AGPS_SERVER", "agps_server.py")
FAST = ("--time-scale", "0.05")
# Short bounds keep the failures quick; the receiver sends an epoch a second.
TIMEOUT = ("--timeout", "1")


def zorvik(*args, timeout=60, cwd=None):
    return subprocess.run([ZORVIK, *args], capture_output=True, text=True, timeout=timeout, cwd=cwd)


def ports_of(sims):
    return [a for sim in sims for a in ("-p", sim.device)]


def records(stdout):
    """The JSON Lines of a run, by port."""
    found = {}
    for line in stdout.splitlines():
        record = json.loads(line)
        found[record["port"]] = record
    return found


def started_sims(*fault_lists):
    stack = contextlib.ExitStack()
    return stack, [stack.enter_context(Sim(SIM, *FAST, *faults)) for faults in fault_lists]


class SeveralPorts(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zorvik-line-")
        self.image = os.path.join(self.dir.name, "fsa.bin")
        data = os.urandom(8192)
        with open(self.image, "wb") as f:
            f.write(data)
        self.sha256 = hashlib.sha256(data).hexdigest()

    def tearDown(self):
        self.dir.cleanup()

    def test_three_flashes_in_one_call(self):
        stack, sims = started_sims([], [], [])
        with stack:
            run = zorvik(*ports_of(sims), "flash", "--kind", "fsa", self.image)
            self.assertEqual(run.returncode, 0, run.stderr)
            devices = {sim.device for sim in sims}
            for line in run.stdout.splitlines() + run.stderr.splitlines():
                self.assertIn(line.split(": ", 1)[0], devices, line)
            for sim in sims:
                own = [l.split(": ", 1)[1] for l in run.stdout.splitlines() if l.startswith(sim.device + ": ")]
                self.assertEqual(own, ["File upload OK!(OK)", "F/W Ver: 1.5", "Kernel Ver: 2.3", "FSA Ver: 1.08"])
                with open(sim.image, "rb") as got, open(self.image, "rb") as sent:
                    self.assertEqual(got.read(), sent.read())

    def test_one_port_vanishes_mid_transfer(self):
        stack, sims = started_sims([], ["--fault", "vanish-after-blocks=3"], [])
        with stack:
            run = zorvik(*ports_of(sims), "--json", "flash", "--kind", "fsa", self.image)
            self.assertEqual(run.returncode, 1, run.stderr)
            found = records(run.stdout)
            self.assertEqual(set(found), {sim.device for sim in sims})
            for sim in sims:
                record = found[sim.device]
                self.assertEqual({k: record[k] for k in ("kind", "bytes", "sha256")},
                                 {"kind": "fsa", "bytes": 8192, "sha256": self.sha256})
                self.assertIsInstance(record["seconds"], float)
                if sim is sims[1]:
                    self.assertFalse(record["ok"])
                    self.assertNotIn("version", record)
                    self.assertIn("Lost %s port: the device is gone" % sim.device, record["error"])
                    self.assertIn("%s: zorvik: %s" % (sim.device, record["error"]), run.stderr)
                else:
                    self.assertTrue(record["ok"], record)
                    self.assertEqual(record["result"], "File upload OK!(OK)")
                    self.assertEqual(record["version"], {"firmware": "1.5", "kernel": "2.3", "fsa": "1.08"})

    def test_a_port_given_twice(self):
        run = zorvik("-p", "COM9", "-p", "COM9", "version")
        self.assertEqual(run.returncode, 2)
        self.assertIn("given twice", run.stderr)


class Listening(unittest.TestCase):
    """A receiver that says nothing valid: every command gives up after the
    timeout, names the port and the rate, and sends nothing."""

    CASES = [
        # simulator arguments, zorvik's rate, how the line fails
        (["--fault", "silent"], "9600", "silent"),
        ([], "4800", "wrong rate"),
    ]
    COMMANDS = [["monitor"], ["record", os.devnull], ["sentences", "GSV=off"], ["send", "PKVX14,8"]]

    def test_gives_up_within_the_timeout(self):
        for sim_args, rate, why in self.CASES:
            with Sim(SIM, *FAST, *sim_args) as sim:
                for command in self.COMMANDS:
                    with self.subTest(why=why, command=command[0]):
                        run = zorvik("-p", sim.device, "-b", rate, *TIMEOUT, *command, timeout=15)
                        self.assertEqual(run.returncode, 1)
                        self.assertIn("receiver on %s at %s bps for 1 s" % (sim.device, rate), run.stderr)
                commands = [r for r in sim.reports() if r.get("event") == "command"]
                self.assertEqual(commands, [])

    @staticmethod
    def whole_epochs(lines):
        """The epochs of a recording that it holds from their RMC to the next RMC."""
        starts = [i for i, line in enumerate(lines) if line.startswith(b"$GPRMC")]
        return [lines[a:b] for a, b in zip(starts, starts[1:])]

    def test_sentence_switch_that_does_not_take(self):
        # A replay keeps sending what it recorded, whatever is switched. The
        # recordings are cut to whole epochs here, so that where a run of the
        # live receiver began and ended within its second does not matter.
        cases = [
            # why, epochs of the recording as played
            ("whole epochs", lambda e: e[0] + e[1] + e[2]),
            ("last epoch cut before its GSV", lambda e: e[0] + e[1] + [l for l in e[2] if b"GSV" not in l]),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            live_recording = os.path.join(tmp, "live.nmea")
            with Sim(SIM, *FAST) as live:
                run = zorvik("-p", live.device, "record", live_recording, "--seconds", "4.5")
                self.assertEqual(run.returncode, 0, run.stderr)
            with open(live_recording, "rb") as f:
                epochs = self.whole_epochs(f.read().splitlines(keepends=True))
            self.assertGreaterEqual(len(epochs), 3)
            for why, played in cases:
                with self.subTest(why=why):
                    recording = os.path.join(tmp, "line.nmea")
                    with open(recording, "wb") as f:
                        f.writelines(played(epochs))
                    with Sim(SIM, "--replay", recording, "--loop") as sim:
                        run = zorvik("-p", sim.device, "sentences", "GSV=off", "GGA=on", timeout=20)
                        self.assertEqual(run.returncode, 1, run.stdout)
                        self.assertEqual(run.stderr.splitlines()[-1],
                                         "zorvik: The receiver on %s did not switch GSV off within 4 epochs"
                                         % sim.device)
                        if why == "whole epochs":
                            run = zorvik("-p", sim.device, "single-channel", "06", timeout=20)
                            self.assertEqual((run.returncode, run.stderr.splitlines()[-1]),
                                             (1, "zorvik: The receiver on %s did not track SV 06 alone within 4 "
                                                 "epochs" % sim.device))


class AutoRate(unittest.TestCase):
    def test_found_at_the_receivers_rate(self):
        for rate in ("4800", "115200"):
            with self.subTest(rate=rate), Sim(SIM, *FAST, "--baud", rate) as sim:
                run = zorvik("-p", sim.device, "-b", "auto", "--json", "version")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertTrue(records(run.stdout)[sim.device]["ok"])
                self.assertIn("zorvik: %s: receiver found at %s bps\n" % (sim.device, rate), run.stderr)

    def test_flash_recovers_a_receiver_left_in_its_boot_loader(self):
        with tempfile.TemporaryDirectory() as tmp, Sim(SIM, "--erase-seconds", "1") as sim:
            image = os.path.join(tmp, "fsa.bin")
            with open(image, "wb") as f:
                f.write(os.urandom(8192))
            # A NAK wait shorter than the erase leaves the receiver in its loader.
            left = zorvik("-p", sim.device, "flash", "--kind", "fsa", image, "--wait-ms", "200")
            self.assertEqual(left.returncode, 1)
            self.assertIn("running the flash again recovers it", left.stderr)
            run = zorvik("-p", sim.device, "-b", "auto", *TIMEOUT, "--json", "flash", "--kind", "fsa", image)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("looking for its boot loader at 115200 bps", run.stderr)
            record = records(run.stdout)[sim.device]
            self.assertEqual(record["version"], {"firmware": "1.5", "kernel": "2.3", "fsa": "1.08"})
            with open(sim.image, "rb") as got, open(image, "rb") as sent:
                self.assertEqual(got.read(), sent.read())

    def test_none_answers(self):
        with Sim(SIM, *FAST, "--fault", "silent") as sim:
            run = zorvik("-p", sim.device, "-b", "auto", *TIMEOUT, "--json", "monitor", timeout=30)
            self.assertEqual(run.returncode, 1)
            self.assertIn("at any rate of 9600, 115200, 38400, 57600, 19200, 4800 bps", run.stderr)
            self.assertFalse(records(run.stdout)[sim.device]["ok"])


class Signals(unittest.TestCase):
    """SIGTERM cancels at the next safe step; a transfer already running ends
    first and the run then counts as done."""

    CASES = [
        # simulator arguments, the report that triggers SIGTERM, exit status, last line on stderr
        (["--fault", "no-nak"], lambda r: r.get("state") == "erasing", 143,
         r"Download cancelled \(Flash is being erased\.\.\.\); the receiver is in its boot loader at 115200 bps"),
        ([], lambda r: r.get("event") == "block", 0,
         r"the cancel came too late: the image was transferred whole; its versions were not read back$"),
    ]

    def test_sigterm_during_a_flash(self):
        with tempfile.NamedTemporaryFile(suffix=".bin") as image:
            image.write(os.urandom(8192))
            image.flush()
            for sim_args, moment, status, last_line in self.CASES:
                with self.subTest(status=status), Sim(SIM, *FAST, *sim_args) as sim:
                    proc = subprocess.Popen([ZORVIK, "-p", sim.device, "flash", "--kind", "fsa", image.name,
                                             "--wait-ms", "30000"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                            text=True)
                    self.assertIsNotNone(sim.wait_report(moment, 10))
                    proc.send_signal(signal.SIGTERM)
                    out, err = proc.communicate(timeout=15)
                    self.assertEqual(proc.returncode, status, err)
                    self.assertRegex(err.splitlines()[-1], last_line)
                    if status == 0:
                        self.assertTrue(out.startswith("File upload OK!(OK)\n"), out)

    def test_monitor_ended_from_outside(self):
        # A hang-up cancels; a reader that leaves the pipe is a failed write. Both say so.
        cases = [
            # how the run is ended, exit status, last line on stderr
            (lambda proc: proc.send_signal(signal.SIGHUP), 129,
             "Monitoring cancelled (SIGHUP: the terminal or session went away)"),
            (lambda proc: proc.stdout.close(), 1, "Cannot write the result to standard output: Broken pipe"),
        ]
        with Sim(SIM, *FAST) as sim:
            for end, status, last_line in cases:
                with self.subTest(status=status):
                    proc = subprocess.Popen([ZORVIK, "-p", sim.device, "monitor"], stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, text=True)
                    self.assertTrue(proc.stdout.readline())
                    end(proc)
                    err = proc.stderr.read()
                    self.assertEqual(proc.wait(timeout=10), status, err)
                    self.assertEqual(err.splitlines()[-1], "zorvik: %s: %s" % (sim.device, last_line))
                    if not proc.stdout.closed:
                        proc.stdout.close()
                    proc.stderr.close()

    def test_sigterm_reaches_every_port(self):
        stack, sims = started_sims([], [])
        with stack:
            proc = subprocess.Popen([ZORVIK, *ports_of(sims), "--json", "send", "PKVX14,8", "--wait", "30"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            for sim in sims:
                self.assertIsNotNone(sim.wait_report(lambda r: r.get("event") == "command", 10))
            proc.send_signal(signal.SIGTERM)
            out, err = proc.communicate(timeout=10)
            self.assertEqual(proc.returncode, 143, err)
            self.assertEqual({port: r["ok"] for port, r in records(out).items()},
                             {sim.device: False for sim in sims})


class Agps(AgpsServerCase):
    SERVER_SCRIPT = AGPS_SERVER

    def setUp(self):
        super().setUp()
        self.file = os.path.join(self.dir.name, "BE.bin")

    def uploads(self, sim):
        return [r for r in sim.reports() if r.get("event") == "vbi" and r.get("state") == "off"]

    def test_fallback_to_the_older_file(self):
        subprocess.run([sys.executable, AGPS_SERVER, "--write-be", self.file], check=True)
        three_hours_ago = time.time() - 3 * 3600
        os.utime(self.file, (three_hours_ago, three_hours_ago))
        cases = [
            # extra arguments, exit status, uploaded, line on stderr
            ([], 1, False, r"A-GPS download failed: .*; the older BE\.bin \(3 h 0 min old\) was not uploaded "
                           r"\(--allow-old uploads it\)$"),
            (["--allow-old"], 0, True, r"A-GPS download failed: .*; uploading the older BE\.bin \(3 h 0 min old\)$"),
        ]
        with Sim(SIM, *FAST) as sim:
            for extra, status, uploaded, line in cases:
                with self.subTest(extra=extra):
                    before = len(self.uploads(sim))
                    run = zorvik("-p", sim.device, "--json", "agps", "be", "--host", "http://127.0.0.1:9", *extra,
                                 cwd=self.dir.name)
                    self.assertEqual(run.returncode, status, run.stderr)
                    record = records(run.stdout)[sim.device]
                    self.assertEqual((record["ok"], record["fresh"], record["age_s"] // 60), (uploaded, False, 180))
                    self.assertTrue(any(re.search(line, l) for l in run.stderr.splitlines()), run.stderr)
                    if uploaded:
                        self.assertIsNotNone(sim.wait_report(lambda r: r.get("state") == "off", 3))
                    self.assertEqual(len(self.uploads(sim)) - before, int(uploaded))

    def test_downloaded_once_for_three_ports(self):
        stack, sims = started_sims([], [], [])
        with stack:
            run = zorvik(*ports_of(sims), "--json", "agps", "be", "--host", self.host, cwd=self.dir.name)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stderr.count("downloading be ephemeris"), 1, run.stderr)
            size = os.path.getsize(self.file)
            self.assertEqual({p: (r["ok"], r["fresh"], r["bytes"]) for p, r in records(run.stdout).items()},
                             {sim.device: (True, True, size) for sim in sims})
            for sim in sims:
                self.assertIsNotNone(sim.wait_report(lambda r: r.get("state") == "off", 3))


class JsonRecords(unittest.TestCase):
    """--json on the commands that set or ask: one object, its port, ok, and
    what was set or received."""

    def test_records(self):
        tmp = tempfile.TemporaryDirectory(prefix="zorvik-json-")
        self.addCleanup(tmp.cleanup)
        recording = os.path.join(tmp.name, "json.nmea")
        cases = [
            # arguments, fields the record holds
            (["version", "--customer"], {"customer": "LINE-CHECK"}),
            (["send", "PKVX14,8", "--wait", "1"], {"sent": "$PKVX14,8*04"}),
            (["sentences", "GLL=on", "GSV=off"], {"sentences": {"GLL": True, "GSV": False}}),
            (["sentences", "GLL=off", "GSV=on"], {"sentences": {"GLL": False, "GSV": True}}),
            (["single-channel", "off"], {"single_channel": "off"}),
            (["restart", "warm"], {"kind": "warm"}),
            (["baud", "57600"], {"baud": 57600}),
            (["-b", "57600", "baud", "9600"], {"baud": 9600}),
            (["record", recording, "--seconds", "1.5"], {"file": recording}),
        ]
        with Sim(SIM, *FAST, "--customer-version", "LINE-CHECK") as sim:
            for args, fields in cases:
                with self.subTest(args=args):
                    run = zorvik("-p", sim.device, "--json", *args)
                    self.assertEqual(run.returncode, 0, run.stderr)
                    record = json.loads(run.stdout)
                    self.assertEqual(list(record)[:2], ["port", "ok"])
                    self.assertEqual((record["port"], record["ok"]), (sim.device, True))
                    self.assertEqual({k: record[k] for k in fields}, fields)
            run = zorvik("-p", sim.device, "--json", "restart", "hot", "--ttff")
            self.assertGreater(json.loads(run.stdout)["ttff_s"], 0)
        with open(recording) as f:
            self.assertEqual(record["sentences"], len(f.readlines()))


class Output(unittest.TestCase):
    def test_closed_standard_descriptors(self):
        # A descriptor closed at start must not become the port: the recording
        # would go into the receiver as commands.
        cases = [
            # arguments, descriptor closed, exit status, line on stderr
            (["record", "-", "--seconds", "2"], 1, 1, "Cannot write the recording to standard output: "),
            (["version"], 1, 1, "Cannot write the result to standard output: "),
            (["version"], 0, 0, ""),
        ]
        with Sim(SIM, *FAST) as sim:
            for args, closed, status, line in cases:
                with self.subTest(args=args, closed=closed):
                    before = len(sim.reports())
                    run = subprocess.run([ZORVIK, "-p", sim.device, *args], capture_output=True, text=True,
                                         timeout=30, preexec_fn=lambda fd=closed: os.close(fd))
                    self.assertEqual(run.returncode, status, run.stderr)
                    self.assertIn(line, run.stderr)
                    commands = [r["text"] for r in sim.reports()[before:] if r.get("event") == "command"]
                    self.assertEqual(commands, [] if args[0] == "record" else ["$PKVX14,8*04"])

    def test_record_keeps_what_it_could_not_replace(self):
        with tempfile.TemporaryDirectory() as tmp, Sim(SIM, *FAST, "--fault", "silent") as sim:
            kept = os.path.join(tmp, "kept.nmea")
            with open(kept, "w") as f:
                f.write("$GPRMC,earlier recording\n")
            cases = [
                # FILE, line on stderr
                (kept, "No valid NMEA sentences"),
                (os.path.join(tmp, "nodir", "x.nmea"), "Cannot write %s: No such file or directory"
                 % os.path.join(tmp, "nodir", "x.nmea")),
                (tmp, "Cannot write %s: Is a directory" % tmp),
            ]
            for path, line in cases:
                with self.subTest(path=path):
                    run = zorvik("-p", sim.device, *TIMEOUT, "record", path, "--seconds", "2")
                    self.assertEqual(run.returncode, 1)
                    self.assertIn(line, run.stderr)
            with open(kept) as f:
                self.assertEqual(f.read(), "$GPRMC,earlier recording\n")
            self.assertEqual(sorted(os.listdir(tmp)), ["kept.nmea"])

    def test_result_that_cannot_be_written(self):
        with Sim(SIM, *FAST) as sim, open("/dev/full", "w") as full:
            run = subprocess.run([ZORVIK, "-p", sim.device, "version"], stdout=full, stderr=subprocess.PIPE,
                                 text=True, timeout=30)
            self.assertEqual(run.returncode, 1)
            self.assertIn("Cannot write the result to standard output", run.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
