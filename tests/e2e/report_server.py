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


class _Held:
    """A mode that keeps its connection busy until released."""

    def __init__(self):
        self.released = threading.Event()

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


class Stall(_Held):
    """Accepts the request and never answers."""

    def __call__(self, handler, server):
        self.released.wait(60)


class Trickle(_Held):
    """Answers one byte per `interval` seconds, headers included."""

    def __init__(self, interval=1.0):
        super().__init__()
        self.interval = interval

    def __call__(self, handler, server):
        response = b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"
        for byte in response:
            if self.released.wait(self.interval):
                return
            handler.wfile.write(bytes([byte]))
            handler.wfile.flush()


class Endless(_Held):
    """Status 200 and a body that never ends."""

    def __call__(self, handler, server):
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
