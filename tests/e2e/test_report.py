"""The launch report under Wine: one GET per launch through the local server
(reached as the proxy), its exact query, the echo on standard output, the
machine identity kept in the identity store, and the report running beside
the host's start: the host does not wait for the statistics server, and the
launcher waits for it, hidden, only within the report's budget."""

import getpass
import os
import re
import shutil
import subprocess
import time
import unittest
import urllib.parse

import harness
import signing
from harness import PATHVAR_LINE, LauncherTestCase, serving, wait_until
from report_server import (Answer, Delayed, Endless, HangUp, Stall, Trickle, refused_proxy,
                           report_requests)

FIXED_QUERY = "softid=136&serviceid=10400&cmdid=1630&1=1"
COMMON_STORE = r"C:\ProgramData\Korvane\Common\Global.db"
USER_STORE = "C:\\users\\" + getpass.getuser() + r"\AppData\Roaming\Korvane\Common\Global.db"
# A test time-out, not a speed figure: the launcher stays for its report at
# most 10 s from the report's start, plus Wine's start-up, which is slow on a
# loaded machine. A launcher that waited for the server instead would still be
# waiting here: the stalled server holds out for minutes, and the trickle's
# headers alone take longer than this.
LAUNCHER_END_TIMEOUT = 45.0
DELAYED_BODY = b"report-ok after a wait\nsecond line"
# The download dialog's trace of the installer's path (no line break follows).


def end_if_running(process):
    """Ends a launcher that a failed test left running (ending `wine` ends the
    Windows process)."""
    if process.poll() is None:
        process.kill()
        process.communicate(timeout=30)


def slow_servers():
    """The statistics servers that answer late or never, by name: a route
    factory each, None for a refused connection."""
    return {
        "answers after 3 s": lambda: Delayed(3.0, DELAYED_BODY),
        "never answers": Stall,
        "one byte a second": lambda: Trickle(1.0, b"x" * 64, padding=40),
        "refused connection": None,
    }


def report_host():
    """The statistics host the launcher under test was built with."""
    url = harness.build_setting("TARNIX_REPORT_URL", "http://stats.tarnix.example/report?" + FIXED_QUERY)
    return urllib.parse.urlsplit(url).netloc


def assert_one_report(test, requests, fields):
    """Checks that `requests` (those of one launch) are one report with the
    exact query, `fields` being a pattern of its app_name and client_version
    part. Returns the query and its match: (1) the time, (2) the identity."""
    test.assertEqual(len(requests), 1, requests)
    path, query = requests[0]
    test.assertEqual(path, "/report")
    match = re.fullmatch(FIXED_QUERY + "&" + fields + r"&times=(\d+)&guid=([0-9a-f]{32})", query)
    test.assertIsNotNone(match, query)
    return query, match


def v1_record(identity):
    return b"\x01\x00\x00\x00" + identity


def ensure_locales(*names):
    """Generates the Unix locales that Wine is to run in (it takes its ANSI code
    page from the locale, and reads the command line as 7-bit text without it),
    as scripts/test does."""
    script = 'source "$0/scripts/lib.sh" && ensure_locales "$@"'
    result = subprocess.run(["bash", "-c", script, harness.ROOT, *names], capture_output=True,
                            text=True, timeout=600)
    if result.returncode != 0:
        raise AssertionError("cannot generate the locales %s: %s" % (names, result.stderr))


