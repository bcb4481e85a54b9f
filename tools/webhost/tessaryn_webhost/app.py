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
from .funnel import PAGE_SIZE, UPGRADE_WINDOW_S, BadPeriod, build_funnel, parse_page, parse_period
from .funnel_access import (ALLOWED, LOCAL_ONLY, MAX_LOGIN_BODY, NEEDS_TLS, FunnelAccess, Throttled,
                            client_key, is_own_machine, over_tls, period_query)
from .funnel_page import render_funnel, render_login
from .limits import EventLimits
from .storage import StoreError

log = logging.getLogger("tessaryn_webhost.requests")

METRICS_PATH = "/installers/metrics"
# Set on the scope by KeepPeer: the peer is a trusted proxy, whose word on the scheme counts.
VIA_PROXY = "tessaryn.via_proxy"
PLAIN_SIGN_IN = "sign in over HTTPS: a token is not taken over plain HTTP from another machine"
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
    def __init__(self, status, message, allow=None, close=False, extra=()):
        super().__init__(message)
        self.status = status
        self.allow = allow
        self.close = close
        self.extra = extra


def _too_many(message, retry_after, close=False):
    return HttpError(429, message, close=close, extra=(("Retry-After", str(retry_after)),))


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

    async def send_json(self, status, value, allow=None, close=False, signer=None, request=None, extra=()):
        data = json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        # An answer to an event is signed together with the request it answers.
        extra = [*extra, (HEADER, signer.sign(request, data))] if signer is not None else extra
        await self.send_body(status, "application/json", data, allow=allow, extra=extra,
                             close=close)


async def _until_gone(exchange):
    try:
        while True:
            await exchange.receive()
    except ClientGone:
        pass


