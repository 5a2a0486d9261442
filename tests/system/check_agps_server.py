#!/usr/bin/python3
"""The local A-GPS server: the two fixed requests answered with files in the
receiver's ephemeris formats made for now, everything else 404, and the
failure modes the program's download must survive."""

import http.client
import os
import subprocess
import sys
import time
import unittest
import urllib.parse

SERVER = os.environ.get("ZORVIK_AGPS_SERVER", "agps_server.py")
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(SERVER)))
import agps_server  # noqa: E402

BE_PATH = agps_server.BE_TARGET
LE_PATH = agps_server.LE_TARGET


def frames_of(data, start, end):
    """VBI frames laid back to back in data[start:end]; fails on anything else."""
    frames, q = [], start
    while q < end:
        assert data[q:q + 2] == b"\x81\xff", "no sync at %d" % q
        length = data[q + 4] | data[q + 5] << 8
        assert q + 8 + length <= end, "frame at %d runs past its end" % q
        frames.append(data[q:q + 8 + length])
        q += 8 + length
    return frames


def check_be(data, now):
    assert 2048 <= len(data) <= 8192, len(data)
    i = data.index(b"\n")
    assert i < 18
    t = int(data[i + 1:i + 11])
    assert t <= now <= t + 14400, (t, now)
    p = data.index(b"\x81\xff", i)
    return frames_of(data, p, len(data))


def lte_records(data):
    assert 1024 <= len(data) <= 131072, len(data)
    r = data.index(b"\n") + 1
    assert r <= 18
    records = []
    while r < len(data):
        t = int(data[r:r + 10])
        count = int(data[r + 22:r + 27].split(b";")[0])
        header = 27 if count <= 999 else 28
        frames = frames_of(data, r + header, r + header + count)
        records.append((t, header, frames))
        r += header + count
    assert r == len(data)
    return records


class Server:
    def __init__(self, *args):
        self.proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", *args],
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().split()
        assert line[0] == "listening", line
        self.host, port = line[1].rsplit(":", 1)
        self.port = int(port)

    def get(self, target, timeout=20):
        conn = http.client.HTTPConnection(self.host, self.port, timeout=timeout)
        try:
            conn.request("GET", target)
            resp = conn.getresponse()
            return resp.status, resp.read()
        finally:
            conn.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


class Formats(unittest.TestCase):
    def test_be_file_is_valid_now(self):
        frames = check_be(agps_server.make_be(), agps_server.now_on_scale())
        self.assertGreaterEqual(len(frames), 30)
        self.assertTrue(all(38 <= len(f) <= 88 for f in frames))

    def test_lte_records_span_consecutive_four_hours(self):
        now = agps_server.now_on_scale()
        records = lte_records(agps_server.make_lte(records=8))
        self.assertEqual(len(records), 8)
        t0 = records[0][0]
        self.assertTrue(t0 <= now <= t0 + 14400)
        self.assertEqual([r[0] - t0 for r in records], [k * 14400 for k in range(8)])

    def test_lte_header_widths(self):
        for size in (991, 999, 1000, 1200):
            frames = agps_server.vbi_frame(1, bytes(size - 8))
            record = agps_server.lte_record(1234567890, frames)
            header = 27 if size <= 999 else 28
            self.assertEqual(len(record), header + size)
            self.assertEqual(int(record[22:header].strip(b";\n")), size)

    def test_scale_matches_the_receiver_clock(self):
        # 2009-01-01 00:00:00 UTC is 914803200 s after the GPS epoch.
        self.assertEqual(agps_server.now_on_scale(1230768000), 914803200 + 315964811)

    def test_many_records_stay_within_the_size_limit(self):
        data = agps_server.make_lte(records=500)
        self.assertLessEqual(len(data), 131072)


class Http(unittest.TestCase):
    def test_two_requests_and_404(self):
        with Server() as s:
            status, body = s.get(BE_PATH)
            self.assertEqual(status, 200)
            check_be(body, agps_server.now_on_scale())
            # The request arrives percent-encoded from most clients.
            status, body = s.get(urllib.parse.quote(LE_PATH, safe="/?="))
            self.assertEqual(status, 200)
            self.assertEqual(len(lte_records(body)), 6)
            for other in ("/", "/?RQ=BE", BE_PATH.replace("9387", "9388"), BE_PATH + "x"):
                self.assertEqual(s.get(other)[0], 404, other)

    def test_lte_records_option(self):
        with Server("--lte-records", "3") as s:
            self.assertEqual(len(lte_records(s.get(LE_PATH)[1])), 3)

    def test_broken_sends_half(self):
        with Server("--mode", "broken") as s:
            with self.assertRaises(http.client.IncompleteRead):
                s.get(BE_PATH)

    def test_hang_never_answers(self):
        with Server("--mode", "hang") as s:
            with self.assertRaises(OSError):  # socket.timeout
                s.get(BE_PATH, timeout=1.5)

    def test_slow_dribbles_but_completes(self):
        with Server("--mode", "slow") as s:
            start = time.monotonic()
            status, body = s.get(BE_PATH, timeout=30)
            self.assertEqual(status, 200)
            check_be(body, agps_server.now_on_scale())
            self.assertGreater(time.monotonic() - start, 3.0)

    def test_write_files(self):
        import tempfile
        with tempfile.TemporaryDirectory() as d:
            be, lte = os.path.join(d, "BE.bin"), os.path.join(d, "LTE.bin")
            subprocess.run([sys.executable, SERVER, "--write-be", be, "--write-lte", lte],
                           check=True)
            with open(be, "rb") as f:
                check_be(f.read(), agps_server.now_on_scale())
            with open(lte, "rb") as f:
                lte_records(f.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
