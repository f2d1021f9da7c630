"""Installer check benchmark (part of scripts/bench): what does the signature
check cost on a large installer?

Pads the fake installer to 64 MiB, signs it (a throwaway root and a signer
named as the build expects) and times, in interleaved runs on the same file:
  - the launcher's own check (trust_check.exe: a fresh process per run, so
    that wintrust and crypt32 are loaded as the download thread loads them;
    the time is taken inside the process, around the check alone);
  - sha256sum of the same file, a plain hash of the same bytes.
Prints the medians and their ratio (target: at most 5; Wine's own hashing
is part of the check).
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "e2e"))
import harness  # noqa: E402
import signing  # noqa: E402

SIZE = 64 * 1024 * 1024


def signed_installer(folder, size=SIZE):
    """The fake installer padded to `size` bytes and signed by the expected
    signer; returns its path in `folder`."""
    if signing.tools_missing():
        sys.exit(f"not installed: {signing.tools_missing()}")
    body = signing.fake_installer(folder, size)
    path = os.path.join(folder, "TarnixSetup.exe")
    with open(path, "wb") as out:
        out.write(body)
    return path


def run(wine, runs, figure, installer):
    """Times the launcher's check of `installer` against sha256sum of it."""
    runs = max(runs, 5)
    check_program = os.path.join(harness.PROGRAMS, "trust_check.exe")
    if not os.path.exists(check_program):
        sys.exit(f"not built: {check_program} (run scripts/build)")
    windows_path = "Z:" + installer.replace("/", "\\")
    check_times, hash_times = [], []
    subprocess.run(["sha256sum", installer], capture_output=True, check=True)  # the file in the page cache
    for _ in range(runs):
        result = wine.run(check_program, [windows_path, signing.EXPECTED_SIGNER], timeout=300)
        verdict, milliseconds = result.stdout.split()
        if verdict != "trusted":
            sys.exit(f"the signed installer did not pass the check: {result.stdout.strip()}")
        check_times.append(float(milliseconds) / 1000)

        start = time.perf_counter()
        subprocess.run(["sha256sum", installer], capture_output=True, check=True)
        hash_times.append(time.perf_counter() - start)

    check, plain = statistics.median(check_times), statistics.median(hash_times)
    print(f"64 MiB signed installer, {runs} interleaved runs each")
    print(f"  the launcher's check (open, PE, WinVerifyTrust, signer): median {check * 1000:.1f} ms")
    print(f"  sha256sum of the same file:                              median {plain * 1000:.1f} ms")
    figure("ratio installer check / sha256sum", check / plain, 5)