class HostApp:
    def __init__(self, store, rules, files_dir, max_body, workers, funnel_access=None,
                 signer=None, limits=None):
        self.funnel_access = funnel_access or FunnelAccess()
        self.limits = limits or EventLimits()
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
                await exchange.send_json(e.status, {"error": str(e)}, allow=e.allow, close=e.close, extra=e.extra)
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
        if path == "/funnel/login":
            self._only(exchange, "POST")
            return await self._funnel_login(exchange)
        if path == "/funnel/logout":
            self._only(exchange, "POST")
            return await self._funnel_logout(exchange)
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

    async def _read_body(self, exchange, expected_type="application/json", limit=None):
        media_type = exchange.header("content-type").split(";")[0].strip().lower()
        if media_type != expected_type:
            raise HttpError(415, f"Content-Type must be {expected_type}")
        limit = limit or self.max_body
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
        # Counted before the body is read: a client over its limit costs no more than its head.
        wait = self.limits.per_client.take(client_key(exchange.scope.get("client")))
        if wait:
            raise _too_many("too many events from this address", wait, close=True)
        body = await self._read_body(exchange)
        try:
            event = parse_event(body)
        except BadEvent as e:
            raise HttpError(400, str(e)) from None
        user_agent = exchange.header("user-agent")[:MAX_USER_AGENT]
        client = self._client(exchange.scope)
        try:
            answer = await self._blocking(self._store_and_answer, event, user_agent, client)
        except StoreError as e:
            log.error("event not stored: %s", e)
            raise HttpError(503, "the event could not be stored; try again later") from None
        await exchange.send_json(200, answer, signer=self.signer, request=body)

    def _store_and_answer(self, event, user_agent, client):
        # The folder of served products is looked at here, off the event loop.
        if not self.limits.serves(event.product):
            raise HttpError(404, "unknown product")
        wait = self.limits.per_machine.take(event.machine_id)
        if wait:
            raise _too_many("too many events from this machine", wait)
        self.store.add(event.code, event.product, event.machine_id, user_agent, client)
        # The answer is chosen from the signed body alone.
        return self.rules.answer(event)

    # -- funnel --------------------------------------------------------------------------

    def _over_tls(self, exchange):
        return over_tls(exchange.scope, exchange.scope.get(VIA_PROXY, False))

    async def _send_funnel(self, exchange, query_text, html):
        try:
            access = self.funnel_access.decide(exchange.headers, exchange.scope.get("client"),
                                               self._over_tls(exchange))
        except Throttled as e:
            raise _too_many(str(e), e.retry_after) from None
        if access == LOCAL_ONLY:
            raise HttpError(403, "the funnel answers only this machine until a funnel token is set")
        if access == NEEDS_TLS:
            raise HttpError(403, PLAIN_SIGN_IN)
        if access != ALLOWED:
            if html:
                return await self._send_page(exchange, render_login(False, period_query(query_text)), status=401)
            return await exchange.send_body(401, "application/json", b'{"error":"a funnel token is required"}',
                                            extra=(("WWW-Authenticate", 'Bearer realm="funnel"'),))
        query = parse_qs(query_text)
        try:
            start, end = parse_period(query)
            page = parse_page(query)
        except BadPeriod as e:
            raise HttpError(400, str(e)) from None
        try:
            found = await self._blocking(self.store.funnel_page, start, end, PAGE_SIZE, (page - 1) * PAGE_SIZE,
                                         UPGRADE_WINDOW_S)
        except StoreError as e:
            log.error("funnel not read: %s", e)
            raise HttpError(503, "the events could not be read; try again later") from None
        report = build_funnel(*found, start, end, page)
        if not html:
            data = json.dumps(report, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
            return await exchange.send_body(200, "application/json", data, extra=(("Cache-Control", "no-store"),))
        values = {key: values[0] for key, values in query.items() if key in ("from", "to", "days")}
        await self._send_page(exchange, render_funnel(report, values, sign_out=self.funnel_access.token_set))

    @staticmethod
    async def _send_page(exchange, page, status=200, extra=()):
        if status == 401:
            extra = (*extra, ("WWW-Authenticate", 'Bearer realm="funnel"'))
        await exchange.send_body(
            status,
            "text/html; charset=utf-8",
            page.encode("utf-8"),
            extra=(
                # img-src: the page names an empty icon, so that browsers do not ask for /favicon.ico.
                ("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; img-src data:; form-action 'self'"),
                ("X-Content-Type-Options", "nosniff"),
                ("Cache-Control", "no-store"),
                *extra,
            ),
        )

    async def _funnel_login(self, exchange):
        if not self.funnel_access.token_set:
            raise HttpError(403, "no funnel token is set: the funnel answers only this machine")
        tls = self._over_tls(exchange)
        client = exchange.scope.get("client")
        if not (tls or is_own_machine(exchange.headers, client)):
            raise HttpError(403, PLAIN_SIGN_IN)
        body = await self._read_body(exchange, "application/x-www-form-urlencoded", MAX_LOGIN_BODY)
        try:
            headers, back = self.funnel_access.login(body, client, secure=tls)
        except Throttled as e:
            raise _too_many(str(e), e.retry_after) from None
        if headers is None:
            return await self._send_page(exchange, render_login(True, back), status=401)
        await exchange.start(303, [*headers, ("Content-Length", "0"), ("Cache-Control", "no-store")])
        await exchange.body(b"")

    async def _funnel_logout(self, exchange):
        headers = self.funnel_access.logout(exchange.headers, secure=self._over_tls(exchange))
        await exchange.start(303, [*headers, ("Content-Length", "0"), ("Cache-Control", "no-store")])
        await exchange.body(b"")


class KeepPeer:
    """Outermost layer: notes whether the peer itself is a trusted proxy, before the proxy layer
    replaces the peer's address by the client's."""

    def __init__(self, app, trusted):
        self.app = app
        self.trusted = trusted

    async def __call__(self, scope, receive, send):
        client = scope.get("client")
        scope[VIA_PROXY] = bool(client) and client[0] in self.trusted
        await self.app(scope, receive, send)
