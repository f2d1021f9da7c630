"""The direct branch: the host is installed and current, the launcher starts
it with the right command line and ends."""

import os
import re
import shutil
import unittest

import harness
from harness import LauncherTestCase, texts, wait_until

MESSAGE_TITLE = "TarnixLauncher"
RUN_APP_FAILED = "运行App失败！"
# The title of Wine's own box for a file the shell cannot start, in English and in Chinese.
WINE_ERROR_TITLES = ("Error", "错误")
# The failure box's text for each UI language: today's Chinese text for a
# Chinese Windows, English for every other.
RUN_APP_FAILED_BY_LANGUAGE = (
    (harness.CHINESE_UI, RUN_APP_FAILED),
    (harness.ENGLISH_UI, "The application could not be started."),
)


def wait_for_failure_message(probe, timeout=20.0):
    """Waits for the launcher's message after a host the shell cannot start:
    Wine reports the bad file in a box of its own first, which is dismissed.
    Returns the message window and whether such a box was dismissed."""
    dismissed = []

    def our_message():
        for window in probe.windows():
            if window["title"] == MESSAGE_TITLE:
                return window
            if window["title"] in WINE_ERROR_TITLES:
                dismissed.append(probe.click(window["title"], 1))
        return None

    return wait_until(our_message, timeout=timeout, what="the failure message"), any(dismissed)


