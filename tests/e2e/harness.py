"""The end-to-end harness: the real launcher under Wine and Xvfb.

One Wine prefix under build/e2e/ serves every test run (made once with
wineboot, then reused); each test module starts its own X display and stops
its prefix's wineserver when it ends. Helper programs of ours (the fake host,
the window probe) are built with MinGW next to the launcher.
"""

import contextlib
import getpass
import http.server
import json
import os
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import unittest

LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] (.*)$")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"


def is_i386_program(head):
    """Whether `head`, the start of a file, is that of a 32-bit x86 ELF
    program (class 32-bit, little-endian, machine 386)."""
    return len(head) >= 20 and head[:6] == b"\x7fELF\x01\x01" and head[18:20] == b"\x03\x00"


def loader_mode(exit_code, running_head):
    """The verdict on a start of the 32-bit loader, from what was seen of it:
    `exit_code`, None where it did not start or did not end in time, and
    `running_head`, the start of the program file that the started process ran
    as (its /proc/<pid>/exe), None where that could not be read.

    The kernel runs a 32-bit program itself, or hands it to the interpreter of
    a binfmt_misc entry (an emulator) and runs that instead. Only the process
    shows which: its program is then the interpreter, not a 32-bit one. An
    entry can do so unseen (a container that does not mount binfmt_misc still
    has the host's entries), so no reading of binfmt_misc can say "native"; a
    process whose program could not be read does not count as native either."""
    if exit_code != 0:
        return None
    return "native" if running_head is not None and is_i386_program(running_head) else "emulated"


def held_start(program, args=(), timeout=120.0):
    """Runs `program` with its standard output on a pipe that is already
    full, so that the process, once it writes its first bytes, waits there
    until it is read. Returns (exit code or None, the start of the program file
    the process ran as or None). The process cannot end before its program file
    is read, however fast it is; one that writes nothing ends unseen (None)."""
    read_end, write_end = os.pipe()
    try:
        os.set_blocking(write_end, False)
        try:
            while True:
                os.write(write_end, bytes(65536))
        except BlockingIOError:
            pass
        # The flag is the pipe's, shared with the child: its write must wait.
        os.set_blocking(write_end, True)
        try:
            process = subprocess.Popen([program, *args], stdin=subprocess.DEVNULL, stdout=write_end,
                                       stderr=subprocess.DEVNULL)
        except OSError:
            return None, None
        os.close(write_end)
        write_end = None
        # Popen returns once the exec has succeeded: the program (or an
        # interpreter standing in for it) is in place.
        try:
            with open(f"/proc/{process.pid}/exe", "rb") as running:
                head = running.read(64)
        except OSError:
            head = None
        deadline = time.monotonic() + timeout
        while process.poll() is None:
            left = deadline - time.monotonic()
            try:
                if left <= 0:
                    raise subprocess.TimeoutExpired(program, timeout)
                if select.select([read_end], [], [], min(left, 0.5))[0] and not os.read(read_end, 65536):
                    process.wait(timeout=max(0.0, deadline - time.monotonic()))  # no writer left
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                return None, head
        return process.returncode, head
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)


def wine32_mode(loader=WINE32):
    """How the 32-bit Wine loader (a 32-bit Linux program) runs here:
    "native", "emulated" (through an interpreter that binfmt_misc registers
    for such programs: minutes per Windows program; also where it cannot be
    seen which), or None where it does not start (the kernel refuses 32-bit
    programs and nothing stands in)."""
    return loader_mode(*held_start(loader, ["--version"]))


def wine32_runs():
    """Whether this machine runs 32-bit Windows programs at native speed, as
    the suite as a whole needs. An emulator's entry does not count: through it
    every 32-bit process start costs about a minute."""
    return wine32_mode() == "native"


SHIPPED = os.path.join(ROOT, "dist", "TarnixLauncher.exe")
X64_PROGRAMS = os.path.join(ROOT, "build", "mingw-x64", "e2e")


def select_build():
    """The launcher under test and its helper programs' folder: the shipping
    i686 build where 32-bit programs run natively, else the x86-64 build."""
    forced = os.environ.get("TARNIX_E2E_BUILD")
    if forced == "mingw-x86" or (forced is None and wine32_runs()):
        return WINE32, SHIPPED, os.path.join(ROOT, "build", "mingw-x86", "e2e")
    return WINE64, os.path.join(ROOT, "build", "mingw-x64", "TarnixLauncher.exe"), X64_PROGRAMS


