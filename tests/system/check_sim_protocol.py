#!/usr/bin/python3
"""The simulator's side of the protocols, driven from outside over its pty:
replies, the two-step rate change, what a mismatched rate delivers, sentence
selection, single channel mode, restarts, the boot loader (with Debian's
python3-xmodem as an independent sender) and the VBI input."""

import io
import os
import sys
import time
import unittest

from sim_peer import Line, Sim, sentence

SIM = os.environ.get("ZORVIK_RECEIVER_SIM", "receiver-sim")


def first(lines, prefix):
    for raw in lines:
        if raw.startswith(prefix):
            return raw
    return None


class Replies(unittest.TestCase):
    def setUp(self):
        self.sim = Sim(SIM, "--time-scale", "0.05", "--customer-version", "ACME-77")
        self.line = Line(self.sim.device, 9600)

    def tearDown(self):
        self.line.close()
        self.sim.close()

    def test_version_replies(self):
        self.line.write(sentence("PKVX14,8"))
        reply = first(self.line.lines(3), b"$PKVX100,")
        self.assertIsNotNone(reply)
        fields = reply.split(b"*")[0].split(b",")
        self.assertEqual(len(fields), 10)  # code and nine fields
        self.assertEqual(fields[3:5], [b"01", b"05"])
        self.line.write(sentence("PKVX28,00"))
        self.assertEqual(first(self.line.lines(3), b"$PKVX28,"), sentence("PKVX28,01,ACME-77,")[:-2])

    def test_bad_checksum_is_reported_and_ignored(self):
        self.line.write(b"$PKVX14,8*00\r\n")
        self.assertIsNone(first(self.line.lines(2), b"$PKVX100"))
        rep = self.sim.wait_report(lambda r: r.get("event") == "command", 2)
        self.assertEqual(rep["ok"], False)

    def test_hot_start_reports_version_then_ttff(self):
        self.line.write(sentence("PKVX02,8"))
        got = []
        for raw in self.line.lines(6):
            got.append(raw)
            if raw.startswith(b"$PKVX119,"):
                break
        codes = [g.split(b",")[0] for g in got if g.startswith(b"$PKVX")]
        self.assertEqual(codes[:1], [b"$PKVX100"])
        self.assertEqual(codes[-1], b"$PKVX119")
        seconds = got[-1].split(b",")[1].split(b"*")[0]
        self.assertIn(b".", seconds)
        self.assertTrue(1.0 < float(seconds) < 5.0)

    def test_sentence_selection_and_single_channel(self):
        self.line.write(sentence("PKVX12,7,4,") + sentence("PKVX12,4,0,"))
        time.sleep(1.2)
        window = list(self.line.lines(2.5))
        self.assertIsNotNone(first(window, b"$GPZDA"))
        self.assertIsNone(first(window[2:], b"$GPGSV"))
        self.line.write(sentence("PKVX12,4,4,") + sentence("PKVX08,06"))
        time.sleep(1.2)
        gsv = [g for g in self.line.lines(2.5) if g.startswith(b"$GPGSV")]
        self.assertTrue(gsv)
        self.assertTrue(all(g.startswith(b"$GPGSV,1,1,01,06,") for g in gsv[1:]), gsv)


class RateChange(unittest.TestCase):
    def test_two_step_change_and_mismatch(self):
        with Sim(SIM, "--time-scale", "0.05") as sim:
            line = Line(sim.device, 9600)
            line.write(sentence("PKVX09,2,8"))
            self.assertEqual(first(line.lines(3), b"$PKVX200,"), sentence("PKVX200,9,1")[:-2])
            line.write(sentence("PKVX09,,"))
            self.assertTrue(sim.wait_report(lambda r: r.get("event") == "baud", 2))
            # Still at 9600: only what a UART at the wrong rate delivers.
            time.sleep(0.3)
            junk = b"".join(line.read(0.2) for _ in range(12))
            self.assertTrue(junk)
            self.assertNotIn(b"$", junk)
            self.assertNotIn(b"\n", junk)
            line.write(sentence("PKVX14,8"))  # garbled at the receiver
            self.assertTrue(sim.wait_report(lambda r: r.get("event") == "garbled", 3))
            line.set_rate(115200)
            self.assertIsNotNone(first(line.lines(3), b"$GPRMC"))
            line.write(sentence("PKVX09,2,2"))
            self.assertIsNotNone(first(line.lines(3), b"$PKVX200,9"))
            line.write(sentence("PKVX09,,"))
            self.assertTrue(sim.wait_report(lambda r: r == {"event": "baud", "rate": 9600}, 2))
            line.set_rate(9600)
            got = list(line.lines(3))
            self.assertIsNotNone(first(got, b"$GPRMC"), (got, sim.reports()))
            line.close()

    def test_second_step_without_first_changes_nothing(self):
        with Sim(SIM) as sim:
            line = Line(sim.device, 9600)
            line.write(sentence("PKVX09,,"))
            time.sleep(0.5)
            self.assertIsNotNone(first(line.lines(2.5), b"$GPRMC"))
            self.assertFalse([r for r in sim.reports() if r.get("event") == "baud"])
            line.close()


