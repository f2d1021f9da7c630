"""Download benchmark (part of scripts/bench): does showing progress slow the transfer?

Serves a 64 MiB signed installer from 127.0.0.1 and times, on the server, each
transfer from the request to the last byte taken by the client (with a body
this much larger than the socket buffers, the server's last write ends only
when the client has read nearly everything, so this is the client's pace):
  - the launcher's download path: TarnixLauncher.exe with its dialog, the
    progress callback, the line under the bar and the stall guard, the body
    written into the partial file by the launcher itself, reached through
    http_proxy;
  - a bare URLDownloadToFileW of the same file without a callback.
Runs are interleaved; prints the medians and their ratio (target: at most 1.1).

Also: the time from the launcher's start to "下载失败！" when no download
server is reachable (three refused connections and the pauses of 2 s and 5 s
between them), read from the launch log's own time stamps.
"""

import datetime
import getpass
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "e2e"))
import harness  # noqa: E402

CHUNK = 256 * 1024
DIALOG_TITLE = "TarnixDownload"
LINE_ID = 1003  # the line under the bar: what has arrived


def timed_file(body, times):
    """A route that sends `body` and records (request, last byte written)."""
    def route(handler, server):
        asked = time.monotonic()
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        view = memoryview(body)
        for start in range(0, len(body), CHUNK):
            handler.wfile.write(view[start:start + CHUNK])
        handler.wfile.flush()
        times.append(time.monotonic() - asked)
    return route


def clear_download_leftovers(wine):
    """Removes what a download leaves in the temporary folder (the installer,
    the partial file and its record), so that no run resumes or reuses
    another's bytes."""
    installer = os.path.join(wine.drive_c, "users", getpass.getuser(), "Temp", "TarnixSetup.exe")
    for leftover in (installer, installer + ".partial", installer + ".partial.txt"):
        if os.path.exists(leftover):
            os.remove(leftover)


def run(wine, runs, figure, installer):
    """Times the launcher's download of `installer` (a signed program of
    64 MiB) against a bare URLDownloadToFileW. The launcher writes the body
    into its partial file itself and updates the line under the bar as it
    goes; it is stopped once the server has sent the last byte."""
    runs = max(runs, 5)
    for path in (harness.LAUNCHER, os.path.join(harness.PROGRAMS, "url_download.exe"),
                 os.path.join(harness.PROGRAMS, "winprobe.exe")):
        if not os.path.exists(path):
            sys.exit(f"not built: {path} (run scripts/build)")
    with open(installer, "rb") as program:
        body = program.read()

    wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
    wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
    folder = "C:\\bench"
    os.makedirs(wine.unix_path(folder), exist_ok=True)
    launcher_times, bare_times, lines = [], [], []
    probe = harness.Probe(wine)
    with harness.serving() as server:
        # Stopping the launcher resets its idle connection; that is expected.
        server.httpd.handle_error = lambda request, address: None
        env = {"http_proxy": server.proxy, "TARNIX_FAKE_INSTALLER_MODE": "nothing"}
        for run in range(runs):
            # The launcher: its transfer is timed on the server; then it is stopped.
            server.routes[harness.DOWNLOAD_PATH] = timed_file(body, launcher_times)
            count = len(launcher_times)
            clear_download_leftovers(wine)
            launcher = wine.start(harness.LAUNCHER, cwd=wine.unix_path(folder), env=env)
            harness.wait_until(lambda: len(launcher_times) > count, timeout=300, what="the launcher's download")
            # Read after the timed transfer, so that the reading costs it nothing.
            lines.append(line_under_the_bar(probe))
            launcher.kill()
            launcher.communicate(timeout=60)

            # The bare call, same file, same server.
            server.routes["/bare"] = timed_file(body, bare_times)
            url = f"http://127.0.0.1:{server.port}/bare"
            result = wine.run(os.path.join(harness.PROGRAMS, "url_download.exe"),
                              [url, "C:\\bench\\bare.bin"], env={"no_proxy": "127.0.0.1"}, timeout=300)
            if result.returncode != 0:
                sys.exit(f"bare download failed: {result.returncode}")
            clear_download_leftovers(wine)
            print(f"run {run + 1}: launcher {launcher_times[-1]:.3f} s, bare {bare_times[-1]:.3f} s, "
                  f"line under the bar {lines[-1]!r}", flush=True)

    launcher_median = statistics.median(launcher_times)
    bare_median = statistics.median(bare_times)
    ratio = launcher_median / bare_median
    print(f"64 MiB from 127.0.0.1, {runs} interleaved runs each")
    print(f"  launcher download path (dialog, progress callback): median {launcher_median:.3f} s")
    print(f"  bare URLDownloadToFileW without callback:            median {bare_median:.3f} s")
    shown = sum(1 for line in lines if line and " MB" in line)
    print(f"  the line under the bar showed the MB received in {shown} of {runs} runs")
    if not shown:
        print("  WARNING: the line under the bar never showed a figure; this ratio is not that of the "
              "download path with the line updating")
    figure("ratio launcher download / bare URLDownloadToFileW", ratio, 1.1)


def line_under_the_bar(probe):
    """The text of the download dialog's line under the bar, or None where
    the dialog is not up."""
    window = probe.find(DIALOG_TITLE)
    if window is None:
        return None
    return next((child["text"] for child in window["children"] if child["id"] == LINE_ID), None)


def log_time(text):
    """The time stamp of a launch-log line."""
    return datetime.datetime.strptime(text[:23], "%Y-%m-%d %H:%M:%S.%f")


def failure_time(wine, runs, figure):
    """Seconds from the launcher's first log line to its last failed attempt,
    with every connection refused: the cost of the retries."""
    wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
    wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
    folder = "C:\\bench"
    os.makedirs(wine.unix_path(folder), exist_ok=True)
    log_path = harness.launch_log_path(wine)
    times = []
    for run in range(max(1, min(runs, 3))):
        if os.path.exists(log_path):
            os.remove(log_path)
        launcher = wine.start(harness.LAUNCHER, cwd=wine.unix_path(folder), env={"http_proxy": harness.refused_proxy()})

        def failed():
            if not os.path.exists(log_path):
                return None
            with open(log_path, encoding="utf-8", newline="") as log:
                lines = [line for line in log.read().split("\r\n") if line]
            return lines if lines and lines[-1].endswith("download failed after 3 attempts") else None
        lines = harness.wait_until(failed, timeout=120, interval=0.05, what="the failed download")
        launcher.kill()
        launcher.communicate(timeout=60)
        times.append((log_time(lines[-1]) - log_time(lines[0])).total_seconds())
        print(f"run {run + 1}: {times[-1]:.3f} s to the failure", flush=True)
    figure("seconds to the failure with every connection refused", statistics.median(times), 7.5)
