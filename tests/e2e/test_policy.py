"""An administrator's policy and HTTPS.

The policy's values live under SOFTWARE\\Policies\\Korvane\\Tarnix in the
machine's key (written here in the 64-bit view, where policy tools write it)
and in the user's key.

HTTPS: a test authority made with openssl at test time is added to the
prefix's machine Root store for the module (and removed at its end); the
local server, as the launcher's proxy, answers CONNECT tunnels with a
certificate for the test hosts, issued by that authority or by one the
prefix does not trust.
"""

import functools
import getpass
import os
import re
import shutil
import ssl
import subprocess
import tempfile
import urllib.parse

import harness
import signing
from harness import DOWNLOAD_PATH, LauncherTestCase, RecordingServer, serve_file, serving, texts
from report_server import Answer, report_requests
from test_report import COMMON_STORE, USER_STORE

POLICY_KEY = r"SOFTWARE\Policies\Korvane\Tarnix"
MIRROR_PATH = "/mirror/tarnix/TarnixSetup.exe"
DIALOG_TITLE = "TarnixDownload"
MESSAGE_TITLE = os.path.splitext(os.path.basename(harness.LAUNCHER))[0]
DOWNLOAD_FAILED = "下载失败！"
TURNED_OFF = "UsageReport in %s\\SOFTWARE\\Policies\\Korvane\\Tarnix is 0: the usage report is turned off"
HIVE_NAMES = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}


# The launcher under test built once more with https:// URLs (see https_build).
HTTPS_BUILD = os.path.join(harness.ROOT, "build", "e2e-https")


@functools.cache
def https_build():
    """The launcher under test, built again in HTTPS_BUILD with the same
    toolchain and settings but https:// server URLs: the report's URL is fixed
    at build time, so only such a build shows a report over HTTPS. Configured
    on first use and brought up to date afterwards (the launcher alone);
    returns the program's path."""
    harness.require(shutil.which("cmake") and shutil.which("ninja"), "cmake and ninja")
    toolchain = harness.build_setting("CMAKE_TOOLCHAIN_FILE")
    harness.require(toolchain, "the CMake cache of the build under test")
    settings = {name: harness.build_setting(name) for name in (
        "TARNIX_INSTALLER_SIGNER", "TARNIX_DOWNLOAD_STALL_SECONDS", "TARNIX_DOWNLOAD_URL", "TARNIX_REPORT_URL")}
    for name in ("TARNIX_DOWNLOAD_URL", "TARNIX_REPORT_URL"):
        settings[name] = "https://" + settings[name].split("://", 1)[1]
    configure = ["cmake", "-G", "Ninja", "-S", harness.ROOT, "-B", HTTPS_BUILD, "-DCMAKE_TOOLCHAIN_FILE=" + toolchain,
                 "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DTARNIX_WERROR=ON"]
    configure += [f"-D{name}={value}" for name, value in settings.items() if value is not None]
    for command in (configure, ["cmake", "--build", HTTPS_BUILD, "--target", "TarnixLauncher", "--", "-j2"]):
        result = subprocess.run(command, capture_output=True, text=True)
        assert result.returncode == 0, f"{' '.join(command)}:\n{result.stdout[-3000:]}\n{result.stderr[-3000:]}"
    return os.path.join(HTTPS_BUILD, "TarnixLauncher.exe")


def server_context(authority, hosts):
    """A TLS server context with a certificate for `hosts` issued by `authority`."""
    certificate, key = authority.issue_server(hosts)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    return context