class BootLoader(unittest.TestCase):
    def run_loader(self, payload, *extra):
        from xmodem import XMODEM
        sim = Sim(SIM, "--time-scale", "0.05", *extra)
        line = Line(sim.device, 9600)
        line.write(sentence("PKVX11,1,0,6,2,1") * 2)
        sim.wait_report(lambda r: r.get("state") == "enter", 2)
        line.set_rate(115200)
        while line.read(0.1):  # what was on the line before the loader went quiet
            pass

        class Gone(Exception):
            pass

        def getc(size, timeout=1):
            data = b""
            deadline = time.monotonic() + timeout
            while len(data) < size and time.monotonic() < deadline:
                try:
                    data += line.read(max(0.0, deadline - time.monotonic()))[: size - len(data)]
                except OSError as e:  # the port vanished
                    raise Gone() from e
            return data or None

        def putc(data, timeout=1):
            try:
                line.write(data)
            except OSError as e:
                raise Gone() from e
            return len(data)

        modem = XMODEM(getc, putc, mode="xmodem1k")
        try:
            ok = modem.send(io.BytesIO(payload), retry=3, timeout=3)
        except Gone:
            ok = False
        return sim, line, ok

    def test_upload_lands_in_image_and_nmea_returns(self):
        payload = bytes((i * 7 + 3) & 0xFF for i in range(3000))
        sim, line, ok = self.run_loader(payload)
        try:
            self.assertTrue(ok)
            done = sim.wait_report(lambda r: r.get("event") == "image", 3)
            self.assertIsNotNone(done)
            with open(sim.image, "rb") as f:
                image = f.read()
            self.assertEqual(image[: len(payload)], payload)
            self.assertEqual(set(image[len(payload):]) - {0x1A}, set())
            line.set_rate(9600)
            self.assertIsNotNone(first(line.lines(3), b"$GPRMC"))
            states = [r["state"] for r in sim.reports() if r.get("event") == "bootloader"]
            self.assertEqual(states[:2], ["enter", "erasing"])
            self.assertEqual(states[-1], "done")
        finally:
            line.close()
            sim.close()

    def test_vanish_mid_transfer(self):
        sim, line, ok = self.run_loader(bytes(8192), "--fault", "vanish-after-blocks=2")
        try:
            self.assertFalse(ok)
            sim.proc.wait(5)
            self.assertNotEqual(sim.proc.returncode, 0)
            blocks = [r for r in sim.reports() if r.get("event") == "block"]
            self.assertEqual(len(blocks), 2)
        finally:
            line.close()
            sim.close()


class VbiInput(unittest.TestCase):
    def test_frames_recorded_and_switch_back(self):
        with Sim(SIM) as sim:
            line = Line(sim.device, 9600)
            line.write(sentence("PKVX11,1,0,1,2,0"))
            self.assertTrue(sim.wait_report(lambda r: r.get("state") == "on", 2))
            frame1 = bytes([0x81, 0xFF, 1, 2, 3, 0, 9, 9, 0xAA, 0x81, 0xFF])
            frame2 = bytes([0x81, 0xFF, 0, 0, 0, 0, 0, 0])
            # Noise (a lone 0x81 among it), a frame split over two writes, an empty frame.
            line.write(b"\x00\x81\x00" + frame1[:5])
            time.sleep(0.1)
            line.write(frame1[5:] + frame2)
            line.write(bytes([0x81, 0xFF, 0x0B, 0x00, 0x02, 0x00, 0xD0, 0xFF, 0x21, 0x02]))
            off = sim.wait_report(lambda r: r.get("state") == "off", 3)
            self.assertIsNotNone(off)
            frames = [r for r in sim.reports() if r.get("event") == "frame"]
            self.assertEqual([f["hex"] for f in frames], [frame1.hex(), frame2.hex()])
            self.assertEqual(frames[0]["skipped"], 3)
            self.assertEqual(frames[0]["length"], 3)
            line.write(sentence("PKVX14,8"))
            self.assertIsNotNone(first(line.lines(3), b"$PKVX100"))
            line.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