class DirectLaunchTest(LauncherTestCase):

    def test_starts_the_host_with_the_work_area_size_and_ends(self):
        self.install_host()
        folder = self.app_folder()
        result = self.run_launcher(folder=folder)
        self.assertEqual(result.returncode, 0)
        command_line, argv, cwd = self.host_record()
        self.assertEqual(argv[1], "--load-apps=" + folder)
        size = re.fullmatch(r"--tarnix-host-window-size=(\d+)x(\d+)", argv[2])
        self.assertIsNotNone(size, argv)
        self.assertLessEqual((int(size[1]), int(size[2])), (1366, 768))
        self.assertEqual(argv[3:], ["--no-sandbox"])
        self.assertTrue(command_line.endswith(" --load-apps=%s %s --no-sandbox" % (folder, argv[2])), command_line)
        self.assertEqual(cwd, folder)  # the host inherits the launcher's folder
        self.assertEqual(self.probe.find(MESSAGE_TITLE), None)

    def test_the_host_has_written_its_record_when_the_launchers_output_closes(self):
        # The checks that nothing was started rely on this: a program started
        # through the shell holds the launcher's output pipes until it ends.
        self.install_host()
        self.assertEqual(self.run_launcher().returncode, 0)
        self.assertTrue(os.path.exists(self.host_log), "the record came after the launcher's output closed")

    def test_switches_in_any_order_and_case_reach_the_host(self):
        self.install_host()
        folder = self.app_folder()
        orders = [
            ["--appname=Foo", "--appwindowsize=800x600", "--appversion=2.0.1"],
            ["--APPVERSION=2.0.1", "--appwindowsize=800X600", "--AppName=Foo"],
        ]
        for args in orders:
            with self.subTest(args=args):
                if os.path.exists(self.host_log):
                    os.remove(self.host_log)
                self.assertEqual(self.run_launcher(args, folder=folder).returncode, 0)
                _, argv, _ = self.host_record()
                self.assertEqual(argv[1:], ["--load-apps=" + folder, "--tarnix-host-window-size=800x600",
                                            "--no-sandbox"])

    def test_oversized_window_is_fitted_to_the_work_area(self):
        self.install_host()
        self.run_launcher()
        _, default_argv, _ = self.host_record()
        os.remove(self.host_log)
        self.run_launcher(["--appwindowsize=4000x3000"])
        _, fitted_argv, _ = self.host_record()
        self.assertEqual(fitted_argv[2], default_argv[2])

    def test_folder_with_blanks_and_chinese_reaches_the_host_whole(self):
        self.install_host()
        folder = self.app_folder("我的 应用 folder")
        self.run_launcher(["--appname=demo"], folder=folder)
        command_line, argv, _ = self.host_record()
        self.assertEqual(argv[1], "--load-apps=" + folder)
        self.assertIn('--load-apps="%s"' % folder, command_line)

    def test_host_missing_old_or_a_folder_is_not_started(self):
        cases = {
            "version 1.0.0.77": dict(version="1.0.0.77"),
            "no version": dict(version=None),
            "install_dir is a folder": dict(folder=True),
        }
        for name, case in cases.items():
            with self.subTest(name):
                self.wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
                host = self.install_host(version=case.get("version", "1.0.0.78"))
                if case.get("folder"):
                    self.wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", os.path.dirname(host)
                                      if "/" in host else host.rsplit("\\", 1)[0])
                # The launcher offers the download instead; a server that never
                # finishes it keeps the dialog quiet until it is closed.
                with harness.serving() as server:
                    server.routes[harness.DOWNLOAD_PATH] = harness.serve_stall(bytes(64 * 1024))
                    launcher = self.start_launcher(env={"http_proxy": server.proxy})
                    self.probe.wait_for("TarnixDownload")
                    self.probe.close("TarnixDownload")
                    launcher.communicate(timeout=30)
                self.assert_host_not_started()

    def test_a_full_log_is_moved_aside_and_a_new_one_started(self):
        self.install_host()
        path = harness.launch_log_path(self.wine)
        full = ("2026-01-01 00:00:00.000 [1] %s\r\n" % ("x" * 70)).encode() * (1024 * 1024 // 100 + 1)
        for name, content in ((path + ".1", b"older\r\n"), (path, full)):
            with open(name, "wb") as log:
                log.write(content)
        self.assertEqual(self.run_launcher(env={"http_proxy": harness.refused_proxy()}).returncode, 0)
        self.host_record()
        with open(path + ".1", "rb") as old:
            self.assertEqual(old.read(), full, "the full log replaced the older one")
        lines = self.log_lines()
        self.assertTrue(lines and lines[0].startswith("launcher started with"), lines)

    def test_a_host_the_shell_cannot_start_gives_one_failure_message_in_the_users_language(self):
        host = self.install_host()
        with open(self.wine.unix_path(host), "wb") as broken:
            broken.write(b"not a program")
        for language, text in RUN_APP_FAILED_BY_LANGUAGE:
            with self.subTest(language=language):
                self.clear_log()
                launcher = self.start_launcher(env=language)
                message, _ = wait_for_failure_message(self.probe)
                self.assertIn(text, texts(message))
                # One button, OK (its text is the system's, in its language).
                self.assertEqual([c["id"] for c in message["children"] if c["class"].lower() == "button"], [1])
                self.assertEqual(message["title"], MESSAGE_TITLE)
                self.assertIsNone(launcher.poll(), "the launcher must wait for the message to be closed")
                self.probe.click(MESSAGE_TITLE, 1)
                launcher.wait(timeout=30)
                self.assertIsNone(self.probe.find(MESSAGE_TITLE), "exactly one message")
                # The log names the refusal with the shell's error code (which
                # Wine leaves at 0 after showing its own box), in every language.
                host_pattern = re.escape('"%s"' % host.replace("\\", "\\\\"))
                lines = self.log_lines()
                self.assertTrue(any(re.match("^start %s \\(\\w+\\): not started, error \\d+$" % host_pattern,
                                             line) for line in lines), lines)

    def test_a_direct_launch_leaves_its_steps_in_the_log_and_prints_nothing_new(self):
        host = self.install_host()
        folder = self.app_folder()
        result = self.run_launcher(["--appname=Logged", "--appversion=2.0.1", "--appwindowsize=800x600"],
                                   folder=folder, env={"http_proxy": harness.refused_proxy()})
        self.assertEqual(result.returncode, 0)
        self.host_record()
        self.assertEqual(result.stdout, "", "a direct launch without a statistics server prints nothing")
        entries = harness.read_launch_log(self.wine)
        self.assertEqual(len({pid for pid, _ in entries}), 1, entries)
        lines = [text for _, text in entries]
        # The first line names the version and the installer's URL in force (no policy here).
        self.assertRegex(lines[0], r'^launcher started with "--appname=Logged --appversion=2\.0\.1 '
                                   r'--appwindowsize=800x600": version 1\.0\.0\.86, download URL "http[^"]+" '
                                   r'\(built in\)$')
        self.assertIn('host lookup: "%s" version "1.0.0.78": present' % host, lines)
        self.assertIn('launch: appname "logged", appversion "2.0.1", appwindowsize "800x600" fitted to 800x600, '
                      'folder "%s"' % folder, lines)
        host_pattern = re.escape('"%s"' % host.replace("\\", "\\\\"))
        self.assertTrue(any(re.match("^start %s \\(\\w+\\): started$" % host_pattern, line) for line in lines),
                        lines)
        # The report's work waits for the host's start to settle (the fake
        # host never waits for input: it ends, or the second runs out); then
        # the statistics server refuses: the failure is named, never the URL.
        report = [line for line in lines if line.startswith("report: ")]
        self.assertEqual(len(report), 2, lines)
        self.assertRegex(report[0], r"^report: the host (waits for input|has ended|still starting at the "
                                    r"time limit), \d+ ms$")
        self.assertRegex(report[1], r"^report: request failed, WinINet error \d+, \d+ ms$")
        self.assertFalse(any("guid" in line or "softid" in line for line in lines), lines)
        # The direct start never touches the installation's lock.
        self.assertFalse(any(line.startswith("install lock") for line in lines), lines)


if __name__ == "__main__":
    unittest.main()
