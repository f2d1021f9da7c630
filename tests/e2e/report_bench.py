"""Benchmarks of the launch report under Wine, printed as a small table.

  launch with report / bare launch   time from the launcher's start to the
                                     host's start with the report answered by
                                     a local server, as a ratio to the same
                                     launch whose report connection is refused
                                     at once (no network wait)   target <= 1.5
  worst delay, stalled server        the slowest host start when the server
                                     accepts and never answers   target <= 5 s
  first identity derivation          from the adapter library's load to
                                     WinINet's load in one fresh process

Usage: python3 tests/e2e/report_bench.py [runs]   (needs the mingw-x64 build)
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from report_server import Answer, Stall, refused_proxy, wait_for_file  # noqa: E402

LOADED = re.compile(r"^(\d+\.\d+):\S*loaddll:\S* Loaded L\"[^\"]*\\\\([^\\\"]+)\"", re.MULTILINE)


class Bench:
    def __init__(self, wine):
        self.wine = wine
        self.work = tempfile.mkdtemp(prefix="tarnix-bench-")
        self.host_log = os.path.join(self.work, "host.log")
        case = "C:\\bench\\report"
        shutil.rmtree(self.wine.unix_path(case), ignore_errors=True)
        host = case + "\\host\\TarnixHost.exe"
        os.makedirs(os.path.dirname(self.wine.unix_path(host)))
        shutil.copy(os.path.join(harness.PROGRAMS, "fake_host.exe"), self.wine.unix_path(host))
        self.wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", host)
        self.wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix",
                          "DisplayVersion", "1.0.0.78")
        self.folder = case + "\\app"
        os.makedirs(self.wine.unix_path(self.folder))

    def host_start(self, proxy, env=None):
        """Seconds from the launcher's start to the host's, and the launcher's stderr."""
        if os.path.exists(self.host_log):
            os.remove(self.host_log)
        merged = {"TARNIX_FAKE_HOST_LOG": "Z:" + self.host_log.replace("/", "\\"), "http_proxy": proxy}
        merged.update(env or {})
        launcher = self.wine.start(harness.LAUNCHER, ["--appname=bench"], cwd=self.wine.unix_path(self.folder),
                                   env=merged)
        started = wait_for_file(self.host_log, timeout=60, interval=0.005)
        _, stderr = launcher.communicate(timeout=60)
        if started is None:
            raise RuntimeError("the host did not start")
        return started, stderr

    def derivation_ms(self, proxy):
        """The first identity derivation of one process, from Wine's load trace."""
        _, trace = self.host_start(proxy, env={"WINEDEBUG": "+timestamp,+loaddll"})
        loads = [(float(stamp), name.lower()) for stamp, name in LOADED.findall(trace)]
        begin = min(t for t, name in loads if name in ("iphlpapi.dll", "nsi.dll", "dnsapi.dll"))
        end = min(t for t, name in loads if name == "wininet.dll")
        return (end - begin) * 1000

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def main(runs):
    if not os.path.exists(harness.LAUNCHER):
        sys.exit(f"not built: {harness.LAUNCHER}")
    display = harness.Display()
    wine = harness.Wine(display.start())
    bench = None
    try:
        wine.ensure_prefix()
        quiet = dict(env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([os.path.join(os.path.dirname(harness.WINE), "wineserver"), "-p"], timeout=60, **quiet)
        subprocess.run([harness.WINE, "reg", "query", r"HKCU\Software"], timeout=120, **quiet)
        bench = Bench(wine)
        refused = refused_proxy()
        with harness.serving() as server:
            server.routes["/report"] = Answer()
            bench.host_start(server.proxy)  # warm-up
            bare, local = [], []
            for _ in range(runs):
                bare.append(bench.host_start(refused)[0])
                local.append(bench.host_start(server.proxy)[0])
            derivations = [bench.derivation_ms(server.proxy) for _ in range(runs)]
            got = sum(1 for r in server.requests if "/report?" in r["path"])
        with harness.serving() as server:
            stall = Stall()
            server.routes["/report"] = stall
            stalled = [bench.host_start(server.proxy)[0] for _ in range(max(2, runs // 2))]
            stall.release()

        ratio = statistics.median(local) / statistics.median(bare)
        print(f"report requests received: {got}")
        print(f"bare launch (report refused)       median {statistics.median(bare):.3f} s")
        print(f"launch with report, local server    median {statistics.median(local):.3f} s")
        print(f"  ratio                             {ratio:.2f}   (target <= 1.5) "
              f"{'ok' if ratio <= 1.5 else 'MISSED'}")
        print(f"worst delay, stalled server         {max(stalled):.3f} s   (target <= 5 s) "
              f"{'ok' if max(stalled) <= 5 else 'MISSED'}")
        print(f"first identity derivation           median {statistics.median(derivations):.1f} ms "
              f"(min {min(derivations):.1f}, max {max(derivations):.1f})")
    finally:
        if bench is not None:
            bench.close()
        wine.kill_server()
        display.stop()


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)
