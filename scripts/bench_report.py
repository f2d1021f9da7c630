"""Benchmarks of the launch report under Wine (part of scripts/bench).

  launch / bare start                time from the launcher's start to the
                                     host's start, as a ratio to a program
                                     that makes only the same shell call, for
                                     a statistics server that answers at once,
                                     one that answers after 300 ms (a distant
                                     server) and none reachable; all runs
                                     interleaved in one loop  target <= 1.1 each
                                     (printed beside it: the floor of any
                                     launch, the same program with the
                                     work-area query, a COM apartment and the
                                     shell start made synchronously)
  launch / floor                     the same starts as a ratio to the floor
                                     program, for the same three kinds of
                                     statistics server       target <= 1.1 each
  launcher's end, stalled server     the slowest time from the host's start to
                                     the launcher's end when the server
                                     accepts and never answers  target <= the
                                     report's 10 s budget plus Wine's start-up
  first identity derivation          from the adapter library's load to
                                     WinINet's load in one fresh process
"""

import os
import re
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import harness  # noqa: E402
from report_server import Answer, Delayed, Stall, wait_for_file  # noqa: E402

LOADED = re.compile(r"^(\d+\.\d+):\S*loaddll:\S* Loaded L\"[^\"]*\\\\([^\\\"]+)\"", re.MULTILINE)
CASE = "C:\\bench\\report"
HOST = CASE + "\\host\\TarnixHost.exe"
APP = CASE + "\\app"
ARGS = ["--appname=bench", "--appwindowsize=800x600"]
BUDGET = 10.0  # seconds the launcher stays for its report at most


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

    def run(self, program, args, env=None):
        """Seconds from the program's start to the host's start and to the
        program's end, and its stderr."""
        if os.path.exists(self.host_log):
            os.remove(self.host_log)
        merged = {"TARNIX_FAKE_HOST_LOG": "Z:" + self.host_log.replace("/", "\\")}
        merged.update(env or {})
        begin = time.perf_counter()
        process = self.wine.start(program, args, cwd=self.wine.unix_path(APP), env=merged)
        started = wait_for_file(self.host_log, timeout=60, interval=0.002)
        _, stderr = process.communicate(timeout=120)
        ended = time.perf_counter() - begin
        if started is None:
            raise RuntimeError("the host did not start")
        return started, ended, stderr

    def launch(self, proxy=None, env=None):
        """The launcher; without a proxy its statistics server's name does not
        resolve, as on a machine offline."""
        merged = {"http_proxy": proxy} if proxy else {}
        merged.update(env or {})
        return self.run(harness.LAUNCHER, ARGS, merged)

    def bare(self, floor=False):
        """The baseline: only the shell start of the host; with `floor`, what
        every launch must do around it: the work-area query, a COM apartment
        for the shell's call and the start made synchronously."""
        program = os.path.join(harness.PROGRAMS, "bare_start.exe")
        args = [HOST, f"--load-apps={APP} --tarnix-host-window-size=800x600 --no-sandbox"]
        return self.run(program, args + (["--floor"] if floor else []))

    def derivation_ms(self, proxy):
        """The first identity derivation of one process, from Wine's load trace."""
        _, _, trace = self.launch(proxy, env={"WINEDEBUG": "+timestamp,+loaddll"})
        loads = [(float(stamp), name.lower()) for stamp, name in LOADED.findall(trace)]
        begin = min(t for t, name in loads if name in ("iphlpapi.dll", "nsi.dll", "dnsapi.dll"))
        end = min(t for t, name in loads if name == "wininet.dll")
        return (end - begin) * 1000

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def run(wine, runs, figure):
    """Measures and prints the report's figures in the prefix of `wine`."""
    if not os.path.exists(os.path.join(harness.PROGRAMS, "bare_start.exe")):
        sys.exit("not built: bare_start.exe (run scripts/build)")
    bench = Bench(wine)
    kinds = ("answers at once", "answers after 300 ms", "unreachable")
    starts = {kind: [] for kind in kinds + ("bare", "floor")}
    bare_ends = []
    try:
        with harness.serving() as prompt, harness.serving() as distant:
            prompt.routes["/report"] = Answer()
            distant.routes["/report"] = Delayed(0.3, b"report-ok\n")
            proxies = {"answers at once": prompt.proxy, "answers after 300 ms": distant.proxy,
                       "unreachable": None}
            bench.launch(prompt.proxy)  # warm-up
            bench.bare()
            for _ in range(runs):  # interleaved, so drift hits every kind alike
                for kind in kinds:
                    starts[kind].append(bench.launch(proxies[kind])[0])
                started, ended, _ = bench.bare()
                starts["bare"].append(started)
                bare_ends.append(ended)
                starts["floor"].append(bench.bare(floor=True)[0])
            derivations = [bench.derivation_ms(prompt.proxy) for _ in range(runs)]
        with harness.serving() as server:
            stall = Stall()
            server.routes["/report"] = stall
            try:
                stalled = [bench.launch(server.proxy) for _ in range(max(2, runs // 2))]
            finally:
                stall.release()
    finally:
        bench.close()

    bare = statistics.median(starts["bare"])
    print(f"host start after the bare shell start: median {bare * 1000:.1f} ms ({runs} runs)")
    # The floor of any launch: the host's window size needs the work area,
    # which under Wine first sets up the display driver, and the shell's call
    # an apartment (ole32) and a synchronous start.
    floor = statistics.median(starts["floor"])
    print(f"host start after the floor program (work area, apartment, synchronous start): median"
          f" {floor * 1000:.1f} ms ({floor / bare:.3f} of the bare start)")
    for kind in kinds:
        median = statistics.median(starts[kind])
        print(f"host start after the launcher, statistics server {kind}: median {median * 1000:.1f} ms")
        figure(f"launch / bare start, report server {kind}", median / bare, 1.1)
        # What the launcher adds beyond the work it cannot avoid (the query and the shell start).
        figure(f"launch / floor, report server {kind}", median / floor, 1.1)
    # Wine's start-up: what the bare program takes from its start to its end.
    startup = statistics.median(bare_ends)
    worst_host = max(started for started, _, _ in stalled)
    print(f"stalled statistics server: worst host start {worst_host:.2f} s, worst launcher end"
          f" {max(ended for _, ended, _ in stalled):.2f} s; Wine's start-up {startup:.2f} s")
    # The budget counts from the host's start (the report's wait for it included).
    figure("worst launcher end after the host's start, stalled server, s",
           max(ended - started for started, ended, _ in stalled), round(BUDGET + startup, 2))
    print(f"first identity derivation in a process: median {statistics.median(derivations):.1f} ms"
          f" (min {min(derivations):.1f}, max {max(derivations):.1f}; from Wine's load trace)")
