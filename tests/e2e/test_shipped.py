"""The shipped file itself, run end to end: the i686 launcher that users get.

It runs in a 64-bit prefix of its own, booted where 32-bit Linux programs
start (natively, or through an emulator registered for them in binfmt_misc,
which scripts/test arranges where the kernel refuses them): Wine then gives
the prefix its 32-bit half. The helper programs (fake host, window probe) and
Wine's own tools are the x86-64 ones, so under the emulator only the launcher
is emulated, at about a minute of start-up for each of its starts. The
download branch stays with the other modules: Wine's exception dispatch fails
under the emulator."""

import os
import unittest

import harness
from harness import LauncherTestCase, refused_proxy, serving, texts
from report_server import Answer, report_requests
from test_launch import MESSAGE_TITLE, RUN_APP_FAILED, wait_for_failure_message
from test_report import COMMON_STORE, assert_one_report, report_host

# A test time-out, not a speed figure: an emulated launcher takes minutes on a
# loaded machine, a native one seconds.
LAUNCH_TIMEOUT = 600.0


class ShippedFileTest(LauncherTestCase):
    loader, launcher, programs = harness.WINE64, harness.SHIPPED, harness.X64_PROGRAMS
    prefix = harness.PREFIX + "-shipped"
    # Booting starts 32-bit programs too, each emulated on such machines.
    prefix_boot_timeout = 1200

    @classmethod
    def setUpClass(cls):
        # A prefix booted without a 32-bit loader would lack its 32-bit half.
        harness.require(harness.wine32_mode(), "a 32-bit Wine loader that starts (where the kernel refuses "
                        "32-bit programs, scripts/test registers qemu-i386-static for them in binfmt_misc)")
        super().setUpClass()

    def setUp(self):
        super().setUp()
        self.store = self.wine.unix_path(COMMON_STORE)
        if os.path.exists(self.store):
            os.remove(self.store)

    def test_direct_launch_starts_the_host_and_reports_once_with_the_identity_stored(self):
        self.install_host()
        folder = self.app_folder()
        with serving() as server:
            server.routes["/report"] = Answer(b"report-ok")
            result = self.run_launcher(["--appname=Shipped_App", "--appversion=3.2.1", "--appwindowsize=800x600"],
                                       folder=folder, env={"http_proxy": server.proxy}, timeout=LAUNCH_TIMEOUT)
            requests = report_requests(server)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, argv, cwd = self.host_record()
        self.assertEqual(argv[1:], ["--load-apps=" + folder, "--tarnix-host-window-size=800x600", "--no-sandbox"])
        self.assertEqual(cwd, folder)

        query, match = assert_one_report(self, requests, r"app_name=shipped_app&client_version=3\.2\.1")
        self.assertEqual(match[1][-3:], "000")
        url = "http://%s/report?%s" % (report_host(), query)
        self.assertEqual(result.stdout.replace("\r\n", "\n"), url + "\nreport-ok")
        with open(self.store, "rb") as store:
            record = store.read()
        self.assertEqual(len(record), 52)
        self.assertEqual(record[:20].hex(), "02000000" + match[2])

    def test_a_host_the_shell_cannot_start_gives_the_failure_message_then_exit_code_0(self):
        host = self.install_host()
        with open(self.wine.unix_path(host), "wb") as broken:
            broken.write(b"not a program")
        launcher = self.start_launcher(env={"http_proxy": refused_proxy()})
        message, dismissed = wait_for_failure_message(self.probe, timeout=LAUNCH_TIMEOUT)
        self.assertTrue(dismissed, "Wine's own error box came first")
        self.assertIn(RUN_APP_FAILED, texts(message))
        self.assertIsNone(launcher.poll(), "the launcher must wait for the message to be closed")
        self.probe.click(MESSAGE_TITLE, 1)
        launcher.communicate(timeout=LAUNCH_TIMEOUT)
        self.assertEqual(launcher.returncode, 0)
        self.assertIsNone(self.probe.find(MESSAGE_TITLE), "exactly one message")

    def test_a_usage_report_policy_in_the_machines_64_bit_view_turns_the_report_off(self):
        """The shipped 32-bit launcher runs under WOW64 here: it opens the
        policy key with KEY_WOW64_64KEY, and finds the value there."""
        key = r"HKLM\SOFTWARE\Policies\Korvane\Tarnix"
        self.addCleanup(self.wine.reg_delete, key, 64)
        self.wine.reg_add(key, "UsageReport", "0", "REG_DWORD", view=64)
        self.install_host()
        with serving() as server:
            server.routes["/report"] = Answer(b"report-ok")
            result = self.run_launcher(env={"http_proxy": server.proxy}, timeout=LAUNCH_TIMEOUT)
            requests = report_requests(server)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.host_record()
        self.assertEqual(requests, [])
        self.assertEqual(result.stdout, "")
        self.assertFalse(os.path.exists(self.store))
        self.assertIn("policy: UsageReport in HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Korvane\\Tarnix is 0: "
                      "the usage report is turned off", self.log_lines())


if __name__ == "__main__":
    unittest.main()
