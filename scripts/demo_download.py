"""Demo of the download branch (part of scripts/demo): from a Wine prefix without the host, the
launcher shows its dialog, downloads the (fake) installer from a local demo
server, runs it, and the installed (fake) host starts. A screenshot of the
dialog in mid-download is saved to docs/download-dialog.png; run once more
under an English UI language, to docs/download-dialog-en.png.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "e2e"))
import harness  # noqa: E402
import signing  # noqa: E402

DESKTOP = "640x200"
# Wine draws the title bar's buttons (the close button's cross) as glyphs of its
# Marlett font, packaged with Wine's fonts (fonts-wine); without it they come
# out as letters. Debian's Wine 8 looks for its own fonts at a path that does
# not resolve, so the demo puts Marlett into the prefix's Fonts folder, where
# every Wine looks.
MARLETT = "/usr/share/wine/fonts/marlett.ttf"


def install_caption_font(wine):
    if not os.path.exists(MARLETT):
        sys.exit(f"not installed: {MARLETT} (fonts-wine; scripts/demo installs it)")
    fonts = wine.unix_path("C:\\windows\\Fonts")
    os.makedirs(fonts, exist_ok=True)
    shutil.copyfile(MARLETT, os.path.join(fonts, os.path.basename(MARLETT)))


def show_download(wine, png=os.path.join(harness.ROOT, "docs", "download-dialog.png"), language=harness.CHINESE_UI):
    print(f"== Download branch: the host is missing (UI language from {language})")
    for name in ("fake_installer.exe", "fake_host.exe"):
        if not os.path.exists(os.path.join(harness.PROGRAMS, name)):
            sys.exit(f"not built: {name} (run scripts/build)")
    if signing.tools_missing():
        sys.exit(f"not installed: {signing.tools_missing()}")
    install_caption_font(wine)
    # Padded (an overlay, so the transfer can be watched) and signed by a
    # throwaway signer named as the build expects: only a signed installer runs.
    signing_work = tempfile.mkdtemp(prefix="tarnix-demo-")
    body = signing.fake_installer(signing_work, 2 * 1024 * 1024)
    shutil.rmtree(signing_work, ignore_errors=True)

    sent = [0]

    def trickle(handler, server):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        step = len(body) // 40
        for start in range(0, len(body), step):
            handler.wfile.write(body[start:start + step])
            handler.wfile.flush()
            sent[0] = start + step
            time.sleep(0.25)

    work = tempfile.mkdtemp(prefix="tarnix-demo-")
    try:
        wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
        wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
        app = "C:\\demo\\app"
        os.makedirs(wine.unix_path(app), exist_ok=True)
        host_log = os.path.join(work, "host.log")
        with harness.serving() as server:
            server.routes[harness.DOWNLOAD_PATH] = trickle
            env = {
                "http_proxy": server.proxy,
                "TARNIX_FAKE_HOST_SOURCE": "Z:" + os.path.join(harness.PROGRAMS, "fake_host.exe").replace("/", "\\"),
                "TARNIX_FAKE_HOST_TARGET": "C:\\demo\\Tarnix\\TarnixHost.exe",
                "TARNIX_FAKE_HOST_LOG": "Z:" + host_log.replace("/", "\\"),
            }
            env.update(language)
            print(f"Starting the launcher; the installer comes from the demo server on {server.proxy}", flush=True)
            # A Wine virtual desktop draws the title bar that bare X leaves out.
            launcher = wine.start("explorer", [f"/desktop=tarnixdemo,{DESKTOP}", harness.LAUNCHER],
                                  cwd=wine.unix_path(app), env=env)
            # Half-way, past the first seconds: the line under the bar gives the time left.
            harness.wait_until(lambda: sent[0] >= len(body) // 2, timeout=60,
                               what="the download to be under way")
            time.sleep(0.5)
            os.makedirs(os.path.dirname(png), exist_ok=True)
            shot = os.path.join(work, "root.png")
            subprocess.run(["import", "-display", wine.env["DISPLAY"], "-window", "root", shot], check=True, timeout=60)
            # Keep the virtual desktop only: the rest of the X screen is empty.
            subprocess.run(["convert", shot, "-trim", "+repage", png], check=True, timeout=60)
            print(f"Screenshot of the dialog in mid-download: {png}", flush=True)

            harness.wait_until(lambda: os.path.exists(host_log), timeout=120, what="the host to start")
            with open(host_log, encoding="utf-8") as record:
                print("The installed host started with:", record.readline().strip(), flush=True)
            launcher.wait(timeout=60)
    finally:
        shutil.rmtree(work, ignore_errors=True)