WINE, LAUNCHER, PROGRAMS = select_build()
PREFIX = os.environ.get("TARNIX_E2E_PREFIX", os.path.join(ROOT, "build", "e2e", "prefix"))
# Set by scripts/test, which installs and builds everything: there a missing
# program is a fault, and a skipped module would count as passed.
REQUIRED = os.environ.get("TARNIX_E2E_REQUIRED") == "1"


def require(present, what):
    """Ends a test, or a module's set-up, that lacks `what`: a failure when
    TARNIX_E2E_REQUIRED=1, else a skip that names what is missing."""
    if present:
        return
    if REQUIRED:
        raise AssertionError(f"missing: {what} (TARNIX_E2E_REQUIRED=1 allows no skip)")
    raise unittest.SkipTest(f"missing: {what} (TARNIX_E2E_REQUIRED=1 makes this a failure)")


def require_built(*paths):
    """Requires programs of our build (see `require`)."""
    for path in paths:
        require(os.path.exists(path), f"{path} (not built)")


def wait_until(condition, timeout=20.0, interval=0.1, what="condition"):
    """Polls `condition` until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Display:
    """An Xvfb server on a free display number."""

    def __init__(self):
        self.process = None
        self.name = None

    def start(self):
        for number in range(90, 140):
            if os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1366x768x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            socket_path = f"/tmp/.X11-unix/X{number}"
            try:
                wait_until(lambda: os.path.exists(socket_path) or process.poll() is not None,
                           timeout=10, what="Xvfb")
            except AssertionError:
                process.kill()
                continue
            if process.poll() is None:
                self.process, self.name = process, f":{number}"
                return self.name
        raise RuntimeError("no free X display")

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait(timeout=10)
            self.process = None


class Wine:
    """Runs Windows programs in a test prefix: by default the shared one,
    with the loader and helper programs of the build under test."""

    def __init__(self, display, prefix=PREFIX, loader=WINE, programs=PROGRAMS):
        self.prefix, self.loader, self.programs = prefix, loader, programs
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono or Gecko install prompts
            "DISPLAY": display,
        })
        if loader == WINE64:
            self.env.update({"WINEARCH": "win64", "WINELOADER": WINE64})
        # LC_ALL would outweigh the UI language that each launch sets (LC_MESSAGES).
        for variable in ("http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY", "LC_ALL"):
            self.env.pop(variable, None)

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def ensure_prefix(self, boot_timeout=300):
        """Makes the prefix on first use; later runs reuse it."""
        marker = os.path.join(self.prefix, ".tarnix-ready")
        if os.path.exists(marker):
            clear_internet_cache(self)
            self.start_server()
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        os.makedirs(self.prefix)
        self.start_server()
        subprocess.run([self.loader, "wineboot", "-i"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=boot_timeout)
        # Chinese dialog texts need a font with CJK glyphs.
        for font in ("MS Shell Dlg", "MS Shell Dlg 2"):
            self.reg_add(r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes", font,
                         "WenQuanYi Micro Hei")
        self.hold_desktop()
        open(marker, "w").close()

    def start_server(self):
        """Starts the prefix's wineserver for the whole module, detached from
        our pipes: a server that a Windows program starts on demand inherits
        that program's output pipes, and reading its output would then wait
        for the server to linger out."""
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.Popen([os.path.join(os.path.dirname(self.loader), "wineserver"), "-p"], env=self.env,
                         start_new_session=True, **quiet)
        # Wine's own background processes (services, desktop) live as long as
        # the server. Started here, with no pipes of ours to hold, they are warm
        # when a test starts: a cold start takes seconds, longer than a local
        # download.
        if os.path.exists(os.path.join(self.prefix, "system.reg")):
            subprocess.run([self.loader, "wineboot"], env=self.env, timeout=300, **quiet)
            self.hold_desktop()

    def hold_desktop(self):
        """The desktop process ends a while after its last window is gone; a
        hidden window of ours keeps it up until the server stops, so no test
        meets a desktop that is just going away or starting again."""
        subprocess.Popen([self.loader, os.path.join(self.programs, "winprobe.exe"), "hold"], env=self.env,
                         start_new_session=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)

    def kill_server(self):
        subprocess.run([os.path.join(os.path.dirname(self.loader), "wineserver"), "-k"], env=self.env,
                       capture_output=True, timeout=60)

    def unix_path(self, windows_path):
        """C:\\a\\b -> the file inside the prefix."""
        assert windows_path[1:3] == ":\\" and windows_path[0].upper() == "C", windows_path
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def run(self, program, args=(), cwd=None, env=None, timeout=60):
        """Runs a Windows program to its end; returns the CompletedProcess
        (Unix stdout and stderr as text, returncode = the program's exit code)."""
        return subprocess.run([self.loader, program, *args], cwd=cwd, env=self.merged(env), capture_output=True,
                              timeout=timeout, encoding="utf-8", errors="replace")

    def start(self, program, args=(), cwd=None, env=None):
        return subprocess.Popen([self.loader, program, *args], cwd=cwd, env=self.merged(env), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, encoding="utf-8", errors="replace")

    def merged(self, extra):
        env = dict(self.env)
        env.update(extra or {})
        return env

    def reg_add(self, key, name, data, kind="REG_SZ", view=None):
        """Writes a value; `view` 32 or 64 names the registry view (/reg:32,
        /reg:64), None the default one of Wine's reg under this loader."""
        command = [self.loader, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f", *view_switch(view)]
        # Wine's reg has been seen to fail once, saying nothing, while the
        # prefix's server was busy; the write is idempotent, so it gets one
        # more try, and a second failure names everything reg said.
        for attempt in (1, 2):
            result = subprocess.run(command, env=self.env, capture_output=True, timeout=60)
            if result.returncode == 0:
                return
            if attempt == 1:
                time.sleep(1.0)
        raise AssertionError(f"reg add {key} /v {name}: exit code {result.returncode}, "
                             f"stdout {result.stdout!r}, stderr {result.stderr!r}")

    def reg_delete(self, key, view=None):
        subprocess.run([self.loader, "reg", "delete", key, "/f", *view_switch(view)], env=self.env,
                       capture_output=True, timeout=60)

    def reg_delete_value(self, key, name):
        subprocess.run([self.loader, "reg", "delete", key, "/v", name, "/f"], env=self.env, capture_output=True,
                       timeout=60)

    def reg_query(self, key, name):
        """A registry value as (type, data), e.g. ("REG_SZ", "C:\\x"); None when it is missing."""
        result = subprocess.run([self.loader, "reg", "query", key, "/v", name], env=self.env, capture_output=True,
                                encoding="utf-8", errors="replace", timeout=60)
        match = re.search(r"^\s*%s\s+(REG_\w+)\s+(.*?)\s*$" % re.escape(name), result.stdout, re.M | re.I)
        return (match[1], match[2]) if result.returncode == 0 and match else None

    def use_user_temp(self, test, path):
        """Points the user's "TEMP" at `path` for the programs that `test`
        starts (Wine builds a program's environment from the registry, not
        from ours), and back to what it was when the test ends."""
        key = r"HKCU\Environment"
        before = self.reg_query(key, "TEMP")
        assert before is not None, "no TEMP in the prefix's user environment"
        test.addCleanup(self.reg_add, key, "TEMP", before[1], before[0])
        self.reg_add(key, "TEMP", path)


def view_switch(view):
    return [] if view is None else [f"/reg:{view}"]


class Probe:
    """The window probe: reads windows and clicks their buttons."""

    def __init__(self, wine):
        self.wine = wine
        self.exe = os.path.join(wine.programs, "winprobe.exe")

    def windows(self):
        # A probe that meets a window in the middle of being created can stall
        # in Wine; one more try then answers.
        for attempt in range(3):
            try:
                result = self.wine.run(self.exe, ["list"], timeout=15)
                break
            except subprocess.TimeoutExpired:
                if attempt == 2:
                    raise
        return [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]

    def find(self, title):
        return next((w for w in self.windows() if w["title"] == title), None)

    def wait_for(self, title, timeout=20.0, where=None):
        """Waits for a visible top-level window titled `title` (for which
        `where(window)` holds, when given) and returns it."""
        def look():
            window = self.find(title)
            return window if window and (where is None or where(window)) else None
        return wait_until(look, timeout=timeout, what=f"window {title!r}")

    def click(self, title, control_id):
        return self.wine.run(self.exe, ["click", title, str(control_id)]).returncode == 0

    def close(self, title):
        return self.wine.run(self.exe, ["close", title]).returncode == 0

    def foreground(self):
        """The foreground window (title, class, pid), or None."""
        result = self.wine.run(self.exe, ["foreground"], timeout=15)
        line = next((line for line in result.stdout.splitlines() if line.strip()), "null")
        return json.loads(line)

    def open_front(self, title):
        """Opens a window titled `title` in a probe process of its own, waits
        until it is the foreground window and returns the process (killing it
        closes the window)."""
        process = self.wine.start(self.exe, ["front", title])
        try:
            wait_until(lambda: (self.foreground() or {}).get("title") == title, what=f"{title!r} in front")
        except AssertionError:
            process.kill()
            raise
        return process

    def fits(self, title, exe, template_id):
        """For each static and button of the window titled `title`: its text's
        size on one line in the font of dialog template `template_id` of `exe`
        (a Windows path), and its client area's size, keyed by control id."""
        return {line["id"]: line for line in self._fits(title, exe, template_id, ())}

    def sample_fits(self, title, exe, template_id, samples):
        """For each (control id, text) of `samples`: the text's size on one line,
        measured as `fits` measures, and that control's client area; a list,
        in the order of `samples`."""
        return [line for line in self._fits(title, exe, template_id, samples) if line.get("sample")]

    def _fits(self, title, exe, template_id, samples):
        args = ["fits", title, exe, str(template_id)]
        for control_id, text in samples:
            args += [str(control_id), text]
        # A UTF-8 character type, so that Wine passes the texts on whole.
        result = self.wine.run(self.exe, args, env={"LC_CTYPE": "C.UTF-8"}, timeout=15)
        assert result.returncode == 0, f"fits {title!r}: exit code {result.returncode}"
        return [json.loads(line) for line in result.stdout.splitlines() if line]

    def dismiss(self, title, control_id):
        """Clicks `control_id` in the window titled `title` and waits until the
        thread that showed the window has ended, so that nothing more can come
        from it. True when it ended."""
        for _ in range(3):
            code = self.wine.run(self.exe, ["dismiss", title, str(control_id)], timeout=90).returncode
            # 2: the window or its button was not found at that moment; look again.
            if code != 2 or self.find(title) is None:
                return code == 0
            time.sleep(0.5)
        return False


def texts(window):
    return [child["text"] for child in window["children"]]


class RecordingServer:
    """A local HTTP server that logs every request and answers by mode.

    `routes` maps a path (without query) to a handler function
    (handler, server) -> None; unknown paths get 404.

    As a proxy it also takes CONNECT, the tunnel of an https:// URL: with
    `tls` (an ssl.SSLContext) it answers inside the tunnel itself, with that
    context's certificate, and logs the requests there as "https://host/path".
    `tunnels` lists the target of every CONNECT answered so; a client that
    refuses the certificate may end the handshake (also logged in
    `tls_refusals`) or close the tunnel right after it, before any request.
    Without `tls` a CONNECT gets 405."""

    def __init__(self, tls=None):
        self.requests = []
        self.routes = {}
        self.tls = tls
        self.tunnels = []
        self.tls_refusals = []
        self.stalled = threading.Event()  # set on stop: releases routes that hold a reply
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):  # noqa: N802 (name fixed by the base class)
                path = self.path
                if isinstance(self.connection, ssl.SSLSocket):  # inside a CONNECT tunnel
                    path = "https://" + self.headers.get("Host", "") + path
                outer.requests.append({"path": path, "headers": dict(self.headers)})
                if path.startswith(("http://", "https://")):  # a proxy request carries the whole URL
                    path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
                route = outer.routes.get(path.split("?", 1)[0])
                try:
                    if route is None:
                        self.send_error(404)
                    else:
                        route(self, outer)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def do_CONNECT(self):  # noqa: N802 (name fixed by the base class)
                if outer.tls is None:
                    self.send_error(405)
                    return
                outer.tunnels.append(self.path)
                self.send_response(200, "Connection established")
                self.end_headers()
                self.close_connection = True
                try:
                    tunnel = outer.tls.wrap_socket(self.connection, server_side=True)
                except (ssl.SSLError, OSError):
                    outer.tls_refusals.append(self.path)
                    return
                tunnel.settimeout(60)
                Handler(tunnel, self.client_address, self.server)  # the requests inside the tunnel

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.stalled.set()
        self.httpd.shutdown()
        self.httpd.server_close()

    @property
    def proxy(self):
        return f"http://127.0.0.1:{self.port}"


def send_body(handler, body, content_type="application/octet-stream", status=200):
    handler.send_response(status)
    handler.send_header("Content-Type", content_type)
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body)


