"""The benchmarks behind scripts/bench. Each prints its figure and target."""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

import bench_download  # noqa: E402
import bench_report  # noqa: E402
import bench_trust  # noqa: E402

RUNS = int(os.environ.get("TARNIX_BENCH_RUNS", "10"))


def report(name, value, target, unit=""):
    verdict = "ok" if value <= target else "OVER TARGET"
    print(f"{name:<58} {value:>10.3f}{unit}  (target <= {target}{unit})  {verdict}")


def file_size():
    size = os.path.getsize(os.path.join(harness.ROOT, "dist", "TarnixLauncher.exe")) / 1024
    report("size of dist/TarnixLauncher.exe, KiB", size, 256)


def main():
    file_size()
    work = tempfile.mkdtemp(prefix="tarnix-bench-")
    try:
        installer = bench_trust.signed_installer(work)
        with harness.session() as wine:
            bench_report.run(wine, RUNS, report)
            bench_download.run(wine, RUNS, report, installer)
            bench_download.failure_time(wine, RUNS, report)
            bench_trust.run(wine, RUNS, report, installer)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
