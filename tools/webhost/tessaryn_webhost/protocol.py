"""uvicorn's HTTP/1.1 connection with the bounds a public host needs.

uvicorn limits neither the number of connections nor the time a client may take to
send its request, and keeps a silent new connection open for ever. This adds:
  - a cap on open connections: one over it gets a 503 and is closed within a second;
  - an idle limit from the moment of connecting, as between requests;
  - a request limit: from its first byte a request must arrive in full in time, else 408;
  - a send limit: output that the client does not take within that time drops the connection.
"""

import logging
import time

import h11
from uvicorn.protocols.http.h11_impl import H11Protocol

log = logging.getLogger("tessaryn_webhost.connections")


def _canned(status, body):
    body = b'{"error":"' + body + b'"}\n'
    return (b"HTTP/1.1 " + status + b"\r\nContent-Type: application/json\r\nContent-Length: "
            + str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body)


REFUSED = _canned(b"503 Service Unavailable", b"too many clients")
TIMED_OUT = _canned(b"408 Request Timeout", b"request too slow")
RECEIVING = (h11.IDLE, h11.SEND_BODY)
REFUSAL_LINGER = 1.0


class Limits:
    def __init__(self, max_connections, idle_timeout, request_timeout):
        self.max_connections = max_connections
        self.idle_timeout = idle_timeout
        self.request_timeout = request_timeout
        # Refusals are logged at most once a second, so a flood cannot flood the log.
        self.refused = 0
        self.refused_logged_at = 0.0


def guarded_protocol(limits):
    class Guarded(GuardedProtocol):
        LIMITS = limits
    return Guarded


class GuardedProtocol(H11Protocol):
    LIMITS = None

    def connection_made(self, transport):
        super().connection_made(transport)
        self._refused = False
        self._request_timer = None
        self._send_timer = None
        limits = self.LIMITS
        if len(self.connections) > limits.max_connections:
            self._note_refusal()
            self._answer_and_close(REFUSED)
            return
        # Any output left unsent counts as stalled, so that no close can wait for ever on a
        # client that stopped reading (uvicorn then waits for the buffer to drain before writing more).
        # (TLS pauses at size >= high, plain TCP at size > high.)
        transport.set_write_buffer_limits(high=1 if self.scheme == "https" else 0, low=0)
        self.timeout_keep_alive_task = self.loop.call_later(limits.idle_timeout, self.timeout_keep_alive_handler)

    def _answer_and_close(self, answer):
        self._refused = True
        if answer:
            self.transport.write(answer)
        # Closing with the client's bytes unread would reset the connection before it
        # reads the answer: stop sending, drop what comes in, and close a moment later
        # (abort: a client that reads nothing must not keep it open).
        if self.transport.can_write_eof():
            self.transport.write_eof()
            self.loop.call_later(REFUSAL_LINGER, self.transport.abort)
        else:
            self.transport.close()

    def _note_refusal(self):
        limits = self.LIMITS
        limits.refused += 1
        now = time.monotonic()
        if now - limits.refused_logged_at >= 1:
            log.warning("connection limit of %d reached: %d connection(s) refused",
                        limits.max_connections, limits.refused)
            limits.refused, limits.refused_logged_at = 0, now

    def data_received(self, data):
        if self._refused:
            return
        if self._request_timer is None and self.conn.their_state in RECEIVING:
            self._request_timer = self.loop.call_later(self.LIMITS.request_timeout, self._request_too_slow)
        super().data_received(data)
        if self.conn.their_state not in RECEIVING:
            self._cancel_request_timer()

    def on_response_complete(self):
        super().on_response_complete()
        # A pipelined request may have been read from the buffer meanwhile.
        if self.conn.their_state not in RECEIVING:
            self._cancel_request_timer()

    def _cancel_request_timer(self):
        if self._request_timer is not None:
            self._request_timer.cancel()
            self._request_timer = None

    def _request_too_slow(self):
        self._request_timer = None
        if self.transport.is_closing():
            return
        client = self.client[0] if self.client else "-"
        log.info("%s request not received within %ss: closed", client, self.LIMITS.request_timeout)
        # No answer when one is half sent: the client would read a 408 inside it.
        if self.cycle is None or self.cycle.response_complete or not self.cycle.response_started:
            self._answer_and_close(TIMED_OUT)
        else:
            self.transport.close()

    def pause_writing(self):
        super().pause_writing()
        if self._send_timer is None and not self._refused:
            self._send_timer = self.loop.call_later(self.LIMITS.request_timeout, self._send_stalled)

    def resume_writing(self):
        super().resume_writing()
        if self._send_timer is not None:
            self._send_timer.cancel()
            self._send_timer = None

    def _send_stalled(self):
        self._send_timer = None
        client = self.client[0] if self.client else "-"
        log.info("%s took no output for %ss: connection dropped", client, self.LIMITS.request_timeout)
        self.transport.abort()

    def connection_lost(self, exc):
        self._cancel_request_timer()
        if self._send_timer is not None:
            self._send_timer.cancel()
            self._send_timer = None
        super().connection_lost(exc)