# Wine takes the UI language (GetUserDefaultUILanguage) from LC_MESSAGES of
# each process: 0x0804 here, and 0x0409 for C.UTF-8. Only LC_MESSAGES, so the
# ANSI code page stays that of the rest of the locale.
CHINESE_UI = {"LC_MESSAGES": "zh_CN.UTF-8"}
ENGLISH_UI = {"LC_MESSAGES": "C.UTF-8"}


class LauncherTestCase(unittest.TestCase):
    """Base of the end-to-end test modules: one display and one prefix per
    module, an app folder and a fake host record per test."""

    display = None
    wine = None
    probe = None
    # The build under test, its helper programs and the prefix they run in;
    # a module may choose others.
    loader, launcher, programs, prefix = WINE, LAUNCHER, PROGRAMS, PREFIX
    prefix_boot_timeout = 300

    @classmethod
    def setUpClass(cls):
        require(os.path.exists(cls.loader), f"Wine ({cls.loader})")
        require(shutil.which("Xvfb"), "Xvfb")
        require_built(cls.launcher, os.path.join(cls.programs, "fake_host.exe"),
                      os.path.join(cls.programs, "winprobe.exe"))
        cls.display = Display()
        cls.wine = Wine(cls.display.start(), cls.prefix, cls.loader, cls.programs)
        cls.wine.ensure_prefix(cls.prefix_boot_timeout)
        cls.probe = Probe(cls.wine)

    @classmethod
    def tearDownClass(cls):
        if cls.wine is not None:
            cls.wine.kill_server()
        if cls.display is not None:
            cls.display.stop()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tarnix-e2e-")
        self.launchers = []
        self.host_log = os.path.join(self.work, "host.log")
        # Each test gets fresh folders inside the prefix, so nothing leaks between tests.
        self.case_dir = "C:\\e2e\\" + self.id().rsplit(".", 1)[-1]
        shutil.rmtree(self.wine.unix_path(self.case_dir), ignore_errors=True)
        os.makedirs(self.wine.unix_path(self.case_dir))
        self.wine.reg_delete(r"HKCU\SOFTWARE\Korvane")
        self.wine.reg_delete(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix")
        self.clear_log()

    def clear_log(self):
        """Removes the launch log, so that a test reads the lines of its own launches only."""
        for path in (launch_log_path(self.wine), launch_log_path(self.wine) + ".1"):
            if os.path.exists(path):
                os.remove(path)

    def log_lines(self):
        """The texts of the launch log's lines, in order."""
        return [text for _, text in read_launch_log(self.wine)]

    def tearDown(self):
        # A launcher that a failed test left running (a box nobody closed)
        # must not show its windows to the next test: end it for sure.
        for launcher in self.launchers:
            if launcher.poll() is None:
                launcher.kill()
            try:
                launcher.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                pass  # a program it started still holds the output pipes
        for window in self.probe.windows():
            if window["title"] in ("TarnixLauncher", "TarnixDownload"):
                self.probe.close(window["title"])
        shutil.rmtree(self.work, ignore_errors=True)

    # --- installation record and host ---

    def install_host(self, version="1.0.0.78", host_path=None):
        """Puts the fake host into the case folder and writes the record."""
        host_path = host_path or self.case_dir + "\\host\\TarnixHost.exe"
        os.makedirs(os.path.dirname(self.wine.unix_path(host_path)), exist_ok=True)
        shutil.copy(os.path.join(self.programs, "fake_host.exe"), self.wine.unix_path(host_path))
        self.wine.reg_add(r"HKCU\SOFTWARE\Korvane\Tarnix", "install_dir", host_path)
        if version is not None:
            self.wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnix",
                              "DisplayVersion", version)
        return host_path

    def app_folder(self, name="app"):
        path = self.case_dir + "\\" + name
        os.makedirs(self.wine.unix_path(path), exist_ok=True)
        return path

    def launcher_env(self, env):
        """The fake host's record goes to this test's folder; the UI language
        is Chinese unless the test names another."""
        merged = {"TARNIX_FAKE_HOST_LOG": "Z:" + self.host_log.replace("/", "\\")}
        merged.update(CHINESE_UI)
        merged.update(env or {})
        return merged

    def run_launcher(self, args=(), folder=None, env=None, timeout=60):
        folder = folder or self.app_folder()
        return self.wine.run(self.launcher, args, cwd=self.wine.unix_path(folder), env=self.launcher_env(env),
                             timeout=timeout)

    def start_launcher(self, args=(), folder=None, env=None):
        folder = folder or self.app_folder()
        launcher = self.wine.start(self.launcher, args, cwd=self.wine.unix_path(folder), env=self.launcher_env(env))
        self.launchers.append(launcher)
        return launcher

    def host_record(self, timeout=20.0):
        """Waits for the fake host's record: (command line, argv list, cwd)."""
        wait_until(lambda: os.path.exists(self.host_log), timeout=timeout, what="the host to start")
        with open(self.host_log, encoding="utf-8") as record:
            lines = record.read().split("\n")[:-1]
        return lines[0], lines[1:-1], lines[-1][len("cwd="):]

    def assert_host_not_started(self):
        """Call once the launcher has ended through run_launcher() or its
        communicate(). No wait is needed: under Wine a program that the
        launcher starts through the shell inherits the launcher's output
        pipes, so these close only after that program has ended too, and the
        fake host writes its record before it ends."""
        self.assertFalse(os.path.exists(self.host_log), "the host was started")


