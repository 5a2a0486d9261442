#!/usr/bin/python3
"""zorvik through Debian's ser2net (RFC 2217, loopback) against the same
directly on the simulator's pty: a firmware flash and a stretch of streaming,
as wall time and CPU, and their ratios.

    bench/bench_device_server.py [--build-dir build/default] [--seconds 60]
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "system"))
from sim_peer import Sim  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
IMAGE_SIZE = 481280


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid):
    """User and system CPU of a running process, from /proc."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class Ser2net:
    def __init__(self, device, workdir):
        self.port = free_port()
        config = os.path.join(workdir, "ser2net.yaml")
        with open(config, "w", encoding="ascii") as f:
            f.write(f"connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1,{self.port}\n"
                    f"  connector: serialdev,{device},9600n81,local\n")
        self.proc = subprocess.Popen([shutil.which("ser2net") or "/usr/sbin/ser2net", "-n", "-d",
                                      "-c", config], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                time.sleep(0.3)
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("ser2net did not start")

    def close(self):
        self.proc.kill()
        self.proc.wait()


def run_measured(argv, stop_after=None):
    """Wall seconds and the child's CPU seconds (user + system)."""
    started = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if stop_after is not None:
        time.sleep(stop_after)
        proc.send_signal(signal.SIGINT)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} exited {proc.returncode}")
    return time.monotonic() - started, usage.ru_utime + usage.ru_stime


def measure(zorvik, sim_binary, through_server, seconds, workdir):
    with Sim(sim_binary) as sim:
        server = Ser2net(sim.device, workdir) if through_server else None
        try:
            port = f"rfc2217://127.0.0.1:{server.port}" if server else sim.device
            server_cpu = cpu_seconds(server.proc.pid) if server else 0.0
            image = os.path.join(workdir, "fw.bin")
            flash = run_measured([zorvik, "-p", port, "flash", "--kind", "firmware", image])
            stream = run_measured([zorvik, "-p", port, "record", os.path.join(workdir, "rec.nmea")],
                                  stop_after=seconds)
            server_cpu = (cpu_seconds(server.proc.pid) - server_cpu) if server else 0.0
            with open(sim.image, "rb") as got, open(image, "rb") as sent:
                if got.read() != sent.read():
                    raise RuntimeError("the flashed image differs from the file")
        finally:
            if server:
                server.close()
    return {"flash": flash, "stream": stream, "server_cpu": server_cpu}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default="build/default")
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    zorvik = os.path.join(args.build_dir, "cli", "zorvik")
    sim = os.path.join(args.build_dir, "tools", "receiver-sim", "receiver-sim")
    with tempfile.TemporaryDirectory(prefix="zorvik-bench-net-") as workdir:
        with open(os.path.join(workdir, "fw.bin"), "wb") as f:
            f.write(os.urandom(IMAGE_SIZE))
        direct = measure(zorvik, sim, False, args.seconds, workdir)
        served = measure(zorvik, sim, True, args.seconds, workdir)
    print("| Figure | pty | rfc2217 via ser2net | ratio |")
    print("|---|---:|---:|---:|")
    for key, what in (("flash", f"flash of {IMAGE_SIZE} bytes"),
                      ("stream", f"{args.seconds:g} s of streaming (record)")):
        (t0, c0), (t1, c1) = direct[key], served[key]
        print(f"| {what}: wall time, s | {t0:.2f} | {t1:.2f} | {t1 / t0:.2f} |")
        print(f"| {what}: zorvik CPU, s | {c0:.3f} | {c1:.3f} | {c1 / c0 if c0 else 0:.2f} |")
    print(f"| ser2net CPU over both, s | - | {served['server_cpu']:.3f} | - |")


if __name__ == "__main__":
    main()
