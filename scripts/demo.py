"""The demo behind scripts/demo (see there)."""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

import demo_download  # noqa: E402
import demo_report  # noqa: E402

HOST = r"C:\Program Files\Tarnix\TarnixHost.exe"
APP = r"C:\Demo Apps\hello"
ARGS = ["--appname=HelloApp", "--appversion=2.0.1", "--appwindowsize=1024x700"]


def direct_launch(wine, host_log):
    print("== Direct launch: the host is installed and current")
    os.makedirs(os.path.dirname(wine.unix_path(HOST)), exist_ok=True)
    shutil.copy(os.path.join(harness.PROGRAMS, "fake_host.exe"), wine.unix_path(HOST))
    wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", HOST)
    wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix", "DisplayVersion", "1.0.0.78")
    os.makedirs(wine.unix_path(APP), exist_ok=True)
    if os.path.exists(host_log):
        os.remove(host_log)
    launch_log = harness.launch_log_path(wine)
    if os.path.exists(launch_log):
        os.remove(launch_log)
    print(f"launcher : {harness.LAUNCHER}")
    print(f"folder   : {APP}")
    print(f"switches : {' '.join(ARGS)}")
    result = wine.run(harness.LAUNCHER, ARGS, cwd=wine.unix_path(APP),
                      env={"TARNIX_FAKE_HOST_LOG": "Z:" + host_log.replace("/", "\\")})
    harness.wait_until(lambda: os.path.exists(host_log), what="the host to start")
    with open(host_log, encoding="utf-8") as record:
        lines = record.read().splitlines()
    print(f"launcher exit code: {result.returncode}")
    if result.stdout.strip():
        print("launcher output:\n  " + result.stdout.strip().replace("\n", "\n  "))
    print("the host was started with the command line:")
    print("  " + lines[0])
    print("and split it (CommandLineToArgvW) into:")
    for index, arg in enumerate(lines[1:-1]):
        print(f"  argv[{index}] = {arg}")
    print(f"and left in the launch log ({launch_log}):")
    for _, text in harness.read_launch_log(wine):
        print("  " + text)


def main():
    with harness.session() as wine:
        os.makedirs(os.path.join(harness.ROOT, "build", "demo"), exist_ok=True)
        direct_launch(wine, os.path.join(harness.ROOT, "build", "demo", "host.log"))
        print()
        demo_report.show_report(wine)
        print()
        demo_download.show_download(wine)
        print()
        demo_download.show_download(wine, os.path.join(harness.ROOT, "docs", "download-dialog-en.png"),
                                    harness.ENGLISH_UI)


if __name__ == "__main__":
    main()