class ReportTest(LauncherTestCase):

    def setUp(self):
        super().setUp()
        self.clear_stores()
        # Planted identities must not reach later tests or modules.
        self.addCleanup(self.clear_stores)

    # --- helpers ---

    def store_path(self, where):
        return self.wine.unix_path(COMMON_STORE if where == "common" else USER_STORE)

    def store_folder_files(self, where="common"):
        folder = os.path.dirname(self.store_path(where))
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def clear_stores(self):
        """Removes the stores and every file beside them ("Global.db.*": the
        writers' temporary and backup files)."""
        for where in ("common", "user"):
            folder = os.path.dirname(self.store_path(where))
            for name in self.store_folder_files(where):
                if name == "Global.db" or name.startswith("Global.db."):
                    path = os.path.join(folder, name)
                    if os.path.isdir(path):
                        shutil.rmtree(path)
                    else:
                        os.remove(path)

    def read_store(self, where="common"):
        with open(self.store_path(where), "rb") as store:
            return store.read()

    def plant_store(self, where, record):
        path = self.store_path(where)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as store:
            store.write(record)

    def launch(self, server, args=(), env=None):
        """Runs one launch against `server`; returns (stdout, the report
        requests of this launch, seconds before and after)."""
        if os.path.exists(self.host_log):
            os.remove(self.host_log)
        before = len(report_requests(server))
        start = int(time.time())
        result = self.run_launcher(list(args), env={"http_proxy": server.proxy, **(env or {})})
        end = int(time.time())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.host_record()
        return result.stdout, report_requests(server)[before:], (start, end)

    def guid_of(self, query):
        match = re.search(r"&guid=([0-9a-f]*)$", query)
        self.assertIsNotNone(match, query)
        return match[1]

    def assertSentAndStored(self, requests, identity):
        """The launch's one report carried `identity`, and the common store now
        holds it as a whole version-2 record."""
        self.assertEqual(self.guid_of(requests[0][1]), identity.hex())
        record = self.read_store()
        self.assertEqual(len(record), 52)
        self.assertEqual(record[:20], b"\x02\x00\x00\x00" + identity)

    # --- the request and its echo ---

    def test_one_get_per_launch_with_the_exact_query_echoed_on_stdout(self):
        self.install_host()
        with serving() as server:
            server.routes["/report"] = Answer(b"report-ok\nsecond line")
            stdout, requests, (start, end) = self.launch(
                server, ["--appname=MyApp_1", "--appversion=2.0.1-beta"])
        query, match = assert_one_report(self, requests, r"app_name=myapp_1&client_version=2\.0\.1-beta")
        self.assertEqual(match[1][-3:], "000")
        self.assertTrue(start <= int(match[1]) // 1000 <= end, (start, match[1], end))
        # The URL line (the exact URL, without the port a proxy request adds),
        # then the body as it came.
        url = "http://%s/report?%s" % (report_host(), query)
        self.assertEqual(stdout.replace("\r\n", "\n"), url + "\nreport-ok\nsecond line")
        agents = [r["headers"].get("User-Agent") for r in server.requests if "/report?" in r["path"]]
        self.assertEqual(agents, ["UrlTest"])

    def test_name_and_version_are_percent_encoded(self):
        self.install_host()
        cases = [
            (["--appname=x&guid=0"], "app_name=x%26guid%3D0&client_version=1.0.0.1"),
            (["--appname=a#b", "--appversion=1=2"], "app_name=a%23b&client_version=1%3D2"),
            (["--appname=50%+a/b?c"], "app_name=50%25%2Ba%2Fb%3Fc&client_version=1.0.0.1"),
            (["--appname=x\x01y"], "app_name=x%01y&client_version=1.0.0.1"),
            ([], "app_name=default&client_version=1.0.0.1"),
        ]
        with serving() as server:
            server.routes["/report"] = Answer()
            for args, expected in cases:
                with self.subTest(args=args):
                    _, requests, _ = self.launch(server, args)
                    self.assertEqual(len(requests), 1, requests)
                    query = requests[0][1]
                    self.assertIn("&" + expected + "&times=", query)
                    # No field is forged: each name appears once.
                    names = [pair.split("=", 1)[0] for pair in query.split("&")]
                    self.assertEqual(names, ["softid", "serviceid", "cmdid", "1", "app_name",
                                             "client_version", "times", "guid"])

    def test_name_and_version_are_sent_in_the_ansi_code_page(self):
        """The server decodes the bytes that WinINet has always sent for a wide
        URL: those of the system's ANSI code page, which Wine takes from the
        locale (936 for Chinese, 1252 for Western)."""
        ensure_locales("zh_CN.UTF-8", "en_US.UTF-8")
        self.install_host()
        cases = [
            ("zh_CN.UTF-8", ["--appname=应用", "--appversion=版本1"],
             "app_name=%D3%A6%D3%C3&client_version=%B0%E6%B1%BE1"),
            ("zh_CN.UTF-8", ["--appname=café&x=1"], "app_name=caf%A8%A6%26x%3D1&client_version=1.0.0.1"),
            ("en_US.UTF-8", ["--appname=应用"], "app_name=%3F%3F&client_version=1.0.0.1"),
            ("en_US.UTF-8", ["--appname=café&x=1"], "app_name=caf%E9%26x%3D1&client_version=1.0.0.1"),
        ]
        with serving() as server:
            server.routes["/report"] = Answer()
            for locale, args, expected in cases:
                with self.subTest(locale=locale, args=args):
                    _, requests, _ = self.launch(server, args, env={"LC_ALL": locale, "LANG": locale})
                    self.assertEqual(len(requests), 1, requests)
                    query = requests[0][1]
                    self.assertIn("&" + expected + "&times=", query)
                    self.assertRegex(query, r"&guid=[0-9a-f]{32}$")

    def test_error_status_is_echoed_too(self):
        self.install_host()
        with serving() as server:
            server.routes["/report"] = Answer(b"<html>gone</html>", status=404)
            stdout, requests, _ = self.launch(server)
        self.assertEqual(len(requests), 1)
        self.assertTrue(stdout.replace("\r\n", "\n").endswith("\n<html>gone</html>"), stdout)

    def test_a_temporary_folder_that_cannot_hold_the_log_changes_nothing_else(self):
        # "TEMP" names a file: no log can be opened in it, and the launch,
        # the report and standard output are those of any launch.
        self.install_host()
        not_a_folder = self.case_dir + "\\temp-is-a-file"
        with open(self.wine.unix_path(not_a_folder), "wb") as file:
            file.write(b"a file")
        self.wine.use_user_temp(self, not_a_folder)
        with serving() as server:
            server.routes["/report"] = Answer(b"report-ok\nsecond line")
            stdout, requests, _ = self.launch(server, ["--appname=NoLog", "--appversion=2.0.1"])
        query, _ = assert_one_report(self, requests, r"app_name=nolog&client_version=2\.0\.1")
        self.assertEqual(stdout.replace("\r\n", "\n"),
                         "http://%s/report?%s\nreport-ok\nsecond line" % (report_host(), query))
        with open(self.wine.unix_path(not_a_folder), "rb") as file:
            self.assertEqual(file.read(), b"a file")
        self.assertEqual(self.log_lines(), [], "no log in the usual temporary folder either")

    def test_no_report_when_the_host_is_missing(self):
        with serving() as server:
            server.routes["/report"] = Answer()
            download_path = getattr(harness, "DOWNLOAD_PATH", None)
            if download_path is not None:
                # The download never ends, so the dialog is the only thing shown.
                stall = Stall()
                server.routes[download_path] = stall
                self.addCleanup(stall.release)
            launcher = self.start_launcher(env={"http_proxy": server.proxy})

            def ended_or_dialog():
                return launcher.poll() is not None or self.probe.find("TarnixDownload") is not None

            wait_until(ended_or_dialog, what="the launcher to end or offer the download")
            if launcher.poll() is None:
                self.probe.close("TarnixDownload")
            launcher.communicate(timeout=30)
            self.assertEqual(report_requests(server), [])
        self.assert_host_not_started()

    # --- the machine identity ---

    def test_identity_is_stored_and_sent_the_same_on_every_run(self):
        self.install_host()
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
            guid = self.guid_of(requests[0][1])
            record = self.read_store()
            self.assertEqual(len(record), 52)
            self.assertEqual(record[:4], b"\x02\x00\x00\x00")
            self.assertEqual(record[4:20].hex(), guid)

            _, requests, _ = self.launch(server)
            self.assertEqual(self.guid_of(requests[0][1]), guid, "next run")

            self.clear_stores()
            _, requests, _ = self.launch(server)
            self.assertEqual(self.guid_of(requests[0][1]), guid, "after the store was deleted")
            self.assertEqual(self.read_store(), record)

    def test_planted_v1_record_is_sent_and_rewritten_as_v2(self):
        self.install_host()
        identity = bytes(range(0xA0, 0xB0))
        self.plant_store("common", v1_record(identity))
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
        self.assertSentAndStored(requests, identity)

    def test_planted_per_user_store_is_moved_to_the_common_place(self):
        self.install_host()
        identity = bytes(range(0x30, 0x40))
        self.plant_store("user", v1_record(identity))
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
        self.assertEqual(self.guid_of(requests[0][1]), identity.hex())
        self.assertFalse(os.path.exists(self.store_path("user")), "the per-user store stays")
        self.assertEqual(self.read_store()[:20], b"\x02\x00\x00\x00" + identity)

    def test_stale_shared_temporary_name_does_not_stop_the_replace(self):
        self.install_host()
        identity = bytes(range(0x50, 0x60))
        self.plant_store("common", v1_record(identity))
        # A folder in the way of "Global.db.tmp", the name earlier versions
        # shared (here even root cannot create a file there): each writer
        # now makes a temporary name of its own, and replaces the store.
        os.makedirs(self.store_path("common") + ".tmp")
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
        self.assertSentAndStored(requests, identity)
        self.assertEqual(self.store_folder_files(), ["Global.db", "Global.db.tmp"])
        self.assertFalse(os.path.exists(self.store_path("user")), "the identity moved per user")

    def test_store_cut_between_the_replaces_renames_is_put_back(self):
        self.install_host()
        identity = bytes(range(0x70, 0x80))
        # What a launcher terminated between ReplaceFileW's two renames
        # leaves: no store, the old record at its backup name (with the old
        # store's time, two days ago) and the new one at its temporary name.
        base = self.store_path("common") + ".00000f3c-00000a10-00000000"
        self.plant_store("common", v1_record(identity))
        os.rename(self.store_path("common"), base + ".bak")
        two_days_ago = time.time() - 2 * 24 * 3600
        os.utime(base + ".bak", (two_days_ago, two_days_ago))
        with open(base + ".tmp", "wb") as temp:
            temp.write(b"\x02\x00\x00\x00" + identity + bytes(32))
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
        self.assertSentAndStored(requests, identity)
        # The cut writer's fresh temporary file waits for the clean-up.
        self.assertEqual(self.store_folder_files(),
                         ["Global.db", "Global.db.00000f3c-00000a10-00000000.tmp"])

    def test_two_launchers_at_once_leave_one_whole_store(self):
        self.install_host()
        identity = bytes(range(0x60, 0x70))
        with serving() as server:
            server.routes["/report"] = Answer()
            for planted in (None, v1_record(identity)):
                with self.subTest(store="v1 record" if planted else "none"):
                    self.clear_stores()
                    if planted:
                        self.plant_store("common", planted)
                    launchers = [self.start_launcher(env={"http_proxy": server.proxy})
                                 for _ in range(2)]
                    for launcher in launchers:
                        try:
                            launcher.communicate(timeout=LAUNCHER_END_TIMEOUT)
                        finally:
                            end_if_running(launcher)
                        self.assertEqual(launcher.returncode, 0)
                    record = self.read_store()
                    self.assertEqual(len(record), 52)
                    self.assertEqual(record[:4], b"\x02\x00\x00\x00")
                    if planted:
                        self.assertEqual(record[4:20], identity)
                    self.assertEqual(self.store_folder_files(), ["Global.db"])

    def test_unusable_common_folder_keeps_the_identity_per_user(self):
        self.install_host()
        # A file where the common folder should be: nothing can be written
        # below it (even by root, which ignores permission bits).
        common_folder = os.path.dirname(self.store_path("common"))
        shutil.rmtree(common_folder, ignore_errors=True)
        with open(common_folder, "wb"):
            pass
        self.addCleanup(os.remove, common_folder)
        with serving() as server:
            server.routes["/report"] = Answer()
            _, requests, _ = self.launch(server)
            record = self.read_store("user")
            self.assertEqual(len(record), 52)
            self.assertEqual(record[4:20].hex(), self.guid_of(requests[0][1]))
            # A later run reads that record: give it an identity that no
            # derivation would produce, with the bindings left as written.
            marked = bytes(range(0xC0, 0xD0))
            self.plant_store("user", record[:4] + marked + record[20:])
            _, requests, _ = self.launch(server)
        self.assertEqual(self.guid_of(requests[0][1]), marked.hex())

    # --- the report beside the host's start ---

    def test_the_host_starts_before_a_slow_server_answers_and_the_launcher_ends_by_itself(self):
        self.install_host()
        for name, make_route in slow_servers().items():
            with self.subTest(name), serving() as server:
                route = make_route() if make_route else None
                if route is not None:
                    server.routes["/report"] = route
                    self.addCleanup(route.release)
                proxy = server.proxy if route is not None else refused_proxy()
                if os.path.exists(self.host_log):
                    os.remove(self.host_log)
                launcher = self.start_launcher(["--appname=slow"], env={"http_proxy": proxy})
                self.addCleanup(end_if_running, launcher)
                wait_until(lambda: os.path.exists(self.host_log) or launcher.poll() is not None,
                           timeout=60, what="the host to start")
                answered_before_host = route is not None and route.answered.is_set()
                stdout, stderr = launcher.communicate(timeout=LAUNCHER_END_TIMEOUT)
                if route is not None:
                    route.release()

                self.assertTrue(os.path.exists(self.host_log), "the host never started")
                self.assertFalse(answered_before_host, "the host waited for the server's answer")
                self.assertEqual(launcher.returncode, 0, stderr)
                if route is None:
                    continue
                requests = report_requests(server)
                self.assertEqual(len(requests), 1, requests)
                if isinstance(route, Delayed):
                    # The launcher stayed for the late answer and echoed all of it.
                    url = "http://%s/report?%s" % (report_host(), requests[0][1])
                    self.assertEqual(stdout.replace("\r\n", "\n"), url + "\n" + DELAYED_BODY.decode())

    def launch_against_endless_body(self, server):
        """Starts a launcher whose statistics server sends a body that never ends."""
        self.install_host()
        endless = Endless()
        self.addCleanup(endless.release)
        server.routes["/report"] = endless
        launcher = self.start_launcher(env={"http_proxy": server.proxy})
        self.addCleanup(end_if_running, launcher)
        return launcher, endless

    def test_an_endless_body_is_echoed_only_up_to_its_bound(self):
        with serving() as server:
            launcher, endless = self.launch_against_endless_body(server)
            stdout, stderr = launcher.communicate(timeout=LAUNCHER_END_TIMEOUT)
            endless.release()
            self.assertEqual(launcher.returncode, 0, stderr)
            self.assertEqual(len(report_requests(server)), 1)
        self.host_record()
        self.assertLessEqual(len(stdout), 64 * 1024 + 1024, "the echo is bounded")

    def test_a_full_output_pipe_does_not_keep_the_launcher_past_its_budget(self):
        # Nobody reads the launcher's stdout: the echo of a body larger than
        # the pipe's buffer blocks the report's thread inside a write, holding
        # the stream's lock. The launcher must still end by itself.
        with serving() as server:
            launcher, endless = self.launch_against_endless_body(server)
            try:
                launcher.wait(timeout=LAUNCHER_END_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.fail("the launcher hung on its full output pipe")
            endless.release()
            stdout, stderr = launcher.communicate(timeout=LAUNCHER_END_TIMEOUT)
            self.assertEqual(launcher.returncode, 0, stderr)
            self.assertEqual(len(report_requests(server)), 1)
        self.host_record()
        self.assertGreaterEqual(len(stdout), 60 * 1024, "the echo filled the pipe")


class ReportAfterInstallTest(LauncherTestCase):
    """The download branch: the report is sent once, after the installation,
    from the thread that ran the installer."""

    @classmethod
    def setUpClass(cls):
        harness.require_built(os.path.join(harness.PROGRAMS, "fake_installer.exe"))
        harness.require(not signing.tools_missing(), f"{signing.tools_missing()} (not installed)")
        super().setUpClass()

    DIALOG_TITLE = "TarnixDownload"

    def start_installation(self, server, report_route, args=()):
        """Starts the launcher without a host (an earlier installation's record
        removed), with the installer served and the report answered by
        `report_route`."""
        self.wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
        self.wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
        if not hasattr(self, "installer"):
            self.installer = signing.fake_installer(self.work)  # only a signed installer runs
        installer = self.installer
        env = {
            "TARNIX_FAKE_HOST_SOURCE": "Z:" + os.path.join(harness.PROGRAMS, "fake_host.exe").replace("/", "\\"),
            "TARNIX_FAKE_HOST_TARGET": self.case_dir + "\\Tarnix\\TarnixHost.exe",
            "TARNIX_FAKE_INSTALLER_LOG": "Z:" + os.path.join(self.work, "installer.log").replace("/", "\\"),
            "http_proxy": server.proxy,
        }
        server.routes[harness.DOWNLOAD_PATH] = harness.serve_file(installer)
        server.routes["/report"] = report_route
        # Wine's desktop process comes up before the launcher, as in the download tests.
        self.probe.windows()
        return self.start_launcher(list(args), env=env)

    def test_one_get_after_the_installation_echoed_on_stdout(self):
        with serving() as server:
            launcher = self.start_installation(server, Answer(b"after-install-ok"),
                                               ["--appname=After_Install", "--appversion=3.1"])
            stdout, _ = launcher.communicate(timeout=120)
            self.assertEqual(launcher.returncode, 0)
            self.host_record()
            paths = [r["path"] for r in server.requests]
        reports = [i for i, path in enumerate(paths) if "/report?" in path]
        downloads = [i for i, path in enumerate(paths) if harness.DOWNLOAD_PATH in path]
        self.assertEqual(len(reports), 1, paths)
        self.assertEqual(len(downloads), 1, paths)
        self.assertLess(downloads[0], reports[0], "the report follows the installation")
        query = report_requests(server)[0][1]
        self.assertRegex(query, "^" + FIXED_QUERY + r"&app_name=after_install&client_version=3\.1"
                                r"&times=\d+000&guid=[0-9a-f]{32}$")
        # The process ends from the installer's thread: the echo must have been flushed.
        url = "http://%s/report?%s" % (report_host(), query)
        self.assertIn(url + "\nafter-install-ok", stdout.replace("\r\n", "\n"))

    def test_after_the_installation_the_dialog_goes_with_the_hosts_start_not_with_the_report(self):
        modes = slow_servers()
        # The installer and the report come through one proxy here, so the
        # report's connection cannot be refused alone: it is closed unanswered.
        modes["connection closed unanswered"] = HangUp
        del modes["refused connection"]
        for name, make_route in modes.items():
            with self.subTest(name), serving() as server:
                route = make_route()
                self.addCleanup(route.release)
                if os.path.exists(self.host_log):
                    os.remove(self.host_log)
                self.clear_log()
                launcher = self.start_installation(server, route)
                self.addCleanup(end_if_running, launcher)
                wait_until(lambda: os.path.exists(self.host_log) or launcher.poll() is not None,
                           timeout=120, what="the host to start")
                answered_before_host = route.answered.is_set()
                wait_until(lambda: self.probe.find(self.DIALOG_TITLE) is None, timeout=30,
                           what="the dialog to go")
                # The late answer is what the launcher waits for at its end;
                # the dialog must not wait with it.
                answered_before_dialog_went = route.answered.is_set()
                stdout, stderr = launcher.communicate(timeout=LAUNCHER_END_TIMEOUT)
                route.release()

                self.assertTrue(os.path.exists(self.host_log), "the host never started")
                self.assertFalse(answered_before_host, "the host waited for the server's answer")
                if isinstance(route, Delayed):
                    self.assertFalse(answered_before_dialog_went, "the dialog stayed for the report")
                self.assertEqual(launcher.returncode, 0, stderr)
                requests = report_requests(server)
                self.assertEqual(len(requests), 1, requests)
                downloads = [r for r in server.requests if harness.DOWNLOAD_PATH in r["path"]]
                self.assertEqual(len(downloads), 1, "the download branch ran")
                # What the dialog printed went out before the report began,
                # whether the process then exited or was terminated under it.
                self.assertRegex(stdout, PATHVAR_LINE)
                if isinstance(route, Delayed):
                    url = "http://%s/report?%s" % (report_host(), requests[0][1])
                    self.assertIn(url + "\n" + DELAYED_BODY.decode(), stdout.replace("\r\n", "\n"))
                if isinstance(route, Stall):
                    # The budget ran out with the request still open: the
                    # process was terminated (a finished report logs a line)
                    # and the dialog's line is all the output there is. Only
                    # the wait for the host's start, before the request, ended.
                    report = [line for line in self.log_lines() if line.startswith("report:")]
                    self.assertEqual([line for line in report if not line.startswith("report: the host ")],
                                     [], report)
                    self.assertRegex(stdout, PATHVAR_LINE + r"\Z")


if __name__ == "__main__":
    unittest.main()