@contextlib.contextmanager
def session():
    """A display and the prefix's Wine, ready, for the demo and the
    benchmarks; stopped again at the end."""
    display = Display()
    wine = Wine(display.start())
    try:
        wine.ensure_prefix()
        yield wine
    finally:
        wine.kill_server()
        display.stop()


@contextlib.contextmanager
def serving():
    server = RecordingServer().start()
    try:
        yield server
    finally:
        server.stop()


# --- the download server (download branch) ---

DOWNLOAD_PATH = "/v1/t/full/p/union/tn/ap_kmtrw/ch_dl_url"
# What the download dialog writes to standard output as it opens (no line break follows).
PATHVAR_LINE = r"^pathvar=C:\\users\\[^\\]+\\Temp\\TarnixSetup\.exe\."


def build_setting(name, default=None):
    """A cache variable of the build under test (for example the stall limit
    baked into the launcher)."""
    cache = os.path.join(os.path.dirname(LAUNCHER), "CMakeCache.txt")
    if not os.path.exists(cache):
        cache = os.path.join(PROGRAMS, os.pardir, "CMakeCache.txt")
    try:
        with open(cache, encoding="utf-8") as lines:
            for line in lines:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return default


def serve_file(body, chunks=1, delay=0.0):
    """A route that sends `body` with its length, in `chunks` pieces with
    `delay` seconds before each piece after the first (a trickle)."""
    def route(handler, server):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(body)))
        handler.send_header("Cache-Control", "no-store")  # every test downloads afresh
        handler.end_headers()
        step = max(1, -(-len(body) // chunks))
        for index, start in enumerate(range(0, len(body), step)):
            if index and delay:
                time.sleep(delay)
            handler.wfile.write(body[start:start + step])
            handler.wfile.flush()
    return route


def serve_status(status):
    """A route that answers with `status` and an empty body."""
    def route(handler, server):
        handler.send_response(status)
        handler.send_header("Content-Length", "0")
        handler.end_headers()
    return route


def serve_proxy_auth():
    """A route that answers as a proxy that wants credentials: status 407
    with a Basic challenge and an empty body."""
    def route(handler, server):
        handler.send_response(407)
        handler.send_header("Proxy-Authenticate", 'Basic realm="tarnix-e2e"')
        handler.send_header("Content-Length", "0")
        handler.end_headers()
    return route


def serve_html(status=200):
    """A route that answers with an HTML page, as a captive portal or a
    misconfigured server does."""
    page = ("<!DOCTYPE html><html><head><title>Sign in</title></head>"
            "<body><p>Please sign in to use this network.</p></body></html>").encode()
    return lambda handler, server: send_body(handler, page, "text/html; charset=utf-8", status)


def send_part(handler, body, sent):
    """Answers status 200 announcing all of `body` and sends its first `sent` bytes."""
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body[:sent])
    handler.wfile.flush()


def serve_stall(body, sent=4096, hold=600.0):
    """A route that announces all of `body`, sends its first `sent` bytes and
    then sends nothing more for `hold` seconds (or until the server stops)."""
    def route(handler, server):
        send_part(handler, body, sent)
        server.stalled.wait(hold)
    return route


def reset_connection(handler):
    """Ends the request's connection with a reset (RST), as a dropping
    network or a crashing server does."""
    handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    handler.close_connection = True
    handler.connection.close()


def serve_reset():
    """A route that resets the connection without answering."""
    return lambda handler, server: reset_connection(handler)


def serve_cut(body, sent=64 * 1024):
    """A route that announces all of `body`, sends its first `sent` bytes and
    then closes the connection: a download that breaks off part-way."""
    def route(handler, server):
        send_part(handler, body, sent)
        handler.close_connection = True
        handler.connection.shutdown(socket.SHUT_RDWR)
    return route


def serve_resumable(body, etag='"v1"', ranges=True, cut_after=None, sent=None, chunks=1, delay=0.0):
    """A route that serves `body` as a file a download can resume: with the
    ETag `etag` (None: none; a weak one is sent as given), and with `ranges`
    a 206 of the rest for "Range: bytes=N-" whose If-Range names that ETag,
    a 416 for a range past the end; any other request gets the whole file
    with 200. With `cut_after` the answer breaks off (the connection shut)
    after that many bytes of its body, its length announced whole. The body
    goes in `chunks` pieces with `delay` seconds before each after the first.
    `sent` (a list) gets the number of body bytes written for each request."""
    def route(handler, server):
        start = 0
        asked = re.match(r"^bytes=(\d+)-$", handler.headers.get("Range", ""))
        if ranges and asked and etag and handler.headers.get("If-Range") == etag:
            start = int(asked.group(1))
        if start >= len(body) and start:
            handler.send_response(416)
            handler.send_header("Content-Range", f"bytes */{len(body)}")
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        part = body[start:]
        handler.send_response(206 if start else 200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(part)))
        handler.send_header("Cache-Control", "no-store")
        if start:
            handler.send_header("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")
        if ranges:
            handler.send_header("Accept-Ranges", "bytes")
        if etag:
            handler.send_header("ETag", etag)
        handler.end_headers()
        limit = len(part) if cut_after is None else min(cut_after, len(part))
        step = max(1, -(-limit // chunks))
        written = 0
        try:
            for index, at in enumerate(range(0, limit, step)):
                if index and delay:
                    if server.stalled.wait(delay):
                        break
                handler.wfile.write(part[at:min(at + step, limit)])
                handler.wfile.flush()
                written = min(at + step, limit)
        finally:
            if sent is not None:
                sent.append(written)
        if limit < len(part):
            handler.close_connection = True
            handler.connection.shutdown(socket.SHUT_RDWR)
    return route


def serve_in_turn(*routes):
    """A route that answers the n-th request with routes[n] (the last one
    answers every request after it)."""
    count = [0]
    lock = threading.Lock()

    def route(handler, server):
        with lock:
            index = min(count[0], len(routes) - 1)
            count[0] += 1
        routes[index](handler, server)
    return route


def launch_log_path(wine):
    """The launch log in the prefix's temporary folder (where the installer goes)."""
    return os.path.join(wine.drive_c, "users", getpass.getuser(), "Temp", "TarnixLauncher.log")


def read_launch_log(wine):
    """The launch log's lines as (process id, text), or [] when there is none."""
    try:
        with open(launch_log_path(wine), encoding="utf-8", newline="") as log:
            raw = log.read()
    except FileNotFoundError:
        return []
    lines = []
    for line in raw.split("\r\n"):
        if line:
            # "2026-12-10 21:07:03.009 [4242] text"
            assert LOG_LINE.match(line), line
            match = LOG_LINE.match(line)
            lines.append((int(match[1]), match[2]))
    return lines


def clear_internet_cache(wine):
    """Empties the prefix's internet cache, so that no download of an earlier
    run is answered from it. Only while no Wine process of the prefix runs."""
    for users in (os.path.join(wine.drive_c, "users"),):
        for user in os.listdir(users) if os.path.isdir(users) else ():
            shutil.rmtree(os.path.join(users, user, "AppData", "Local", "Microsoft", "Windows", "INetCache"),
                          ignore_errors=True)


def refused_proxy():
    """A proxy address on which nothing listens: connections are refused."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{probe.getsockname()[1]}"


if __name__ == "__main__":
    # scripts/test asks how the 32-bit loader runs before the shipped file's module.
    print(wine32_mode() or "none")
