"""The download branch: the host is missing, the launcher downloads the
installer through its dialog, runs it and hands over to the host.

The launcher's fixed download URL reaches the local server because Wine's
internet stack honours http_proxy, so the binary under test is the shipped one.
"""

import getpass
import os
import re
import shutil
import threading
import time
import unittest
import urllib.parse

import harness
import signing
from harness import (DOWNLOAD_PATH, PATHVAR_LINE, LauncherTestCase, build_setting, refused_proxy, send_body,
                     serve_cut, serve_file, serve_html, serve_in_turn, serve_proxy_auth, serve_reset,
                     serve_resumable, serve_stall, serve_status, serving,
                     texts, wait_until)

DIALOG_TITLE = "TarnixDownload"
MESSAGE_TITLE = os.path.splitext(os.path.basename(harness.LAUNCHER))[0]
DOWNLOAD_FAILED = "下载失败！"
RUN_APP_FAILED = "运行App失败！"
PROGRESS_ID = 1002
LABEL_ID = 1001
LINE_ID = 1003  # the line under the bar: what has arrived
DONE_ID = 1
DIALOG_TEMPLATE = 102
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
# The line under the bar in each language, as patterns: the MB received (group
# 1), the total, and the time left.
LINE_PATTERNS = {
    "en": (r"(\d+\.\d) MB of {total} MB", r", about \d+ (s|min) left"),
    "zh": (r"已下载 (\d+\.\d) MB / {total} MB", r"，剩余约 \d+ (秒|分钟)"),
}
# The widest lines a download of up to 10 GB can show, in each language.
LONGEST_LINES = {
    "en": ("9999.9 MB of 9999.9 MB, about 55 min left", "9999.9 MB of 9999.9 MB, about 100 h left"),
    "zh": ("已下载 9999.9 MB / 9999.9 MB，剩余约 55 分钟", "已下载 9999.9 MB / 9999.9 MB，剩余约 100 小时"),
}


def control(window, control_id):
    return next(child for child in window["children"] if child["id"] == control_id)


def language_of(ui):
    return "zh" if ui == harness.CHINESE_UI else "en"


def line_of(window):
    return control(window, LINE_ID)["text"]


def download_requests(server):
    return [r for r in server.requests if r["path"].split("?")[0].endswith(DOWNLOAD_PATH)]


def attempt_ends(lines):
    """The log lines that end a download attempt (each also has one that starts it)."""
    return [line for line in lines if line.startswith("download attempt") and ": result " in line]


def buttons(window):
    return [child["id"] for child in window["children"] if child["class"].lower() == "button"]


