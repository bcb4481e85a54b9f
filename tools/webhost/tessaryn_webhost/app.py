"""The host as an ASGI application: routing, installer files, usage events, the funnel.

Database work and file reads run on a small bounded pool of threads; the event loop
only moves bytes.
"""

import asyncio
import json
import logging
import time
from urllib.parse import parse_qs

from .answer_signing import HEADER
from .events import BadEvent, parse_event
from .files import installer_name, open_installer
from .funnel import BadPeriod, build_funnel, parse_period
from .funnel_page import render_funnel
from .storage import StoreError

log = logging.getLogger("tessaryn_webhost.requests")

METRICS_PATH = "/installers/metrics"
# Bodies a little over the limit are read and dropped so that the client sees the
# 413 answer instead of a reset connection; bigger ones are not worth reading.
DRAIN_LIMIT = 1 << 20
CHUNK = 1 << 16
# Stored and logged User-Agent texts are cut here; real ones are under 100 characters.
MAX_USER_AGENT = 512
MAX_CLIENT = 64
# The HTTP layer bounds only a head that arrives in pieces; one that comes in a single read
# is measured here.
MAX_HEAD = 16 * 1024


def _printable(text):
    """Request text as it may appear in a log line: no control characters, no line breaks."""
    return "".join(c if c.isprintable() and c != '"' else f"\\x{ord(c):02x}" for c in text)


class HttpError(Exception):
    def __init__(self, status, message, allow=None, close=False):
        super().__init__(message)
        self.status = status
        self.allow = allow
        self.close = close


class ClientGone(Exception):
    """The client closed the connection; there is no one to answer."""


class Exchange:
    """One request and its answer."""

    def __init__(self, scope, receive, send):
        self.scope = scope
        self._receive = receive
        self._send = send
        self.method = scope["method"]
        self.headers = {}
        for name, value in scope["headers"]:
            self.headers.setdefault(name.decode("latin-1"), value.decode("latin-1"))
        self.status = None
        self.sent = 0

    def header(self, name, default=""):
        return self.headers.get(name, default)

    async def receive(self):
        message = await self._receive()
        if message["type"] == "http.disconnect":
            raise ClientGone()
        return message

    async def start(self, status, headers, close=False):
        self.status = status
        if close:
            headers = [*headers, ("Connection", "close")]
        await self._send({
            "type": "http.response.start",
            "status": status,
            "headers": [(k.encode("latin-1"), v.encode("latin-1")) for k, v in headers],
        })

    async def body(self, data, more=False):
        await self._send({"type": "http.response.body", "body": data, "more_body": more})
        if self.method != "HEAD":
            self.sent += len(data)

    async def send_body(self, status, content_type, data, allow=None, extra=(), close=False):
        headers = [("Content-Type", content_type), ("Content-Length", str(len(data)))]
        if allow:
            headers.append(("Allow", allow))
        await self.start(status, [*headers, *extra], close=close)
        await self.body(data)

    async def send_json(self, status, value, allow=None, close=False, signer=None, request=None):
        data = json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        # An answer to an event is signed together with the request it answers.
        extra = [(HEADER, signer.sign(request, data))] if signer is not None else []
        await self.send_body(status, "application/json", data, allow=allow, extra=extra,
                             close=close)


async def _until_gone(exchange):
    try:
        while True:
            await exchange.receive()
    except ClientGone:
        pass