class PolicyTest(LauncherTestCase):

    @classmethod
    def setUpClass(cls):
        harness.require_built(os.path.join(harness.PROGRAMS, "fake_installer.exe"),
                              os.path.join(harness.PROGRAMS, "cert_root.exe"))
        harness.require(not signing.tools_missing(), f"{signing.tools_missing()} (not installed)")
        super().setUpClass()
        cls.pki = tempfile.mkdtemp(prefix="tarnix-tls-")
        cls.trusted = signing.Authority(os.path.join(cls.pki, "trusted"), "Tarnix Test TLS Root")
        cls.untrusted = signing.Authority(os.path.join(cls.pki, "untrusted"), "Tarnix Untrusted TLS Root")
        cls.trusted_der = "Z:" + cls.trusted.der().replace("/", "\\")
        result = cls.wine.run(os.path.join(cls.programs, "cert_root.exe"), ["add", cls.trusted_der])
        assert result.returncode == 0, f"cert_root add: exit code {result.returncode}"

    @classmethod
    def tearDownClass(cls):
        if cls.wine is not None and getattr(cls, "trusted_der", None):
            cls.wine.run(os.path.join(cls.programs, "cert_root.exe"), ["remove", cls.trusted_der])
        shutil.rmtree(getattr(cls, "pki", ""), ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.clear_policy()
        self.addCleanup(self.clear_policy)
        self.clear_stores()
        self.addCleanup(self.clear_stores)
        self.installer_log = os.path.join(self.work, "installer.log")
        self.host_target = self.case_dir + "\\Tarnix\\TarnixHost.exe"
        temp_installer = os.path.join(self.wine.drive_c, "users", getpass.getuser(), "Temp", "TarnixSetup.exe")
        if os.path.exists(temp_installer):
            os.remove(temp_installer)

    # --- helpers ---

    def clear_policy(self):
        # HKCU\SOFTWARE is one key in both views; Wine shares
        # HKLM\SOFTWARE\Policies between them too.
        self.wine.reg_delete("HKLM\\" + POLICY_KEY, view=64)
        self.wine.reg_delete("HKCU\\" + POLICY_KEY)

    def set_policy(self, hive, name, data, kind, view=64):
        self.wine.reg_add(hive + "\\" + POLICY_KEY, name, data, kind, view=view)

    def store_paths(self):
        return [self.wine.unix_path(path) for path in (COMMON_STORE, USER_STORE)]

    def clear_stores(self):
        for path in self.store_paths():
            if os.path.exists(path):
                os.remove(path)

    def launch_direct(self, server):
        """One direct launch through `server` as proxy: (stdout, report requests)."""
        if os.path.exists(self.host_log):
            os.remove(self.host_log)
        result = self.run_launcher(["--appname=policy"], env={"http_proxy": server.proxy})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.host_record()
        return result.stdout, report_requests(server)

    def start_download(self, proxy):
        return self.start_launcher(env={
            "http_proxy": proxy,
            "TARNIX_FAKE_HOST_SOURCE": "Z:" + os.path.join(self.programs, "fake_host.exe").replace("/", "\\"),
            "TARNIX_FAKE_HOST_TARGET": self.host_target,
            "TARNIX_FAKE_INSTALLER_LOG": "Z:" + self.installer_log.replace("/", "\\"),
        })

    def installed_through(self, server, url):
        """Runs the download branch with `url` as the InstallerUrl policy; the
        host must end up installed and started. Returns the requested URLs."""
        self.set_policy("HKLM", "InstallerUrl", url, "REG_SZ")
        body = signing.fake_installer(self.work)
        server.routes[MIRROR_PATH] = serve_file(body)
        server.routes[DOWNLOAD_PATH] = serve_file(body)
        launcher = self.start_download(server.proxy)
        stdout, _ = launcher.communicate(timeout=120)
        self.assertEqual(launcher.returncode, 0)
        _, argv, _ = self.host_record()
        self.assertEqual(argv[0].replace("\\\\", "\\"), self.host_target)
        lines = self.log_lines()
        self.assertIn('policy: installer URL "%s" from InstallerUrl in HKEY_LOCAL_MACHINE\\%s' % (url, POLICY_KEY), lines)
        # The first line names the URL in force and the policy that set it.
        self.assertTrue(lines[0].endswith(', download URL "%s" (from InstallerUrl in HKEY_LOCAL_MACHINE\\%s)'
                                          % (url, POLICY_KEY)), lines[0])
        return [request["path"] for request in server.requests]

    # --- UsageReport ---

    def test_usage_report_0_in_either_key_sends_derives_and_stores_nothing(self):
        self.install_host()
        for hive in ("HKLM", "HKCU"):
            with self.subTest(hive=hive), serving() as server:
                self.clear_policy()
                self.clear_log()
                self.set_policy(hive, "UsageReport", "0", "REG_DWORD", view=64 if hive == "HKLM" else None)
                server.routes["/report"] = Answer()
                stdout, requests = self.launch_direct(server)
                self.assertEqual(requests, [])
                self.assertEqual(stdout, "", "nothing of the report is printed")
                self.assertEqual([path for path in self.store_paths() if os.path.exists(path)], [])
                lines = self.log_lines()
                self.assertIn("policy: " + TURNED_OFF % HIVE_NAMES[hive], lines)
                self.assertEqual([line for line in lines if line.startswith("report:")], [])

    def test_a_1_in_the_machines_key_wins_over_a_0_in_the_users(self):
        self.install_host()
        self.set_policy("HKLM", "UsageReport", "1", "REG_DWORD")
        self.set_policy("HKCU", "UsageReport", "0", "REG_DWORD", view=None)
        with serving() as server:
            server.routes["/report"] = Answer()
            stdout, requests = self.launch_direct(server)
        self.assertEqual(len(requests), 1, requests)
        self.assertIn("report-ok", stdout)

    # --- InstallerUrl ---

    def test_installer_url_names_where_the_installer_is_downloaded(self):
        with serving() as server:
            url = "http://127.0.0.1:%d%s" % (server.port, MIRROR_PATH)
            requested = self.installed_through(server, url)
        self.assertEqual([path for path in requested if path.endswith(DOWNLOAD_PATH)], [], "no built-in download")
        self.assertEqual([path for path in requested if path.endswith(MIRROR_PATH)], [url])

    # --- HTTPS ---

    def https_server(self, authority):
        hosts = ["localhost", "127.0.0.1"]
        for setting in ("TARNIX_DOWNLOAD_URL", "TARNIX_REPORT_URL"):
            host = urllib.parse.urlsplit(harness.build_setting(setting, "") or "").hostname
            if host:
                hosts.append(host)
        return RecordingServer(tls=server_context(authority, hosts)).start()

    def test_an_https_installer_url_downloads_through_a_trusted_certificate(self):
        server = self.https_server(self.trusted)
        try:
            url = "https://localhost:%d%s" % (server.port, MIRROR_PATH)
            requested = self.installed_through(server, url)
        finally:
            server.stop()
        self.assertEqual([path for path in requested if path.endswith(MIRROR_PATH)], [url])
        self.assertEqual(server.tunnels, ["localhost:%d" % server.port])
        self.assertEqual(server.tls_refusals, [])

    def test_an_untrusted_certificate_fails_the_download_without_a_prompt(self):
        server = self.https_server(self.untrusted)
        try:
            self.set_policy("HKLM", "InstallerUrl", "https://localhost:%d%s" % (server.port, MIRROR_PATH), "REG_SZ")
            server.routes[MIRROR_PATH] = serve_file(signing.fake_installer(self.work))
            launcher = self.start_download(server.proxy)
            box = self.probe.wait_for(MESSAGE_TITLE, timeout=90)
            self.assertIn(DOWNLOAD_FAILED, texts(box))
            # Nothing but the dialog and its failure box: no certificate prompt.
            titles = sorted(window["title"] for window in self.probe.windows())
            self.assertEqual(sorted(set(titles)), [DIALOG_TITLE, MESSAGE_TITLE], titles)
            # Three attempts, each refusing the certificate before any request
            # (Wine's WinINet tries each connection twice): the callback
            # refuses the security problem, which aborts the attempt.
            lines = self.log_lines()
            attempts = [line for line in lines if line.startswith("download attempt") and ": result " in line]
            self.assertEqual([line[:len("download attempt 1 of 3: result 0x80004004")] for line in attempts],
                             ["download attempt %d of 3: result 0x80004004" % n for n in (1, 2, 3)], attempts)
            refusals = [line for line in lines if re.fullmatch(r"download: security problem \d+ refused, no prompt", line)]
            self.assertGreaterEqual(len(refusals), 3, lines)
            self.assertIn("download failed after 3 attempts", self.log_lines())
            self.assertGreaterEqual(len(server.tunnels), 3, server.tunnels)
            self.assertEqual([r for r in server.requests if r["path"].endswith(MIRROR_PATH)], [])
            self.assertTrue(self.probe.dismiss(MESSAGE_TITLE, 1))
            self.assertTrue(self.probe.close(DIALOG_TITLE))
            launcher.communicate(timeout=30)
        finally:
            server.stop()
        self.assertFalse(os.path.exists(self.installer_log), "no installer may run")
        self.assert_host_not_started()

    def test_a_report_over_https_arrives_and_one_the_prefix_does_not_trust_fails_silently(self):
        self.launcher = https_build()
        self.install_host()
        report_url = harness.build_setting("TARNIX_REPORT_URL")
        https_prefix = "https://" + report_url.split("://", 1)[1]
        for authority, arrives in ((self.trusted, True), (self.untrusted, False)):
            with self.subTest(trusted=arrives):
                self.clear_log()
                server = self.https_server(authority)
                try:
                    server.routes["/report"] = Answer(b"report-ok")
                    stdout, requests = self.launch_direct(server)
                finally:
                    server.stop()
                reports = [r["path"] for r in server.requests if "/report?" in r["path"]]
                # The request's outcome, after the line on the host's start.
                report_lines = [line for line in self.log_lines()
                                if line.startswith("report:") and not line.startswith("report: the host ")]
                if arrives:
                    self.assertEqual(len(reports), 1, server.requests)
                    self.assertTrue(reports[0].startswith(https_prefix + "&app_name=policy&"), reports[0])
                    self.assertTrue(stdout.startswith(https_prefix + "&app_name=policy&"), stdout)
                    self.assertIn("report-ok", stdout)
                    self.assertEqual(server.tls_refusals, [])
                    self.assertRegex(report_lines[0], r"^report: HTTP status 200, ")
                else:
                    # The host started (launch_direct), nothing arrived, nothing printed.
                    self.assertEqual(reports, [])
                    self.assertEqual(stdout, "")
                    self.assertGreaterEqual(len(server.tunnels), 1)
                    self.assertRegex(report_lines[0], r"^report: request failed, WinINet error \d+, ")
