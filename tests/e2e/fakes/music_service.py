"""The music web service, simulated over HTTPS on 127.0.0.1.

Each test sets the answers it needs as routes (method and path); every other
request gets 404. Every request is recorded as it arrived, so a test can check
what the daemon's curl sent: headers in order, query and form fields."""

import gzip
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from dataclasses import dataclass, field

from .timing import Recorder, wait_until


@dataclass
class Route:
    status: int = 200
    body: bytes = b""
    delay: float = 0.0  # seconds before answering, not scaled
    headers: list = field(default_factory=list)  # extra (name, value) pairs
    # Bytes of the body sent before the connection is closed; None sends it
    # whole. Content-Length always announces the whole body, so a smaller
    # number is a transfer cut mid-file.
    cut: int = None
    version: str = "HTTP/1.1"  # the status line's version
    # Gzip the body when the request accepts it, saying so in Content-Encoding.
    compress: bool = False
    # Seconds to wait between the headers and the body (not scaled).
    stall: float = 0.0
    # respond(request) -> (status, body text): an answer made for each request,
    # in place of status and body.
    respond: object = None


@dataclass
class Request:
    method: str
    target: str  # path and query exactly as sent
    path: str
    raw_query: str
    query: dict  # name -> list of values
    headers: list  # (name, value) in the order received
    body: bytes
    form: dict  # name -> list of values, for url-encoded bodies
    form_pairs: list  # (name, value) in body order
    arrived: float  # time.monotonic()
    finished: float = None  # set once the answer has been written

    def header(self, name):
        """The value of the first header of that name (any case), or None."""
        return next((v for n, v in self.headers if n.lower() == name.lower()), None)


def make_certificate(directory):
    """A self-signed certificate for 127.0.0.1, made with the openssl CLI."""
    key = os.path.join(directory, "key.pem")
    cert = os.path.join(directory, "cert.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
         "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
         "-keyout", key, "-out", cert],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class FakeMusicService(Recorder):
    def __init__(self):
        super().__init__()
        self.requests = []
        self._routes = {}
        self._closing = threading.Event()
        self._certdir = tempfile.mkdtemp(prefix="od-cert-", dir="/tmp")
        cert, key = make_certificate(self._certdir)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self._server = _Server(("127.0.0.1", 0), _Handler, context, self)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    @property
    def base_url(self):
        return f"https://127.0.0.1:{self.port}"

    def write_base_url(self, root):
        """Points the daemon at this service: the base-URL file, no line end."""
        root.write("/usr/local/olc/ondemand_base_url", self.base_url)

    def route(self, method, path, status=200, body="", delay=0.0, headers=None, cut=None,
              version="HTTP/1.1", compress=False, stall=0.0, respond=None):
        """`body` is text (sent as UTF-8) or bytes, sent as they are; with
        `respond`, each answer is respond(request) -> (status, text), called
        once the request has been recorded."""
        data = body.encode() if isinstance(body, str) else bytes(body)
        with self.changed:
            self._routes[(method.upper(), path)] = Route(status, data, delay,
                                                         list(headers or []), cut, version,
                                                         compress, stall, respond)

    def wait_for_requests(self, count, timeout=None):
        ok = self.wait_until(lambda: len(self.requests) >= count, timeout)
        assert ok, f"expected {count} requests, received {[r.target for r in self.requests]}"
        return self.requests[:count]

    def wait_all_finished(self, timeout=None):
        return bool(self.wait_until(
            lambda: all(r.finished is not None for r in self.requests), timeout))

    def max_in_flight(self):
        """The largest number of requests that were being answered at once."""
        events = []
        for r in self.requests:
            events.append((r.arrived, 1))
            events.append((r.finished if r.finished is not None else float("inf"), -1))
        running = peak = 0
        for _, step in sorted(events, key=lambda e: (e[0], e[1])):
            running += step
            peak = max(peak, running)
        return peak

    def close(self):
        self._closing.set()  # cuts delayed answers short
        self._server.shutdown()
        self._server.server_close()
        wait_until(lambda: not self._thread.is_alive(), timeout=2)
        shutil.rmtree(self._certdir, ignore_errors=True)

    # called by the handler threads
    def _record(self, request):
        with self.changed:
            self.requests.append(request)
            route = self._routes.get((request.method, request.path))
            self.changed.notify_all()
        return route

    def _finished(self, request):
        with self.changed:
            request.finished = time.monotonic()
            self.changed.notify_all()


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, context, service):
        self.context = context
        self.service = service
        super().__init__(address, handler)

    def get_request(self):
        conn, address = self.socket.accept()
        # The handshake runs in the handler's thread, so one slow client
        # cannot hold up the others.
        return self.context.wrap_socket(conn, server_side=True,
                                        do_handshake_on_connect=False), address

    def handle_error(self, request, client_address):
        # A client that went away mid-answer (curl ended or killed) is part
        # of the tests; anything else is still shown.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


class _Handler(http.server.BaseHTTPRequestHandler):
    # curl reports the status line as sent; the daemon looks for HTTP/1.1.
    protocol_version = "HTTP/1.1"
    timeout = 30

    def setup(self):
        super().setup()
        try:
            self.request.do_handshake()
        except (ssl.SSLError, OSError):
            self.close_connection = True

    def log_message(self, *args):
        pass

    def do_GET(self):
        self._answer()

    def _hang_up(self):
        """Closes the connection at once, without the TLS closing message, as a
        network that drops does."""
        try:
            self.request.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def do_POST(self):
        self._answer()

    def _answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        split = urllib.parse.urlsplit(self.path)
        form_pairs = []
        content_type = (self.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        if content_type == "application/x-www-form-urlencoded" and body:
            form_pairs = urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True)
        form = {}
        for name, value in form_pairs:
            form.setdefault(name, []).append(value)
        request = Request(
            method=self.command, target=self.path, path=split.path, raw_query=split.query,
            query=urllib.parse.parse_qs(split.query, keep_blank_values=True),
            headers=list(self.headers.items()), body=body, form=form, form_pairs=form_pairs,
            arrived=time.monotonic())
        service = self.server.service
        route = service._record(request) or Route(404, b"not found")
        if route.delay:
            service._closing.wait(route.delay)
        status, body = route.status, route.body
        if route.respond is not None:
            status, text = route.respond(request)
            body = text.encode()
        encodings = [e.strip() for e in (self.headers.get("Accept-Encoding") or "").split(",")]
        compressed = route.compress and "gzip" in encodings
        if compressed:
            body = gzip.compress(body)
        if route.version != "HTTP/1.1":
            # An older server: its own version in the status line, one answer
            # per connection.
            self.protocol_version = route.version
            self.close_connection = True
        try:
            self.send_response(status)
            for name, value in route.headers:
                self.send_header(name, value)
            if not any(name.lower() == "content-type" for name, _ in route.headers):
                self.send_header("Content-Type", "text/xml; charset=utf-8")
            if compressed:
                self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if route.stall:
                self.wfile.flush()
                service._closing.wait(route.stall)
            if route.cut is None:
                self.wfile.write(body)
                self.wfile.flush()
            else:
                self.wfile.write(body[:route.cut])
                self.wfile.flush()
                self.close_connection = True
                self._hang_up()
        finally:
            service._finished(request)
