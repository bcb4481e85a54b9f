"""HTTP server and request routing."""

import json
import logging
import re
import socket
import sqlite3
import ssl
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs

from .events import BadEvent, parse_event
from .files import installer_name, open_installer
from .funnel import BadPeriod, build_funnel, parse_period
from .funnel_page import render_funnel

log = logging.getLogger("tessaryn_webhost.requests")

METRICS_PATH = "/installers/metrics"
# Bodies a little over the limit are read and dropped so that the client sees the
# 413 answer instead of a reset connection; bigger ones are not worth reading.
DRAIN_LIMIT = 1 << 20
CHUNK = 1 << 16
HEX_SIZE = re.compile(rb"[0-9A-Fa-f]{1,16}")


def _printable(text):
    """Request text as it may appear in a log line: no control characters, no line breaks."""
    return "".join(c if c.isprintable() and c != '"' else f"\\x{ord(c):02x}" for c in text)


class HttpError(Exception):
    def __init__(self, status, message, allow=None, close=False):
        super().__init__(message)
        self.status = status
        self.allow = allow
        self.close = close


class Handler(BaseHTTPRequestHandler):
    server_version = "TessarynHost/1.0"
    # Bounds how long a silent or slow client can hold a thread (and delay shutdown).
    timeout = 15

    def version_string(self):
        return self.server_version

    # -- plumbing ---------------------------------------------------------------

    def log_request(self, code="-", size="-"):
        self._status = code

    def log_message(self, format, *args):
        log.info("%s %s", self.client_address[0], _printable(format % args))

    def _dispatch(self):
        started = time.monotonic()
        self._status = None
        self._sent = 0
        raw_path, _, self._query = self.path.partition("?")
        try:
            try:
                self._route(raw_path)
            except HttpError as e:
                if e.close:
                    self.close_connection = True
                self._send_json(e.status, {"error": str(e)}, allow=e.allow)
            except (BrokenPipeError, ConnectionResetError):
                raise
            except Exception:
                # A fault of ours still gets an answer, and the trace goes to the log.
                log.exception("request failed: %s %s", self.command, _printable(self.path))
                self.close_connection = True
                if self._status is None:
                    self._send_json(500, {"error": "internal error"})
        except (BrokenPipeError, ConnectionResetError):
            # The client left; there is no one to answer.
            self.close_connection = True
        finally:
            log.info(
                '%s "%s %s" %s %d %.1fms "%s"',
                self.client_address[0],
                self.command,
                _printable(self.path),
                self._status,
                self._sent,
                (time.monotonic() - started) * 1000,
                _printable(self.headers.get("User-Agent", "")),
            )

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = _dispatch

    def _route(self, raw_path):
        if raw_path == METRICS_PATH:
            self._only("POST")
            return self._post_event()
        name = installer_name(raw_path)
        if name is not None:
            self._only("GET", "HEAD")
            return self._send_installer(name)
        if raw_path in ("/funnel", "/funnel.json"):
            self._only("GET", "HEAD")
            return self._send_funnel(html=raw_path == "/funnel")
        raise HttpError(404, "not found")

    def _only(self, *methods):
        if self.command not in methods:
            raise HttpError(405, f"method {self.command} not allowed", allow=", ".join(methods))

    def _send_body(self, status, content_type, body, allow=None, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        if allow:
            self.send_header("Allow", allow)
        for key, value in extra:
            self.send_header(key, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
            self._sent = len(body)

    def _send_json(self, status, value, allow=None):
        body = json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        self._send_body(status, "application/json", body, allow=allow)

    # -- installer files -----------------------------------------------------------

    def _send_installer(self, name):
        opened = open_installer(self.server.files_dir, name)
        if opened is None:
            raise HttpError(404, "not found")
        handle, size = opened
        with handle:
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            if self.command == "HEAD":
                return
            # Sends exactly the announced length even if the file grows meanwhile.
            left = size
            while left > 0:
                chunk = handle.read(min(CHUNK, left))
                if not chunk:
                    # The file shrank under us; the client must not take this as complete.
                    self.close_connection = True
                    break
                self.wfile.write(chunk)
                left -= len(chunk)
                self._sent += len(chunk)

    # -- usage events ----------------------------------------------------------------

    def _read_body(self):
        media_type = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
        if media_type != "application/json":
            raise HttpError(415, "Content-Type must be application/json")
        encoding = self.headers.get("Transfer-Encoding")
        if encoding is not None:
            if encoding.strip().lower() != "chunked":
                raise HttpError(501, f"transfer encoding {encoding} not supported", close=True)
            return self._read_chunked()
        length_text = self.headers.get("Content-Length")
        if length_text is None:
            raise HttpError(411, "a Content-Length is required", close=True)
        if not length_text.strip().isdigit():
            raise HttpError(400, "invalid Content-Length", close=True)
        length = int(length_text)
        limit = self.server.max_body
        if length > limit:
            if length <= DRAIN_LIMIT:
                self._discard(length)
            raise HttpError(413, f"body larger than {limit} bytes", close=True)
        body = self.rfile.read(length)
        if len(body) != length:
            raise HttpError(400, "body shorter than its Content-Length", close=True)
        return body

    def _chunk_size(self):
        text = self.rfile.readline(1024).split(b";")[0].strip()
        if not HEX_SIZE.fullmatch(text):
            raise HttpError(400, "invalid chunked body", close=True)
        return int(text, 16)

    def _skip_trailer(self):
        for _ in range(100):
            if self.rfile.readline(1024) in (b"\r\n", b"\n", b""):
                return True
        return False

    def _read_chunked(self):
        limit = self.server.max_body
        body = bytearray()
        while (size := self._chunk_size()) > 0:
            if len(body) + size > limit:
                self._discard_chunks(size, DRAIN_LIMIT - len(body))
                raise HttpError(413, f"body larger than {limit} bytes", close=True)
            chunk = self.rfile.read(size + 2)
            if len(chunk) != size + 2 or not chunk.endswith(b"\r\n"):
                raise HttpError(400, "invalid chunked body", close=True)
            body += chunk[:-2]
        if not self._skip_trailer():
            raise HttpError(400, "invalid chunked body", close=True)
        return bytes(body)

    def _discard_chunks(self, size, budget):
        """Reads the rest of an over-large chunked body, within a budget, so the client sees our answer."""
        try:
            while 0 < size and size + 2 <= budget:
                self._discard(size + 2)
                budget -= size + 2
                size = self._chunk_size()
            if size == 0:
                self._skip_trailer()
        except (OSError, HttpError):
            pass

    def _discard(self, length):
        try:
            while length > 0:
                chunk = self.rfile.read(min(CHUNK, length))
                if not chunk:
                    break
                length -= len(chunk)
        except OSError:
            pass

    def _post_event(self):
        body = self._read_body()
        try:
            code, product, machine_id = parse_event(body)
        except BadEvent as e:
            raise HttpError(400, str(e)) from None
        user_agent = self.headers.get("User-Agent", "")
        try:
            self.server.store.add(code, product, machine_id, user_agent, self.client_address[0])
        except sqlite3.Error as e:
            log.error("event not stored: %s", e)
            raise HttpError(503, "the event could not be stored; try again later") from None
        answer = self.server.rules.answer(code, product, user_agent)
        self._send_json(200, answer)

    # -- funnel --------------------------------------------------------------------------

    def _send_funnel(self, html):
        query = parse_qs(self._query)
        try:
            start, end = parse_period(query)
        except BadPeriod as e:
            raise HttpError(400, str(e)) from None
        report = build_funnel(self.server.store.counts(start, end), start, end)
        if not html:
            return self._send_json(200, report)
        values = {key: values[0] for key, values in query.items() if key in ("from", "to")}
        page = render_funnel(report, values).encode("utf-8")
        self._send_body(
            200,
            "text/html; charset=utf-8",
            page,
            extra=(
                ("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"),
                ("X-Content-Type-Options", "nosniff"),
            ),
        )


class HostServer(ThreadingHTTPServer):
    # Requests in flight finish (and their events are stored) before shutdown completes.
    daemon_threads = False
    block_on_close = True
    # The default backlog of 5 resets connections when a burst of setups report at once.
    request_queue_size = 128

    def __init__(self, address, store, rules, files_dir, max_body, tls=None):
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        super().__init__(address, Handler)
        self.store = store
        self.rules = rules
        self.files_dir = files_dir
        self.max_body = max_body
        self.tls = tls

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the request's own thread, so one slow
        # client cannot stall the accept loop.
        if self.tls is None:
            return super().finish_request(request, client_address)
        request.settimeout(Handler.timeout)
        try:
            secure = self.tls.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            log.info("%s TLS handshake failed: %s", client_address[0], e)
            return
        # Wrapping detaches the plain socket, so the server's own close no longer reaches it.
        try:
            super().finish_request(secure, client_address)
        finally:
            secure.close()


def make_tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context

