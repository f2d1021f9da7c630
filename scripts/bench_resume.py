"""Resume benchmark (part of scripts/bench): what does a cut transfer cost on the wire?

Serves the 64 MiB signed installer from 127.0.0.1 with a strong ETag; the
first answer breaks off (the connection shut) after half of its body, the
launcher's next attempt gets whatever the server makes of its request. The
launcher runs to its end: the download, the installer check, the fake
installer (which installs the fake host) and the host's start. The server
counts every byte it writes in its answers to the download URL (status
lines, headers and bodies), and the figure is that count over the file's
size:
  - with ranges: the second attempt asks "Range: bytes=N-" with "If-Range"
    and gets a 206 of the rest (target: at most 1.05);
  - without ranges: the server ignores the range and sends the whole file
    again with 200 (about 1.5; printed for comparison, no target).
The installed file must be exactly the served one. The bytes are the same
from run to run, so each case runs once.
"""

import getpass
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "e2e"))
import harness  # noqa: E402
from bench_download import clear_download_leftovers  # noqa: E402

CASE = "C:\\bench\\resume"


class CountingWriter:
    """Stands in for a request handler's output stream: passes every write
    on and adds its length to `answer["bytes"]`; keeps the status line."""

    def __init__(self, inner, answer):
        self.inner, self.answer = inner, answer

    def write(self, data):
        written = self.inner.write(data)
        if not self.answer["bytes"]:
            self.answer["status"] = bytes(data[:64]).split(b"\r\n", 1)[0].decode("latin-1")
        self.answer["bytes"] += len(data)
        return written

    def flush(self):
        self.inner.flush()


def counted(route, answers):
    """`route`, with each answer's bytes on the wire recorded in `answers`
    (one dict per request: the status line, the Range asked, the bytes)."""
    def wrapped(handler, server):
        answer = {"status": "", "range": handler.headers.get("Range"), "bytes": 0}
        answers.append(answer)
        stream = handler.wfile
        handler.wfile = CountingWriter(stream, answer)
        try:
            route(handler, server)
        finally:
            # A connection kept alive serves its next request with the plain stream.
            handler.wfile = stream
    return wrapped


def temp_installer(wine):
    return os.path.join(wine.drive_c, "users", getpass.getuser(), "Temp", "TarnixSetup.exe")


def clear_leftovers(wine):
    """No installation record, no host, and nothing in the temporary folder
    that a download would resume or take for the installer."""
    wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
    wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
    clear_download_leftovers(wine)
    shutil.rmtree(wine.unix_path(CASE), ignore_errors=True)


def attempt_lines(wine):
    return [text for _, text in harness.read_launch_log(wine)
            if text.startswith(("download attempt", "download: "))]


def cut_at_half(wine, body, work, ranges):
    """One launcher run against a server that cuts the first answer at half;
    returns the answers to the download URL (see `counted`)."""
    clear_leftovers(wine)
    log_path = harness.launch_log_path(wine)
    if os.path.exists(log_path):
        os.remove(log_path)
    app = CASE + "\\app"
    os.makedirs(wine.unix_path(app))
    installer_log = os.path.join(work, "installer.log")
    host_log = os.path.join(work, "host.log")
    for record in (installer_log, host_log):
        if os.path.exists(record):
            os.remove(record)
    answers = []
    with harness.serving() as server:
        half = len(body) // 2
        server.routes[harness.DOWNLOAD_PATH] = counted(
            harness.serve_in_turn(harness.serve_resumable(body, ranges=ranges, cut_after=half),
                                  harness.serve_resumable(body, ranges=ranges)), answers)
        env = {
            "http_proxy": server.proxy,
            "TARNIX_FAKE_HOST_SOURCE": "Z:" + os.path.join(harness.PROGRAMS, "fake_host.exe").replace("/", "\\"),
            "TARNIX_FAKE_HOST_TARGET": CASE + "\\Tarnix\\TarnixHost.exe",
            "TARNIX_FAKE_HOST_LOG": "Z:" + host_log.replace("/", "\\"),
            "TARNIX_FAKE_INSTALLER_LOG": "Z:" + installer_log.replace("/", "\\"),
        }
        launcher = wine.start(harness.LAUNCHER, cwd=wine.unix_path(app), env=env)
        try:
            launcher.communicate(timeout=600)
        finally:
            if launcher.poll() is None:
                launcher.kill()
                launcher.communicate(timeout=60)
    for line in attempt_lines(wine):
        print(f"  log: {line}")
    if launcher.returncode != 0:
        sys.exit(f"the launcher ended with {launcher.returncode}")
    with open(installer_log, encoding="utf-8") as runs:
        if len(runs.read().splitlines()) != 1:
            sys.exit("the installer did not run exactly once")
    with open(temp_installer(wine), "rb") as installed:
        if installed.read() != body:
            sys.exit("the installed file is not the served one")
    if not os.path.exists(host_log):
        sys.exit("the host did not start")
    return answers


def run(wine, figure, installer):
    """The bytes on the wire for a transfer of `installer` cut at half, with
    and without ranges on the server."""
    for path in (harness.LAUNCHER, os.path.join(harness.PROGRAMS, "fake_installer.exe"),
                 os.path.join(harness.PROGRAMS, "fake_host.exe")):
        if not os.path.exists(path):
            sys.exit(f"not built: {path} (run scripts/build)")
    with open(installer, "rb") as program:
        body = program.read()
    work = os.path.dirname(installer)
    ratios = {}
    try:
        for ranges in (True, False):
            kind = "with ranges" if ranges else "without ranges"
            print(f"{len(body) / 2**20:.0f} MiB signed installer cut at half, server {kind}:", flush=True)
            answers = cut_at_half(wine, body, work, ranges)
            for number, answer in enumerate(answers, 1):
                print(f"  answer {number}: {answer['status']}, Range {answer['range'] or '-'}, "
                      f"{answer['bytes']} bytes on the wire")
            wire = sum(answer["bytes"] for answer in answers)
            ratios[ranges] = wire / len(body)
            print(f"  {len(answers)} answers, {wire} bytes on the wire for {len(body)} bytes of file", flush=True)
    finally:
        clear_leftovers(wine)
    figure("bytes on the wire / file size, cut at half, with ranges", ratios[True], 1.05)
    print(f"{'bytes on the wire / file size, cut at half, without ranges':<58} {ratios[False]:>10.3f}"
          "  (for comparison: the whole file again)")
