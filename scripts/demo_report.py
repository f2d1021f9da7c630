"""Demonstrates the launch report: one launch under Wine against a local
statistics server (reached as the proxy), then the request as the server
received it and what the launcher wrote to standard output.

Part of scripts/demo.
"""

import os
import shutil
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import harness  # noqa: E402
from report_server import Answer, wait_for_file  # noqa: E402


DEFAULT_ARGS = ["--appname=demo&co", "--appversion=1.2.3"]


def show_report(wine, args=None):
    """One launch in the prefix of `wine` against a local statistics server;
    prints the request as the server received it and the launcher's output."""
    args = args or DEFAULT_ARGS
    print("== The launch report: the statistics request as the server received it")
    work = tempfile.mkdtemp(prefix="tarnix-demo-")
    try:
        case = "C:\\demo\\report"
        shutil.rmtree(wine.unix_path(case), ignore_errors=True)
        host = case + "\\host\\TarnixHost.exe"
        os.makedirs(os.path.dirname(wine.unix_path(host)))
        shutil.copy(os.path.join(harness.PROGRAMS, "fake_host.exe"), wine.unix_path(host))
        wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", host)
        wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix", "DisplayVersion",
                     "1.0.0.78")
        folder = case + "\\app"
        os.makedirs(wine.unix_path(folder))
        host_log = os.path.join(work, "host.log")

        with harness.serving() as server:
            server.routes["/report"] = Answer(b"{\"result\":0}\n")
            env = {"TARNIX_FAKE_HOST_LOG": "Z:" + host_log.replace("/", "\\"), "http_proxy": server.proxy}
            launcher = wine.start(harness.LAUNCHER, args, cwd=wine.unix_path(folder), env=env)
            wait_for_file(host_log, timeout=60)
            stdout, _ = launcher.communicate(timeout=60)
            received = [r for r in server.requests if "/report?" in r["path"]]

        print("launcher:", " ".join(["TarnixLauncher.exe", *args]))
        print(f"the statistics server received {len(received)} request(s):")
        for request in received:
            url = urllib.parse.urlsplit(request["path"])
            print(f"  GET {url.path}?{url.query}")
            for name, value in request["headers"].items():
                print(f"    {name}: {value}")
            print("  query fields, decoded:")
            for name, value in urllib.parse.parse_qsl(url.query, keep_blank_values=True):
                print(f"    {name:15} = {value}")
        print("the launcher's standard output:")
        for line in stdout.replace("\r\n", "\n").splitlines():
            print("  " + line)
        store = wine.unix_path(r"C:\ProgramData\Korvane\Common\Global.db")
        print("identity store C:\\ProgramData\\Korvane\\Common\\Global.db:")
        if os.path.exists(store):
            with open(store, "rb") as record:
                data = record.read()
            print(f"  {len(data)} bytes, version {int.from_bytes(data[:4], 'little')}, identity {data[4:20].hex()}")
        else:
            print("  (none)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
