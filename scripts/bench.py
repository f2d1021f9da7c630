"""The benchmarks behind scripts/bench. Each prints its figure and target.

Arguments name the parts to run (default: all of them, in this order):
size, launch, download, failure, resume, trust.
"""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

import bench_download  # noqa: E402
import bench_report  # noqa: E402
import bench_resume  # noqa: E402
import bench_trust  # noqa: E402

RUNS = int(os.environ.get("TARNIX_BENCH_RUNS", "10"))


def report(name, value, target, unit=""):
    verdict = "ok" if value <= target else "OVER TARGET"
    print(f"{name:<58} {value:>10.3f}{unit}  (target <= {target}{unit})  {verdict}")


def file_size():
    size = os.path.getsize(os.path.join(harness.ROOT, "dist", "TarnixLauncher.exe")) / 1024
    report("size of dist/TarnixLauncher.exe, KiB", size, 256)


PARTS = ("size", "launch", "download", "failure", "resume", "trust")


def main(parts):
    unknown = [part for part in parts if part not in PARTS]
    if unknown:
        sys.exit(f"unknown part: {', '.join(unknown)} (parts: {', '.join(PARTS)})")
    chosen = set(parts or PARTS)
    if "size" in chosen:
        file_size()
    if not chosen - {"size"}:
        return
    work = tempfile.mkdtemp(prefix="tarnix-bench-")
    try:
        installer = bench_trust.signed_installer(work)
        with harness.session() as wine:
            if "launch" in chosen:
                bench_report.run(wine, RUNS, report)
            if "download" in chosen:
                bench_download.run(wine, RUNS, report, installer)
            if "failure" in chosen:
                bench_download.failure_time(wine, RUNS, report)
            if "resume" in chosen:
                bench_resume.run(wine, report, installer)
            if "trust" in chosen:
                bench_trust.run(wine, RUNS, report, installer)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1:])
