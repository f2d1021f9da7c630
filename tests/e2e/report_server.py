"""Answers of the local statistics server, as routes for harness.RecordingServer.

Each mode is a route object: `server.routes["/report"] = Answer(b"...")`.
Modes that hold a connection open end when `release()` is called (or when
the launcher goes away), so no server thread outlives its test for long.
"""

import socket
import threading
import time
import urllib.parse

REPORT_PATH = "/report"


HOLD_LIMIT = 300.0  # seconds a held connection lasts at most, should a test forget to release it


class _Held:
    """A mode that keeps its connection busy until released. `arrived` is set
    when its request came in, `answered` once its whole answer is out."""

    def __init__(self):
        self.released = threading.Event()
        self.arrived = threading.Event()
        self.answered = threading.Event()

    def release(self):
        self.released.set()


class Answer:
    """A normal answer: status 200 and `body`."""

    def __init__(self, body=b"report-ok\n", status=200):
        self.body = body
        self.status = status

    def __call__(self, handler, server):
        handler.send_response(self.status)
        handler.send_header("Content-Type", "text/plain")
        handler.send_header("Content-Length", str(len(self.body)))
        handler.end_headers()
        handler.wfile.write(self.body)


class Delayed(_Held):
    """Status 200 and `body`, sent `delay` seconds after the request came in."""

    def __init__(self, delay=3.0, body=b"report-ok after a wait\nsecond line"):
        super().__init__()
        self.delay = delay
        self.body = body

    def __call__(self, handler, server):
        self.arrived.set()
        if self.released.wait(self.delay):
            return
        Answer(self.body)(handler, server)
        self.answered.set()


class Stall(_Held):
    """Accepts the request and never answers."""

    def __call__(self, handler, server):
        self.arrived.set()
        self.released.wait(HOLD_LIMIT)


class Trickle(_Held):
    """Answers one byte per `interval` seconds, headers included; `padding`
    bytes of an extra header make the headers alone take that much longer."""

    def __init__(self, interval=1.0, body=b"hello", padding=0):
        super().__init__()
        self.interval = interval
        self.body = body
        self.padding = padding

    def __call__(self, handler, server):
        self.arrived.set()
        response = (b"HTTP/1.1 200 OK\r\n" + (b"X-Padding: " + b"." * self.padding + b"\r\n" if self.padding else b"")
                    + b"Content-Length: %d\r\n\r\n" % len(self.body) + self.body)
        for byte in response:
            if self.released.wait(self.interval):
                return
            handler.wfile.write(bytes([byte]))
            handler.wfile.flush()
        self.answered.set()


class HangUp(_Held):
    """Closes the connection without an answer."""

    def __call__(self, handler, server):
        self.arrived.set()
        handler.close_connection = True
        handler.connection.shutdown(socket.SHUT_RDWR)


class Endless(_Held):
    """Status 200 and a body that never ends."""

    def __call__(self, handler, server):
        self.arrived.set()
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.end_headers()
        chunk = b"e" * 4096
        while not self.released.is_set():
            handler.wfile.write(chunk)


def refused_proxy():
    """A proxy address on which nothing listens, so every connection is refused."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}"


def report_requests(server):
    """The statistics requests the server received, as (path, query) pairs.
    A request through the proxy carries the whole URL; only its path and
    query are kept."""
    found = []
    for request in server.requests:
        url = urllib.parse.urlsplit(request["path"])
        if url.path == REPORT_PATH:
            found.append((url.path, url.query))
    return found


def wait_for_file(path, timeout, interval=0.02):
    """Seconds until `path` exists (polled finely), or None after `timeout`."""
    start = time.monotonic()
    while time.monotonic() - start < timeout:
        if _exists(path):
            return time.monotonic() - start
        time.sleep(interval)
    return None


def _exists(path):
    try:
        with open(path, "rb"):
            return True
    except OSError:
        return False
