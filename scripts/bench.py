"""The benchmarks behind scripts/bench. Each prints its figure and target."""

import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

import bench_download  # noqa: E402
import bench_report  # noqa: E402
import bench_trust  # noqa: E402

HOST = r"C:\bench\TarnixHost.exe"
APP = r"C:\bench\app"
RUNS = int(os.environ.get("TARNIX_BENCH_RUNS", "10"))


def report(name, value, target, unit=""):
    verdict = "ok" if value <= target else "OVER TARGET"
    print(f"{name:<58} {value:>10.3f}{unit}  (target <= {target}{unit})  {verdict}")


def file_size():
    size = os.path.getsize(os.path.join(harness.ROOT, "dist", "TarnixLauncher.exe")) / 1024
    report("size of dist/TarnixLauncher.exe, KiB", size, 256)


def time_to_host(wine, program, args, host_log):
    """Seconds from starting `program` until the fake host has written its record."""
    if os.path.exists(host_log):
        os.remove(host_log)
    env = {"TARNIX_FAKE_HOST_LOG": "Z:" + host_log.replace("/", "\\")}
    start = time.perf_counter()
    process = wine.start(program, args, cwd=wine.unix_path(APP), env=env)
    while not os.path.exists(host_log):
        time.sleep(0.002)
    elapsed = time.perf_counter() - start
    process.communicate(timeout=60)
    return elapsed


def launch_ratio(wine, host_log):
    """The launch as a user without a reachable statistics server sees it."""
    os.makedirs(wine.unix_path(APP), exist_ok=True)
    shutil.copy(os.path.join(harness.PROGRAMS, "fake_host.exe"), wine.unix_path(HOST))
    wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", HOST)
    wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix", "DisplayVersion", "1.0.0.78")
    bare = os.path.join(harness.PROGRAMS, "bare_start.exe")
    bare_args = [HOST, f"--load-apps={APP} --tarnix-host-window-size=800x600 --no-sandbox"]
    launcher_args = ["--appname=bench", "--appwindowsize=800x600"]
    launcher_times, bare_times = [], []
    time_to_host(wine, harness.LAUNCHER, launcher_args, host_log)  # warm-up
    for _ in range(RUNS):  # interleaved, so drift hits both alike
        launcher_times.append(time_to_host(wine, harness.LAUNCHER, launcher_args, host_log))
        bare_times.append(time_to_host(wine, bare, bare_args, host_log))
    launcher, baseline = statistics.median(launcher_times), statistics.median(bare_times)
    print(f"launcher start to host start: median {launcher * 1000:.1f} ms; bare shell start {baseline * 1000:.1f} ms"
          f" ({RUNS} runs each)")
    # Every launch also derives the identity and sends the report; here its
    # server is unreachable (the name does not resolve), as on a machine offline.
    report("ratio launcher (report server unreachable) / bare start", launcher / baseline, 1.2)


def main():
    file_size()
    work = tempfile.mkdtemp(prefix="tarnix-bench-")
    try:
        installer = bench_trust.signed_installer(work)
        with harness.session() as wine:
            launch_ratio(wine, os.path.join(harness.ROOT, "build", "bench", "host.log"))
            bench_report.run(wine, RUNS, report)
            bench_download.run(wine, RUNS, report, installer)
            bench_trust.run(wine, RUNS, report, installer)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
