"""Benchmarks of the launch report under Wine (part of scripts/bench).

  launch with report / bare start    time from the launcher's start to the
                                     host's start with the report answered by
                                     a local server, as a ratio to the bare
                                     shell start of the host      target <= 1.5
  worst delay, stalled server        the slowest host start when the server
                                     accepts and never answers    target <= 5 s
  first identity derivation          from the adapter library's load to
                                     WinINet's load in one fresh process
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import harness  # noqa: E402
from report_server import Answer, Stall, refused_proxy, wait_for_file  # noqa: E402

LOADED = re.compile(r"^(\d+\.\d+):\S*loaddll:\S* Loaded L\"[^\"]*\\\\([^\\\"]+)\"", re.MULTILINE)
CASE = "C:\\bench\\report"
HOST = CASE + "\\host\\TarnixHost.exe"
APP = CASE + "\\app"
ARGS = ["--appname=bench", "--appwindowsize=800x600"]


class Bench:
    def __init__(self, wine):
        self.wine = wine
        self.work = tempfile.mkdtemp(prefix="tarnix-bench-")
        self.host_log = os.path.join(self.work, "host.log")
        shutil.rmtree(self.wine.unix_path(CASE), ignore_errors=True)
        os.makedirs(os.path.dirname(self.wine.unix_path(HOST)))
        os.makedirs(self.wine.unix_path(APP))
        shutil.copy(os.path.join(harness.PROGRAMS, "fake_host.exe"), self.wine.unix_path(HOST))
        self.wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", HOST)
        self.wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix",
                          "DisplayVersion", "1.0.0.78")

    def host_start(self, program, args, env=None):
        """Seconds from the program's start to the host's, and its stderr."""
        if os.path.exists(self.host_log):
            os.remove(self.host_log)
        merged = {"TARNIX_FAKE_HOST_LOG": "Z:" + self.host_log.replace("/", "\\")}
        merged.update(env or {})
        process = self.wine.start(program, args, cwd=self.wine.unix_path(APP), env=merged)
        started = wait_for_file(self.host_log, timeout=60, interval=0.002)
        _, stderr = process.communicate(timeout=60)
        if started is None:
            raise RuntimeError("the host did not start")
        return started, stderr

    def launch(self, proxy, env=None):
        merged = {"http_proxy": proxy}
        merged.update(env or {})
        return self.host_start(harness.LAUNCHER, ARGS, merged)

    def bare(self):
        """The baseline: only the shell start of the host (or, without that
        helper, a launch whose report connection is refused at once)."""
        program = os.path.join(harness.PROGRAMS, "bare_start.exe")
        if not os.path.exists(program):
            return self.launch(refused_proxy())[0]
        return self.host_start(program, [HOST, f"--load-apps={APP} --tarnix-host-window-size=800x600 --no-sandbox"])[0]

    def derivation_ms(self, proxy):
        """The first identity derivation of one process, from Wine's load trace."""
        _, trace = self.launch(proxy, env={"WINEDEBUG": "+timestamp,+loaddll"})
        loads = [(float(stamp), name.lower()) for stamp, name in LOADED.findall(trace)]
        begin = min(t for t, name in loads if name in ("iphlpapi.dll", "nsi.dll", "dnsapi.dll"))
        end = min(t for t, name in loads if name == "wininet.dll")
        return (end - begin) * 1000

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def run(wine, runs, figure):
    """Measures and prints the report's figures in the prefix of `wine`."""
    bench = Bench(wine)
    try:
        with harness.serving() as server:
            server.routes["/report"] = Answer()
            bench.launch(server.proxy)  # warm-up
            bare, local = [], []
            for _ in range(runs):  # interleaved, so drift hits both alike
                local.append(bench.launch(server.proxy)[0])
                bare.append(bench.bare())
            derivations = [bench.derivation_ms(server.proxy) for _ in range(runs)]
        with harness.serving() as server:
            stall = Stall()
            server.routes["/report"] = stall
            try:
                stalled = [bench.launch(server.proxy)[0] for _ in range(max(2, runs // 2))]
            finally:
                stall.release()
    finally:
        bench.close()

    print(f"launcher with report (local server) to host start: median {statistics.median(local) * 1000:.1f} ms;"
          f" bare start {statistics.median(bare) * 1000:.1f} ms ({runs} runs each)")
    figure("ratio launch with report / bare start", statistics.median(local) / statistics.median(bare), 1.5)
    figure("worst host start with a stalled statistics server, s", max(stalled), 5.0)
    print(f"first identity derivation in a process: median {statistics.median(derivations):.1f} ms"
          f" (min {min(derivations):.1f}, max {max(derivations):.1f}; from Wine's load trace)")