class HostApp:
    def __init__(self, store, rules, files_dir, max_body, workers, signer=None):
        self.signer = signer
        self.store = store
        self.rules = rules
        self.files_dir = files_dir
        self.max_body = max_body
        self.workers = workers

    async def _blocking(self, function, *args):
        return await asyncio.get_running_loop().run_in_executor(self.workers, function, *args)

    async def __call__(self, scope, receive, send):
        if scope["type"] != "http":
            return
        exchange = Exchange(scope, receive, send)
        started = time.monotonic()
        path = scope["raw_path"].decode("latin-1")
        query = scope["query_string"].decode("latin-1")
        try:
            try:
                await self._route(exchange, path, query)
            except HttpError as e:
                await exchange.send_json(e.status, {"error": str(e)}, allow=e.allow, close=e.close)
            except ClientGone:
                raise
            except Exception:
                # A fault of ours still gets an answer, and the trace goes to the log.
                log.exception("request failed: %s %s", exchange.method, _printable(path))
                if exchange.status is None:
                    await exchange.send_json(500, {"error": "internal error"}, close=True)
        except (ClientGone, OSError):
            pass
        finally:
            full = path + ("?" + query if query else "")
            log.info('%s "%s %s" %s %d %.1fms "%s"', self._client(scope), exchange.method, _printable(full),
                     exchange.status, exchange.sent, (time.monotonic() - started) * 1000,
                     _printable(exchange.header("user-agent")[:MAX_USER_AGENT]))

    @staticmethod
    def _client(scope):
        client = scope.get("client")
        return str(client[0])[:MAX_CLIENT] if client else "-"

    async def _route(self, exchange, path, query):
        if sum(len(name) + len(value) + 4 for name, value in exchange.scope["headers"]) > MAX_HEAD:
            raise HttpError(431, "request headers too large", close=True)
        if path == METRICS_PATH:
            self._only(exchange, "POST")
            return await self._post_event(exchange)
        name = installer_name(path)
        if name is not None:
            self._only(exchange, "GET", "HEAD")
            return await self._send_installer(exchange, name)
        if path in ("/funnel", "/funnel.json"):
            self._only(exchange, "GET", "HEAD")
            return await self._send_funnel(exchange, query, html=path == "/funnel")
        raise HttpError(404, "not found")

    @staticmethod
    def _only(exchange, *methods):
        if exchange.method not in methods:
            raise HttpError(405, f"method {exchange.method} not allowed", allow=", ".join(methods))

    # -- installer files -----------------------------------------------------------

    async def _send_installer(self, exchange, name):
        opened = await self._blocking(open_installer, self.files_dir, name)
        if opened is None:
            raise HttpError(404, "not found")
        handle, size = opened
        try:
            await exchange.start(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(size))])
            if exchange.method == "HEAD":
                return await exchange.body(b"")
            # Stop reading the file as soon as the client has gone.
            gone = asyncio.ensure_future(_until_gone(exchange))
            try:
                left = size
                while left > 0 and not gone.done():
                    chunk = await self._blocking(handle.read, min(CHUNK, left))
                    if not chunk:
                        # The file shrank under us; the connection is dropped so the client
                        # cannot take a short file as complete.
                        log.error("%s shrank while being sent", name)
                        return
                    left -= len(chunk)
                    await exchange.body(chunk, more=left > 0)
            finally:
                gone.cancel()
        finally:
            await self._blocking(handle.close)

    # -- usage events ----------------------------------------------------------------

    async def _read_body(self, exchange):
        media_type = exchange.header("content-type").split(";")[0].strip().lower()
        if media_type != "application/json":
            raise HttpError(415, "Content-Type must be application/json")
        limit = self.max_body
        chunked = "transfer-encoding" in exchange.headers
        length_text = exchange.header("content-length", None)
        if not chunked:
            if length_text is None:
                raise HttpError(411, "a Content-Length is required", close=True)
            # The HTTP layer checks this too; only ASCII digits are a length.
            if not (length_text.isascii() and length_text.isdigit()):
                raise HttpError(400, "invalid Content-Length", close=True)
            length = int(length_text)
            if length > limit:
                if length <= DRAIN_LIMIT:
                    await self._discard(exchange, length)
                raise HttpError(413, f"body larger than {limit} bytes", close=True)
        body = bytearray()
        more = True
        while more:
            message = await exchange.receive()
            body += message.get("body", b"")
            more = message.get("more_body", False)
            if len(body) > limit:
                if more:
                    await self._discard(exchange, DRAIN_LIMIT - len(body))
                raise HttpError(413, f"body larger than {limit} bytes", close=True)
        return bytes(body)

    @staticmethod
    async def _discard(exchange, budget):
        more = True
        while more and budget > 0:
            message = await exchange.receive()
            budget -= len(message.get("body", b""))
            more = message.get("more_body", False)

    async def _post_event(self, exchange):
        body = await self._read_body(exchange)
        try:
            code, product, machine_id = parse_event(body)
        except BadEvent as e:
            raise HttpError(400, str(e)) from None
        user_agent = exchange.header("user-agent")[:MAX_USER_AGENT]
        client = self._client(exchange.scope)
        try:
            answer = await self._blocking(self._store_and_answer, code, product, machine_id, user_agent, client)
        except StoreError as e:
            log.error("event not stored: %s", e)
            raise HttpError(503, "the event could not be stored; try again later") from None
        await exchange.send_json(200, answer, signer=self.signer, request=body)

    def _store_and_answer(self, code, product, machine_id, user_agent, client):
        self.store.add(code, product, machine_id, user_agent, client)
        return self.rules.answer(code, product, user_agent)

    # -- funnel --------------------------------------------------------------------------

    async def _send_funnel(self, exchange, query_text, html):
        query = parse_qs(query_text)
        try:
            start, end = parse_period(query)
        except BadPeriod as e:
            raise HttpError(400, str(e)) from None
        try:
            rows = await self._blocking(self.store.counts, start, end)
        except StoreError as e:
            log.error("funnel not read: %s", e)
            raise HttpError(503, "the events could not be read; try again later") from None
        report = build_funnel(rows, start, end)
        if not html:
            return await exchange.send_json(200, report)
        values = {key: values[0] for key, values in query.items() if key in ("from", "to")}
        page = render_funnel(report, values).encode("utf-8")
        await exchange.send_body(
            200,
            "text/html; charset=utf-8",
            page,
            extra=(
                ("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'"),
                ("X-Content-Type-Options", "nosniff"),
            ),
        )