class DownloadTest(LauncherTestCase):

    @classmethod
    def setUpClass(cls):
        harness.require_built(os.path.join(harness.PROGRAMS, "fake_installer.exe"))
        harness.require(not signing.tools_missing(), f"{signing.tools_missing()} (not installed)")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.installer_log = os.path.join(self.work, "installer.log")
        self.host_target = self.case_dir + "\\Tarnix\\TarnixHost.exe"
        self.temp_installer = os.path.join(self.wine.drive_c, "users", getpass.getuser(), "Temp",
                                           "TarnixSetup.exe")
        # The installer and what an earlier case's download left for a resume.
        for leftover in (self.temp_installer, self.temp_installer + ".partial",
                         self.temp_installer + ".partial.txt"):
            if os.path.exists(leftover):
                os.remove(leftover)
        # Wine's desktop process ends some time after its last window; bring it
        # up before the launcher starts, or its start-up eats the download.
        self.probe.windows()

    def installer_runs(self):
        """The fake installer's record: one line per run."""
        with open(self.installer_log, encoding="utf-8") as log:
            return log.read().splitlines()

    def installer_body(self, size=256 * 1024, signer="expected"):
        """The fake installer, padded to `size` bytes so that a trickle takes
        a while, and signed as the real one is (see signing.fake_installer)."""
        return signing.fake_installer(self.work, size, signer)

    def start_download(self, proxy, folder=None, env=None, args=(), launcher=None):
        merged = {
            "http_proxy": proxy,
            "TARNIX_FAKE_HOST_SOURCE": "Z:" + os.path.join(harness.PROGRAMS, "fake_host.exe").replace("/", "\\"),
            "TARNIX_FAKE_HOST_TARGET": self.host_target,
            "TARNIX_FAKE_INSTALLER_LOG": "Z:" + self.installer_log.replace("/", "\\"),
        }
        merged.update(env or {})
        if launcher is None:
            return self.start_launcher(args, folder=folder, env=merged)
        folder = folder or self.app_folder()
        started = self.wine.start(launcher, args, cwd=self.wine.unix_path(folder), env=self.launcher_env(merged))
        self.launchers.append(started)
        return started

    def launcher_beside(self, installer):
        """A copy of the launcher in a folder of its own with `installer`
        (bytes) beside it as TarnixSetup.exe, both read-only; returns the
        copy's and the installer's Unix paths."""
        folder = self.wine.unix_path(self.case_dir + "\\offline")
        os.makedirs(folder)
        copy = os.path.join(folder, os.path.basename(harness.LAUNCHER))
        shutil.copy(harness.LAUNCHER, copy)
        shipped = os.path.join(folder, "TarnixSetup.exe")
        with open(shipped, "wb") as out:
            out.write(installer)
        os.chmod(shipped, 0o444)
        return copy, shipped

    def message(self, timeout=30.0):
        return self.probe.wait_for(MESSAGE_TITLE, timeout=timeout)

    def dismiss(self, expected_text, timeout=30.0):
        """Waits for one failure box with `expected_text`, checks its form,
        closes it and waits for the thread that showed it to end."""
        box = self.message(timeout)
        self.assertIn(expected_text, texts(box))
        # One button, OK (its text is the system's, in its language).
        self.assertEqual(buttons(box), [1])
        self.assertTrue(self.probe.dismiss(MESSAGE_TITLE, 1), "the failing thread ends after its message")

    def wait_for_dialog(self, launcher, server, where=None, timeout=30.0):
        """The download dialog (for which `where` holds); on a time-out, says what happened instead."""
        try:
            return self.probe.wait_for(DIALOG_TITLE, timeout=timeout, where=where)
        except AssertionError as error:
            raise AssertionError(f"{error}; launcher exit code {launcher.poll()}, requests {server.requests}, "
                                 f"installer ran: {os.path.exists(self.installer_log)}, "
                                 f"windows {self.probe.windows()}") from None

    def assert_texts_whole(self, dialog_title=DIALOG_TITLE, samples=()):
        """Each static and button of the dialog holds its text on one line, and
        so does each of `samples` ((control id, text)) in its control."""
        launcher = "Z:" + harness.LAUNCHER.replace("/", "\\")
        fits = self.probe.fits(dialog_title, launcher, DIALOG_TEMPLATE)
        sample_fits = self.probe.sample_fits(dialog_title, launcher, DIALOG_TEMPLATE, samples) if samples else []
        self.assertEqual([size["text"] for size in sample_fits], [text for _, text in samples])
        for size in [*fits.values(), *sample_fits]:
            self.assertLessEqual(size["text_width"], size["width"], size)
            self.assertLessEqual(size["text_height"], size["height"], size)
        return fits

    def assert_dialog_left_open_then_closed(self, launcher):
        """After a failure (its box dismissed): no second box, the dialog stays
        with Done disabled, no installer runs, and closing the dialog ends the
        process."""
        self.assertIsNone(self.probe.find(MESSAGE_TITLE), "exactly one message")
        dialog = self.probe.find(DIALOG_TITLE)
        self.assertIsNotNone(dialog, "the dialog must stay open")
        self.assertFalse(control(dialog, DONE_ID)["enabled"])
        self.assertIsNone(launcher.poll())
        self.assertTrue(self.probe.close(DIALOG_TITLE))
        launcher.communicate(timeout=20)
        # An installer started by the launcher would hold its output pipes to its end.
        self.assertFalse(os.path.exists(self.installer_log), "no installer may run")
        self.assert_host_not_started()

    def test_downloads_runs_the_installer_and_hands_over_to_the_host(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body(), chunks=32, delay=0.4)
            folder = self.app_folder()
            launcher = self.start_download(server.proxy, folder=folder)

            dialog = self.wait_for_dialog(launcher, server)
            self.assertIn("下载的进度：", texts(dialog))
            done = control(dialog, DONE_ID)
            self.assertEqual((done["text"], done["enabled"]), ("完成", False))
            self.assert_texts_whole()
            bar = control(dialog, PROGRESS_ID)
            self.assertEqual((bar["low"], bar["high"]), (0, 200))

            positions = []
            while launcher.poll() is None:
                # The dialog may be going away with the process between two looks.
                window = self.probe.find(DIALOG_TITLE) or {"children": []}
                bar = next((child for child in window["children"] if child["id"] == PROGRESS_ID), None)
                if bar is not None:
                    positions.append(bar["pos"])
            stdout, _ = launcher.communicate(timeout=30)

            self.assertEqual(launcher.returncode, 0, "the launcher ends itself with exit code 0")
            during_transfer = [pos for pos in positions if 0 < pos < 100]
            self.assertGreaterEqual(len(set(during_transfer)), 2, positions)
            self.assertEqual(during_transfer, sorted(during_transfer), positions)
            self.assertTrue(all(pos <= 200 for pos in positions), positions)

            _, argv, _ = self.host_record()
            # The installed host runs (the launch gives its path with doubled backslashes).
            self.assertEqual(argv[0].replace("\\\\", "\\"), self.host_target)
            self.assertEqual(argv[1], "--load-apps=" + folder)
            self.assertRegex(argv[2], r"^--tarnix-host-window-size=\d+x\d+$")
            self.assertEqual(argv[3:], ["--no-sandbox"])

            runs = self.installer_runs()
            self.assertEqual(len(runs), 1, "the installer runs once")
            self.assertRegex(runs[0].strip(), r'^"?[A-Z]:\\.*\\TarnixSetup\.exe"?$', "no arguments")

            url = build_setting("TARNIX_DOWNLOAD_URL", "http://download.tarnix.example" + DOWNLOAD_PATH)
            host = urllib.parse.urlsplit(url).netloc
            downloads = [r["path"] for r in server.requests if r["path"].split("?")[0].endswith(DOWNLOAD_PATH)]
            self.assertEqual(len(downloads), 1, server.requests)
            self.assertRegex(downloads[0], r"^http://%s(:80)?%s$" % (host.replace(".", r"\."), DOWNLOAD_PATH))
            self.assertRegex(stdout, PATHVAR_LINE)
            self.assertIsNone(self.probe.find(MESSAGE_TITLE))

    def test_an_installer_beside_the_launcher_installs_without_a_download(self):
        """Offline: the download server is unreachable, and the signed
        installer beside a copy of the launcher installs the host. The
        launcher is started from another folder, which holds no installer."""
        installer = self.installer_body()
        copy, shipped = self.launcher_beside(installer)
        folder = self.app_folder()
        launcher = self.start_download(refused_proxy(), folder=folder, launcher=copy,
                                       env={"TARNIX_FAKE_INSTALLER_MODE": "rename"})
        dialog = self.probe.wait_for(DIALOG_TITLE, timeout=60)
        self.assertIn("下载的进度：", texts(dialog))
        stdout, _ = launcher.communicate(timeout=60)
        self.assertEqual(launcher.returncode, 0)
        self.assertRegex(stdout, PATHVAR_LINE, "the dialog opens as for a download")
        _, argv, _ = self.host_record()
        self.assertEqual(argv[0].replace("\\\\", "\\"), self.host_target)
        self.assertEqual(argv[1], "--load-apps=" + folder)

        runs = self.installer_runs()
        shipped_windows = self.case_dir + "\\offline\\TarnixSetup.exe"
        self.assertEqual(runs[0].strip().strip('"').lower(), shipped_windows.lower(), "the shipped installer runs")
        # It reads its own file; nobody can rename it while it runs.
        self.assertEqual(runs[1:], ["read ok", "rename refused 32"])
        lines = self.log_lines()
        self.assertFalse([line for line in lines if line.startswith("download attempt")], lines)
        self.assertIn('installer beside the launcher: "%s": used in place of a download' % shipped_windows, lines)
        self.assertIn("installer check: trusted", lines)
        # Never written, moved or deleted; nothing lands in the temporary folder.
        with open(shipped, "rb") as kept:
            self.assertEqual(kept.read(), installer)
        self.assertFalse(os.path.exists(self.temp_installer))
        self.assertIsNone(self.probe.find(MESSAGE_TITLE))

    def test_a_foreign_signed_installer_beside_the_launcher_is_left_and_the_download_runs(self):
        if not signing.EXPECTED_SIGNER:
            self.skipTest("this build runs unsigned installers (TARNIX_INSTALLER_SIGNER is empty)")
        foreign = self.installer_body(signer="other")
        copy, shipped = self.launcher_beside(foreign)
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body())
            launcher = self.start_download(server.proxy, launcher=copy)
            launcher.communicate(timeout=60)
            self.assertEqual(launcher.returncode, 0)
            _, argv, _ = self.host_record()
            self.assertEqual(argv[0].replace("\\\\", "\\"), self.host_target)
            self.assertEqual(len(download_requests(server)), 1, server.requests)
        runs = self.installer_runs()
        self.assertEqual(len(runs), 1, "the downloaded installer runs once")
        self.assertRegex(runs[0].strip(), r'^"?[A-Z]:\\users\\.*\\Temp\\TarnixSetup\.exe"?$')
        lines = self.log_lines()
        shipped_windows = self.case_dir + "\\offline\\TarnixSetup.exe"
        self.assertIn('installer beside the launcher: "%s": not trusted, downloading instead' % shipped_windows,
                      lines)
        with open(shipped, "rb") as kept:
            self.assertEqual(kept.read(), foreign)

    def test_a_launcher_saved_as_the_installer_does_not_run_itself_and_downloads(self):
        """A launcher saved as TarnixSetup.exe finds its own file where the
        installer beside it would be: it downloads instead of starting
        itself elevated."""
        folder = self.wine.unix_path(self.case_dir + "\\saved")
        os.makedirs(folder)
        copy = os.path.join(folder, "TarnixSetup.exe")
        shutil.copy(harness.LAUNCHER, copy)
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body())
            launcher = self.start_download(server.proxy, launcher=copy)
            launcher.communicate(timeout=60)
            self.assertEqual(launcher.returncode, 0)
            self.assertEqual(len(download_requests(server)), 1, server.requests)
        runs = self.installer_runs()
        self.assertEqual(len(runs), 1, "the downloaded installer runs once")
        self.assertRegex(runs[0].strip(), r'^"?[A-Z]:\\users\\.*\\Temp\\TarnixSetup\.exe"?$')
        lines = self.log_lines()
        saved_windows = self.case_dir + "\\saved\\TarnixSetup.exe"
        self.assertIn('installer beside the launcher: "%s" is the launcher itself' % saved_windows, lines)
        opened = [line for line in lines if line.startswith("installer check: opened")]
        self.assertEqual(len(opened), 1, "only the download is checked: %s" % lines)

    def test_the_dialog_speaks_the_users_language_and_shows_its_texts_whole_at_96_and_144_dpi(self):
        # Wine reads the resolution from the user's LogPixels as each process
        # starts; the launcher and the probe are both aware of it.
        self.addCleanup(self.wine.reg_delete_value, DESKTOP_KEY, "LogPixels")
        cases = (
            (harness.ENGLISH_UI, 96, ("Download progress:", "Done")),
            (harness.ENGLISH_UI, 144, ("Download progress:", "Done")),
            (harness.CHINESE_UI, 96, ("下载的进度：", "完成")),
            (harness.CHINESE_UI, 144, ("下载的进度：", "完成")),
        )
        for language, dpi, expected in cases:
            with self.subTest(language=language, dpi=dpi), serving() as server:
                self.wine.reg_add(DESKTOP_KEY, "LogPixels", str(dpi), kind="REG_DWORD")
                server.routes[DOWNLOAD_PATH] = serve_stall(self.installer_body())
                launcher = self.start_download(server.proxy, env=language)
                # Once the first bytes have arrived: the line under the bar has its figures.
                dialog = self.wait_for_dialog(launcher, server, where=line_of)
                self.assertEqual(dialog["title"], DIALOG_TITLE)
                self.assertEqual((control(dialog, LABEL_ID)["text"], control(dialog, DONE_ID)["text"]), expected)
                figures, _ = LINE_PATTERNS[language_of(language)]
                # 256 KiB read as 0.3 MB (0.25, rounded half up).
                self.assertRegex(line_of(dialog), "^" + figures.format(total=r"0\.3") + "$")
                fits = self.assert_texts_whole(
                    samples=[(LINE_ID, line) for line in LONGEST_LINES[language_of(language)]])
                # At 144 dpi the controls are half as big again as at 96: the resolution took.
                self.assertGreaterEqual(fits[LABEL_ID]["width"], 200 if dpi == 144 else 0, fits)
                launcher.kill()
                launcher.communicate(timeout=30)

    def test_the_line_under_the_bar_shows_the_megabytes_of_the_total_then_the_time_left_in_both_languages(self):
        size = 2621440  # 2.5 MB of 1,048,576 bytes
        body = self.installer_body(size)
        for language in (harness.ENGLISH_UI, harness.CHINESE_UI):
            with self.subTest(language=language), serving() as server:
                gate = threading.Event()
                # About 8 s once the gate opens: 40 pieces of 64 KiB, 0.2 s apart.
                trickle = serve_file(body, chunks=40, delay=0.2)

                def gated(handler, server, trickle=trickle, gate=gate):
                    gate.wait(60)
                    trickle(handler, server)
                server.routes[DOWNLOAD_PATH] = gated
                launcher = self.start_download(server.proxy, env=language)
                self.addCleanup(gate.set)
                # Asked, nothing answered yet: the line is empty.
                dialog = self.wait_for_dialog(launcher, server, where=lambda w: download_requests(server))
                self.assertEqual(line_of(dialog), "")
                gate.set()
                figures, time_left = LINE_PATTERNS[language_of(language)]
                figures = figures.format(total=r"2\.5")

                def part_way(pattern):
                    def check(window):
                        match = re.fullmatch(pattern, line_of(window))
                        return match is not None and float(match[1]) < 2.5
                    return check
                # Part-way with the total, and then, once the rate is known, the time left.
                self.wait_for_dialog(launcher, server, where=part_way(figures + f"({time_left})?"))
                self.wait_for_dialog(launcher, server, where=part_way(figures + time_left))
                launcher.kill()
                launcher.communicate(timeout=30)

    def test_the_checked_installer_cannot_be_renamed_while_it_runs(self):
        """Another process could rename the running installer's file and put
        another under its name, which a self-extracting installer would then
        unpack: the launcher's handle, without delete sharing, prevents it
        until the installer has ended. The installer still reads its own file."""
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body())
            launcher = self.start_download(server.proxy, env={"TARNIX_FAKE_INSTALLER_MODE": "rename"})
            launcher.communicate(timeout=60)
            self.assertEqual(launcher.returncode, 0)
            runs = self.installer_runs()
            self.assertEqual(runs[1:], ["read ok", "rename refused 32"], "32: ERROR_SHARING_VIOLATION")
            self.assertTrue(os.path.exists(self.temp_installer), "the installer stays in the temporary folder")
            _, argv, _ = self.host_record()
            self.assertEqual(argv[0].replace("\\\\", "\\"), self.host_target)

    def test_a_failed_download_shows_one_message_and_the_dialog_stays(self):
        # A failed transfer is tried three times; a 404 is the server's last
        # word, and a page that arrived whole with status 200 is not tried
        # again either. Each attempt's log line names the status the server or
        # proxy answered with (Wine hands a 404's page, and a proxy's 407 as
        # an empty file, over as success: the status fails them).
        cases = {
            "status 404": (serve_status(404), 1, "HTTP status 404"),
            "status 404 with a page": (serve_html(404), 1, "HTTP status 404"),
            "a proxy that wants credentials (407)": (serve_proxy_auth(), 3, "HTTP status 407"),
            "HTML page with status 200": (serve_html(), 1, "HTTP status 200"),
            "refused connection": (None, None, "no HTTP status"),
        }
        for name, (route, attempts, status) in cases.items():
            with self.subTest(name), serving() as server:
                self.clear_log()
                if route is not None:
                    server.routes[DOWNLOAD_PATH] = route
                launcher = self.start_download(server.proxy if route else refused_proxy())
                self.dismiss(DOWNLOAD_FAILED)
                # Nothing that is not a program is left for anyone to open.
                self.assertFalse(os.path.exists(self.temp_installer), name)
                self.assert_dialog_left_open_then_closed(launcher)
                if attempts is not None:
                    self.assertEqual(len(download_requests(server)), attempts, name)
                lines = self.log_lines()
                attempt_lines = attempt_ends(lines)
                self.assertEqual(len(attempt_lines), attempts or 3, lines)
                for line in attempt_lines:
                    self.assertRegex(line, r"^download attempt \d of 3: result 0x[0-9A-F]{8}, %s, " % status, name)

    def test_a_connection_reset_twice_is_retried_and_the_third_attempt_installs(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_in_turn(serve_reset(), serve_reset(),
                                                         serve_file(self.installer_body()))
            folder = self.app_folder()
            launcher = self.start_download(server.proxy, folder=folder)
            launcher.communicate(timeout=90)
            self.assertEqual(launcher.returncode, 0)
            _, argv, _ = self.host_record()
            self.assertEqual(argv[1], "--load-apps=" + folder)
            self.assertEqual(len(self.installer_runs()), 1, "the installer runs once")
            self.assertEqual(len(download_requests(server)), 3, server.requests)
            self.assertIsNone(self.probe.find(MESSAGE_TITLE))

            lines = self.log_lines()
            attempts = attempt_ends(lines)
            self.assertEqual(len(attempts), 3, lines)
            # A reset comes back as an error (or at times as a success without
            # a response); either way a failed attempt that no server answered.
            for line in attempts[:2]:
                self.assertRegex(line, r"^download attempt [12] of 3: result 0x[0-9A-F]{8}, no HTTP status, 0 bytes "
                                       r"received, \d+ ms, no HTTP response$")
            self.assertRegex(attempts[2],
                             r"^download attempt 3 of 3: result 0x00000000, HTTP status 200, \d+ bytes received, "
                             r"\d+ ms$")
            self.assertIn("download: pause of 2000 ms before attempt 2", lines)
            self.assertIn("download: pause of 5000 ms before attempt 3", lines)
            self.assertIn("installer check: trusted", lines)
            self.assertTrue(any(re.match(r'^start ".*TarnixSetup\.exe" \(\w+\): started$', line) for line in lines),
                            lines)
            self.assertTrue(any(re.match(r'^".*TarnixSetup\.exe" ended with exit code 0$', line) for line in lines),
                            lines)

    def test_a_download_that_breaks_off_every_time_fails_once_after_three_attempts(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_cut(self.installer_body())
            launcher = self.start_download(server.proxy)
            self.dismiss(DOWNLOAD_FAILED, timeout=60)
            self.assertEqual(len(download_requests(server)), 3, server.requests)
            # The last attempt's partial file is gone too.
            self.assertFalse(os.path.exists(self.temp_installer))
            dialog = self.probe.find(DIALOG_TITLE)
            self.assertLess(control(dialog, PROGRESS_ID)["pos"], 100)
            self.assert_dialog_left_open_then_closed(launcher)
            lines = self.log_lines()
            self.assertEqual(len(attempt_ends(lines)), 3, lines)
            self.assertIn("download failed after 3 attempts", lines)

    def assert_installed_once_from(self, launcher, body):
        """The launcher ended after one installer run, and that installer was
        exactly `body`: a whole genuine file, never a splice of two."""
        launcher.communicate(timeout=120)
        self.assertEqual(launcher.returncode, 0)
        self.assertEqual(len(self.installer_runs()), 1, "the installer runs once")
        with open(self.temp_installer, "rb") as installed:
            self.assertEqual(installed.read(), body)
        self.assertFalse(os.path.exists(self.temp_installer + ".partial"))
        self.assertFalse(os.path.exists(self.temp_installer + ".partial.txt"))

    def test_a_transfer_cut_at_half_resumes_with_range_and_if_range_and_installs_once(self):
        body = self.installer_body(size=1024 * 1024)
        half = len(body) // 2
        sent = []
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_in_turn(serve_resumable(body, cut_after=half, sent=sent),
                                                         serve_resumable(body, sent=sent))
            self.assert_installed_once_from(self.start_download(server.proxy), body)
            requests = download_requests(server)
            self.assertEqual(len(requests), 2, server.requests)
            self.assertNotIn("Range", requests[0]["headers"])
            self.assertEqual(requests[1]["headers"].get("Range"), f"bytes={half}-")
            self.assertEqual(requests[1]["headers"].get("If-Range"), '"v1"')
            self.assertLessEqual(sum(sent), 1.15 * len(body), sent)
            lines = self.log_lines()
            self.assertTrue(any(line.startswith("download attempt 2 of 3: \"http") and line.endswith(f" from byte {half}")
                                for line in lines), lines)
            self.assertRegex(attempt_ends(lines)[1], r"^download attempt 2 of 3: result 0x00000000, HTTP status 206, "
                                                     rf"{len(body) - half} bytes received, ")

    def assert_a_cut_then(self, first, cut, after, installed, resumed, requests=2):
        """A first answer `cut` that breaks off at half of `first`, then the
        answer `after`, then the whole of `installed`: the launcher installs
        exactly `installed`; the second request asks for a range only when
        `resumed`. The bytes of a first answer are kept only where a later
        range can be checked against them; anything else starts over, never
        splices."""
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_in_turn(cut, after, serve_resumable(installed))
            self.assert_installed_once_from(self.start_download(server.proxy), installed)
            sent = download_requests(server)
            self.assertEqual(len(sent), requests, sent)
            self.assertEqual("Range" in sent[1]["headers"], resumed, sent)
            self.assertNotIn("Range", sent[-1]["headers"] if requests == 3 else {}, sent)

    def test_after_a_cut_a_server_without_ranges_sends_the_whole_installer_again(self):
        body = self.installer_body(size=512 * 1024)
        self.assert_a_cut_then(body, serve_resumable(body, ranges=False, cut_after=len(body) // 2),
                               serve_resumable(body, ranges=False), body, resumed=True)

    def test_after_a_cut_a_changed_file_is_taken_whole_and_never_spliced(self):
        body = self.installer_body(size=512 * 1024)
        other = signing.fake_installer(self.work, 600 * 1024, "expected")
        self.assert_a_cut_then(body, serve_resumable(body, cut_after=len(body) // 2),
                               serve_resumable(other, etag='"v2"'), other, resumed=True)

    def test_after_a_cut_a_416_drops_the_partial_file_and_the_next_attempt_starts_over(self):
        body = self.installer_body(size=512 * 1024)
        self.assert_a_cut_then(body, serve_resumable(body, cut_after=len(body) // 2), serve_status(416), body,
                               resumed=True, requests=3)

    def test_after_a_cut_with_a_weak_etag_the_next_attempt_starts_over(self):
        body = self.installer_body(size=512 * 1024)
        self.assert_a_cut_then(body, serve_resumable(body, etag='W/"v1"', cut_after=len(body) // 2),
                               serve_resumable(body), body, resumed=False)

    def test_a_launcher_killed_halfway_leaves_its_partial_file_for_the_next_one_to_resume(self):
        body = self.installer_body(size=512 * 1024)
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_in_turn(serve_resumable(body, chunks=200, delay=0.1),
                                                         serve_resumable(body))
            killed = self.start_download(server.proxy)
            # The attempt's start is in the log while it runs.
            wait_until(lambda: any(line.startswith("download attempt 1 of 3: ") and line.endswith("from byte 0")
                                   for line in self.log_lines()), timeout=30, what="the attempt's start line")
            self.assertEqual(attempt_ends(self.log_lines()), [])
            partial = self.temp_installer + ".partial"
            wait_until(lambda: os.path.exists(partial) and os.path.getsize(partial) >= 64 * 1024, timeout=60,
                       what="a part of the file")
            killed.kill()
            killed.communicate(timeout=30)
            kept = os.path.getsize(partial)
            self.assertLess(kept, len(body))
            self.clear_log()
            self.assert_installed_once_from(self.start_download(server.proxy), body)
            resumed = download_requests(server)[1]["headers"]
            self.assertEqual(resumed.get("Range"), f"bytes={kept}-", resumed)
            self.assertIn(f"download: partial file of {kept} bytes of {len(body)} bytes kept, to be resumed",
                          self.log_lines())

    def test_a_partial_file_of_another_url_is_dropped_and_not_resumed(self):
        body = self.installer_body()
        with open(self.temp_installer + ".partial", "wb") as partial:
            partial.write(body[:1000])
        with open(self.temp_installer + ".partial.txt", "wb") as record:
            record.write(b'tarnix-partial 1\r\nurl=http://mirror.example/TarnixSetup.exe\r\nvalidator="v1"\r\n'
                         b"total=%d\r\n" % len(body))
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_resumable(body)
            self.assert_installed_once_from(self.start_download(server.proxy), body)
            self.assertNotIn("Range", download_requests(server)[0]["headers"])
            self.assertIn("download: partial file of 1000 bytes dropped: it came from another URL", self.log_lines())

    def test_closing_the_dialog_while_it_waits_to_try_again_ends_the_process_at_once(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_reset()
            launcher = self.start_download(server.proxy)
            wait_until(lambda: any(line.startswith("download: pause") for line in self.log_lines()),
                       timeout=30, what="the pause after the first attempt")
            self.assertTrue(self.probe.close(DIALOG_TITLE))
            stdout, stderr = launcher.communicate(timeout=10)
            self.assertEqual(launcher.returncode, 0, stderr)
            # The process ends by terminating itself, which flushes nothing:
            # the line was written out when it was printed.
            self.assertRegex(stdout, PATHVAR_LINE + r"\Z")
            self.assertIsNone(self.probe.find(MESSAGE_TITLE))
            self.assertFalse(os.path.exists(self.installer_log), "no installer may run")

    def test_two_launchers_started_together_install_once_and_both_start_their_host(self):
        with serving() as server:
            # Slow enough that the second launcher starts while the first downloads.
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body(), chunks=8, delay=0.3)

            def slow_report(handler, server):
                # The installing launcher stays for its report; the other one must not wait for that.
                server.stalled.wait(6)
                send_body(handler, b"ok", "text/plain")
            server.routes["/report"] = slow_report
            launchers = []
            host_logs = []
            for name in ("first", "second"):
                host_logs.append(os.path.join(self.work, name + "-host.log"))
                env = {"TARNIX_FAKE_HOST_LOG": "Z:" + host_logs[-1].replace("/", "\\")}
                launchers.append((self.start_download(server.proxy, folder=self.app_folder(name), env=env), name))
            wait_until(lambda: all(os.path.exists(path) for path in host_logs), timeout=60, what="both hosts")
            # The installation is over once the installing launcher's host has started: the lock goes
            # then, not when that launcher ends after its report.
            installing = [text for text in self.log_lines() if text.startswith("launch: ")][0]
            installer_launcher = next(launcher for launcher, name in launchers if installing.endswith("\\%s\"" % name))
            self.assertIsNone(installer_launcher.poll(), "the waiting launcher waited for the other one's report")
            for launcher, _ in launchers:
                launcher.communicate(timeout=120)
                self.assertEqual(launcher.returncode, 0)

            self.assertEqual(len(download_requests(server)), 1, server.requests)
            self.assertEqual(len(self.installer_runs()), 1, "the installer runs once")
            for path, (_, name) in zip(host_logs, launchers):
                wait_until(lambda: os.path.exists(path), what=f"the {name} launcher's host")
                self.assertHostLoaded(path, name)
            reports = [r for r in server.requests if "/report?" in r["path"]]
            self.assertEqual(len(reports), 2, server.requests)

            entries = harness.read_launch_log(self.wine)
            waited = {pid for pid, text in entries if text == "install lock: held by another launcher; waiting"}
            self.assertEqual(len(waited), 1, entries)
            waiter = waited.pop()
            texts_of_waiter = [text for pid, text in entries if pid == waiter]
            self.assertTrue(any(t.startswith("install lock: taken after the wait")
                                                         for t in texts_of_waiter), texts_of_waiter)
            self.assertTrue(any(t.endswith(": present") for t in texts_of_waiter), texts_of_waiter)
            self.assertFalse(any(t.startswith("download attempt") for t in texts_of_waiter), texts_of_waiter)

    def host_log_env(self, name):
        """A fake host record of its own for one of several launchers: (its path, the env)."""
        path = os.path.join(self.work, name + "-host.log")
        return path, {"TARNIX_FAKE_HOST_LOG": "Z:" + path.replace("/", "\\")}

    def assertHostLoaded(self, host_log, folder):
        """The fake host whose record is `host_log` was given the application folder `folder`."""
        with open(host_log, encoding="utf-8") as record:
            argv = record.read().split("\n")[1:-2]
        self.assertEqual(argv[1], "--load-apps=" + self.case_dir + "\\" + folder)

    def wait_for_lock_waiter(self):
        wait_until(lambda: "install lock: held by another launcher; waiting" in self.log_lines(), timeout=60,
                   what="the second launcher to wait for the lock")

    def test_closing_the_dialog_during_the_download_lets_a_waiting_launcher_go_on(self):
        body = self.installer_body()
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_in_turn(serve_file(body, chunks=64, delay=0.5), serve_file(body))
            first_host, first_env = self.host_log_env("first")
            second_host, second_env = self.host_log_env("second")
            first = self.start_download(server.proxy, folder=self.app_folder("first"), env=first_env)
            self.wait_for_dialog(first, server, where=lambda w: control(w, PROGRESS_ID)["pos"] > 0, timeout=45)
            second = self.start_download(server.proxy, folder=self.app_folder("second"), env=second_env)
            self.wait_for_lock_waiter()
            self.assertTrue(self.probe.close(DIALOG_TITLE))
            first.communicate(timeout=10)
            self.assertEqual(first.returncode, 0)
            # The waiter takes the lock, finds the host still missing and installs it itself.
            second.communicate(timeout=120)
            self.assertEqual(second.returncode, 0)
            self.assertFalse(os.path.exists(first_host), "the closed launcher starts no host")
            self.assertHostLoaded(second_host, "second")
            self.assertEqual(len(download_requests(server)), 2, server.requests)
            self.assertEqual(len(self.installer_runs()), 1, "only the second launcher's installer runs")
            lines = self.log_lines()
            self.assertIn("dialog closed before the installer started", lines)
            self.assertTrue(any(line.startswith("install lock: taken after the wait") for line in lines), lines)

    def test_closing_the_dialog_while_the_installer_runs_keeps_the_lock_until_it_has_ended(self):
        """The dialog goes at once, but the launcher stays, with nothing on
        screen and the lock held, until the installer has ended; it then ends
        without starting the host. A launcher that waited meanwhile finds the
        host then and starts it directly: one download, one installer run."""
        gate = os.path.join(self.work, "installer.gate")
        installer_env = {"TARNIX_FAKE_INSTALLER_MODE": "wait",
                         "TARNIX_FAKE_INSTALLER_GATE": "Z:" + gate.replace("/", "\\")}
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body())
            first_host, first_env = self.host_log_env("first")
            second_host, second_env = self.host_log_env("second")
            first = self.start_download(server.proxy, folder=self.app_folder("first"),
                                        env={**installer_env, **first_env})
            wait_until(lambda: os.path.exists(self.installer_log), timeout=60, what="the installer to run")
            second = self.start_download(server.proxy, folder=self.app_folder("second"),
                                         env={**installer_env, **second_env})
            self.wait_for_lock_waiter()

            self.assertTrue(self.probe.close(DIALOG_TITLE))
            wait_until(lambda: "dialog closed while the installer runs; waiting for it" in self.log_lines(),
                       what="the close to be logged")
            self.assertIsNone(self.probe.find(DIALOG_TITLE), "the dialog goes at once, and the waiter shows none")
            # Once the launcher gave the lock up here, the waiter would take it
            # and download within a second or two: give it time to go wrong
            # before the installer may end.
            time.sleep(3)
            self.assertIsNone(first.poll(), "the launcher stays while the installer runs")
            self.assertIsNone(second.poll(), "the waiter still waits")
            self.assertEqual(len(download_requests(server)), 1, server.requests)
            self.assertEqual([w["title"] for w in self.probe.windows() if w["title"] in (DIALOG_TITLE, MESSAGE_TITLE)],
                             [], "nothing on screen")

            open(gate, "w").close()
            first.communicate(timeout=60)
            self.assertEqual(first.returncode, 0)
            second.communicate(timeout=60)
            self.assertEqual(second.returncode, 0)

            self.assertFalse(os.path.exists(first_host), "the closed launcher starts no host")
            self.assertHostLoaded(second_host, "second")
            self.assertEqual(len(download_requests(server)), 1, server.requests)
            self.assertEqual(len(self.installer_runs()), 1, "the installer runs once")

            entries = harness.read_launch_log(self.wine)
            texts_in_order = [text for _, text in entries]
            ended = texts_in_order.index("installer ended after the dialog closed; the host is not started")
            taken = next(i for i, text in enumerate(texts_in_order)
                         if text.startswith("install lock: taken after the wait"))
            self.assertLess(ended, taken, "the lock goes only after the installer has ended")
            waiter = next(pid for pid, text in entries if text.startswith("install lock: taken after the wait"))
            texts_of_waiter = [text for pid, text in entries if pid == waiter]
            self.assertTrue(any(t.endswith(": present") for t in texts_of_waiter), texts_of_waiter)
            self.assertFalse(any(t.startswith("download attempt") for t in texts_of_waiter), texts_of_waiter)
            # It came while the installer ran: the installing launcher named nobody then.
            self.assertNotIn("install lock: brought the installing launcher's window to the front",
                             texts_of_waiter)

    def launcher_log(self, pid_of_line):
        """The launch log's texts of the one launcher that wrote a line for which `pid_of_line` holds."""
        entries = harness.read_launch_log(self.wine)
        pids = {pid for pid, text in entries if pid_of_line(text)}
        self.assertEqual(len(pids), 1, entries)
        pid = pids.pop()
        return [text for line_pid, text in entries if line_pid == pid]

    def test_a_waiting_launcher_brings_the_installing_launchers_window_to_the_front(self):
        trickle = serve_file(self.installer_body(), chunks=400, delay=0.5)  # minutes: the dialog stays up
        cases = [
            # (name, the installing launcher's route, the window it shows, what that window is)
            ("the download dialog", trickle, DIALOG_TITLE, lambda w: True),
            ("its failure box in front of the disabled dialog", serve_status(404), MESSAGE_TITLE,
             lambda w: DOWNLOAD_FAILED in texts(w)),
        ]
        for name, route, title, is_it in cases:
            with self.subTest(name), serving() as server:
                self.clear_log()
                server.routes[DOWNLOAD_PATH] = route
                started = []
                try:
                    started.append(self.start_download(server.proxy, folder=self.app_folder("installing")))
                    shown = self.probe.wait_for(title, timeout=60, where=is_it)
                    started.append(self.probe.open_front("tarnix-e2e-other"))
                    waiting = self.start_download(server.proxy, folder=self.app_folder("waiting"))
                    started.append(waiting)
                    wait_until(lambda: (self.probe.foreground() or {}).get("title") == title, timeout=20,
                               what=f"{title!r} in front")
                    self.assertEqual(self.probe.foreground()["pid"], shown["pid"])
                    texts_of_waiter = self.launcher_log(lambda t: t.startswith("install lock: held by another"))
                    self.assertIn("install lock: brought the installing launcher's window to the front",
                                  texts_of_waiter)
                    # It waits on, with no window of its own.
                    self.assertIsNone(waiting.poll())
                    ours = {w["pid"] for w in self.probe.windows() if w["title"] in (DIALOG_TITLE, MESSAGE_TITLE)}
                    self.assertEqual(ours, {shown["pid"]})
                finally:
                    for process in started:
                        process.kill()
                        process.communicate(timeout=30)

    def test_launchers_that_waited_report_their_own_application_names(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body(), chunks=16, delay=0.5)
            server.routes["/report"] = lambda handler, server: send_body(handler, b"ok", "text/plain")
            launchers = {}
            for name in ("Installing", "Waiting_A", "Waiting_B"):
                env = {"TARNIX_FAKE_HOST_LOG": "Z:" + os.path.join(self.work, name + "-host.log").replace("/", "\\")}
                launchers[name] = self.start_download(server.proxy, folder=self.app_folder(name), env=env,
                                                      args=["--appname=" + name])
                if name == "Installing":
                    self.wait_for_dialog(launchers[name], server)
            wait_until(lambda: self.log_lines().count("install lock: held by another launcher; waiting") == 2,
                       timeout=30, what="both launchers to wait")
            for name, launcher in launchers.items():
                stdout, _ = launcher.communicate(timeout=120)
                self.assertEqual(launcher.returncode, 0, name)
                reports = re.findall(r"/report\?\S*", stdout)
                self.assertEqual(len(reports), 1, (name, stdout))
                self.assertIn("&app_name=%s&" % name.lower(), reports[0], name)
            self.assertEqual(len(download_requests(server)), 1, server.requests)
            names = sorted(re.search(r"app_name=([^&]*)", r["path"])[1] for r in server.requests if "/report?" in r["path"])
            self.assertEqual(names, ["installing", "waiting_a", "waiting_b"])

    def test_a_launcher_killed_while_it_installs_leaves_the_lock_to_the_waiting_one(self):
        with serving() as server:
            trickle = serve_file(self.installer_body(), chunks=400, delay=0.5)
            server.routes[DOWNLOAD_PATH] = serve_in_turn(trickle, serve_file(self.installer_body()))
            killed = self.start_download(server.proxy, folder=self.app_folder("killed"))
            self.wait_for_dialog(killed, server)
            waiting = self.start_download(server.proxy, folder=self.app_folder("waiting"))
            wait_until(lambda: "install lock: held by another launcher; waiting" in self.log_lines(), timeout=30,
                       what="the second launcher to wait")
            killed.kill()
            killed.communicate(timeout=30)
            waiting.communicate(timeout=90)
            self.assertEqual(waiting.returncode, 0)
            _, argv, _ = self.host_record()
            self.assertEqual(argv[1], "--load-apps=" + self.case_dir + "\\waiting")
            texts_of_waiter = self.launcher_log(lambda t: t == "install lock: held by another launcher; waiting")
            self.assertIn("install lock: taken after the wait (abandoned by its holder)", texts_of_waiter)
            self.assertEqual(len(download_requests(server)), 2, server.requests)
            self.assertEqual(len(self.installer_runs()), 1, "the installer runs once")

    def test_only_an_installer_signed_by_the_expected_signer_runs(self):
        if not signing.EXPECTED_SIGNER:
            self.skipTest("this build runs unsigned installers (TARNIX_INSTALLER_SIGNER is empty)")
        tampered = bytearray(self.installer_body())
        tampered[len(tampered) // 2] ^= 0x01  # in the padding: the program itself would still run
        cases = {
            "unsigned": self.installer_body(signer=None),
            "signed by another name": self.installer_body(signer="other"),
            "one byte changed after signing": bytes(tampered),
        }
        for name, body in cases.items():
            with self.subTest(name), serving() as server:
                server.routes[DOWNLOAD_PATH] = serve_file(body)
                launcher = self.start_download(server.proxy)
                self.dismiss(DOWNLOAD_FAILED)
                self.assertFalse(os.path.exists(self.temp_installer), f"{name}: the file must be deleted")
                self.assert_dialog_left_open_then_closed(launcher)

    def test_closing_the_dialog_during_a_slow_download_ends_the_process_at_once(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body(), chunks=64, delay=0.5)
            launcher = self.start_download(server.proxy)
            self.wait_for_dialog(launcher, server, where=lambda w: control(w, PROGRESS_ID)["pos"] > 0, timeout=45)
            self.assertTrue(self.probe.close(DIALOG_TITLE))
            stdout, stderr = launcher.communicate(timeout=10)
            self.assertEqual(launcher.returncode, 0, stderr)
            # The process ends by terminating itself, which flushes nothing:
            # the line was written out when it was printed.
            self.assertRegex(stdout, PATHVAR_LINE + r"\Z")
            self.assertIsNone(self.probe.find(MESSAGE_TITLE))
            self.assertFalse(os.path.exists(self.installer_log), "no installer may run")

    def test_an_installer_that_installs_nothing_gives_one_message_then_exit_code_0(self):
        with serving() as server:
            server.routes[DOWNLOAD_PATH] = serve_file(self.installer_body())
            launcher = self.start_download(server.proxy, env={"TARNIX_FAKE_INSTALLER_MODE": "nothing"})
            # The download, the installer's run and the launch come first: on a
            # loaded machine that takes longer than a box alone.
            box = self.message(timeout=90)
            self.assertIn(RUN_APP_FAILED, texts(box))
            dialog = self.probe.find(DIALOG_TITLE)
            self.assertEqual(control(dialog, PROGRESS_ID)["pos"], 200)
            self.assertIsNone(launcher.poll(), "the box waits for the user")
            self.assertTrue(self.probe.click(MESSAGE_TITLE, 1))
            launcher.communicate(timeout=20)
            self.assertEqual(launcher.returncode, 0)
            self.assertTrue(os.path.exists(self.installer_log), "the installer ran")
            self.assert_host_not_started()

    def test_a_server_that_stops_sending_fails_the_download_after_the_stall_limit(self):
        limit = int(build_setting("TARNIX_DOWNLOAD_STALL_SECONDS", "60"))
        with serving() as server:
            # The stall fails the first attempt; the retries meet resets, so
            # that the test waits for the stall limit only once.
            server.routes[DOWNLOAD_PATH] = serve_in_turn(serve_stall(self.installer_body()), serve_reset())
            launcher = self.start_download(server.proxy)
            wait_until(lambda: server.requests, what="the download request")
            asked = time.monotonic()
            wait_until(lambda: len(download_requests(server)) > 1, timeout=limit + 30, what="the second attempt")
            waited = time.monotonic() - asked
            self.assertGreaterEqual(waited, limit - 1, "failed before the stall limit")
            self.dismiss(DOWNLOAD_FAILED)
            self.assertEqual(len(download_requests(server)), 3, server.requests)
            self.assert_dialog_left_open_then_closed(launcher)


if __name__ == "__main__":
    unittest.main()
