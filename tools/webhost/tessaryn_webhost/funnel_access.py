"""Who may see the funnel: whoever holds the publisher's token or, when none is set, the machine itself.

The token comes as `Authorization: Bearer TOKEN` (scripts) or through the login form (browsers),
which opens a session: a random identifier in a cookie, known to the host until it expires or
the publisher signs out. A wrong token costs its sender a try; tries are counted per client and
over all clients, and once either is spent every sign-in waits for the minute to pass.
"""

import hashlib
import hmac
import ipaddress
import os
import secrets
import threading
import time
from collections import OrderedDict
from http.cookies import CookieError, SimpleCookie
from urllib.parse import parse_qsl, urlencode

from .limits import WindowCounter

TOKEN_ENV = "TESSARYN_FUNNEL_TOKEN"
MIN_TOKEN_LENGTH = 16
MAX_TOKEN_LENGTH = 512
COOKIE_NAME = "tessaryn_funnel"
SESSION_DAYS = 7
# Sessions the host remembers at most; beyond, the oldest is ended.
MAX_SESSIONS = 1000
LOGIN_WINDOW_S = 60
LOGIN_TRIES = 10
LOGIN_TRIES_TOTAL = 60
# Clients whose wrong tries are remembered at most.
MAX_LOGIN_CLIENTS = 10000
# A login form holds the token and the period being looked at; nothing bigger is read.
MAX_LOGIN_BODY = 4096
# Set by a proxy relaying someone else's request: such a request is not the machine's own.
FORWARDING_HEADERS = ("x-forwarded-for", "forwarded", "x-real-ip")

ALLOWED, NEEDS_TOKEN, LOCAL_ONLY, NEEDS_TLS = "allowed", "needs token", "local only", "needs tls"


class BadToken(ValueError):
    pass


class Throttled(Exception):
    def __init__(self, retry_after):
        super().__init__(f"too many wrong tokens; try again in {retry_after} s")
        self.retry_after = retry_after


def check_token(text, origin):
    token = text.strip()
    if not MIN_TOKEN_LENGTH <= len(token) <= MAX_TOKEN_LENGTH:
        raise BadToken(f"the funnel token in {origin} must be {MIN_TOKEN_LENGTH} to {MAX_TOKEN_LENGTH} characters")
    # It travels in a header and a form: visible ASCII only.
    if not all("!" <= c <= "~" for c in token):
        raise BadToken(f"the funnel token in {origin} may hold only visible ASCII characters, no spaces")
    return token


def load_token(path, environ=os.environ):
    """The token from the file at path, else from the environment, else None (machine-only access)."""
    if path:
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read(MAX_TOKEN_LENGTH * 2)
        except (OSError, UnicodeDecodeError) as e:
            raise BadToken(f"cannot read the funnel token file: {e}") from None
        return check_token(text, path)
    if environ.get(TOKEN_ENV):
        return check_token(environ[TOKEN_ENV], TOKEN_ENV)
    return None


def client_key(client):
    """What tries and events are counted by: the address, or for IPv6 its /64 network (one site's)."""
    if not client:
        return "-"
    try:
        address = ipaddress.ip_address(str(client[0]).split("%")[0])
    except ValueError:
        return str(client[0])
    mapped = getattr(address, "ipv4_mapped", None)
    if mapped:
        return str(mapped)
    if address.version == 6:
        return str(ipaddress.ip_network(f"{address}/64", strict=False))
    return str(address)


def _digest(text):
    return hashlib.sha256(text.encode("utf-8", "surrogateescape")).digest()


def is_loopback(client):
    if not client:
        return False
    try:
        address = ipaddress.ip_address(str(client[0]).split("%")[0])
    except ValueError:
        return False
    mapped = getattr(address, "ipv4_mapped", None)
    return (mapped or address).is_loopback


def is_own_machine(headers, client):
    """A request from this machine itself: a loopback peer that relays no one else's request."""
    return is_loopback(client) and not any(name in headers for name in FORWARDING_HEADERS)


class Sessions:
    """Random session identifiers with their expiry; only their digests are kept."""

    def __init__(self, lifetime_s, capacity=MAX_SESSIONS, clock=time.monotonic):
        self.lifetime_s = lifetime_s
        self._capacity = capacity
        self._clock = clock
        self._lock = threading.Lock()
        self._expiry = OrderedDict()  # digest -> expiry, oldest first

    def open(self):
        session = secrets.token_urlsafe(32)
        with self._lock:
            self._expiry[_digest(session)] = self._clock() + self.lifetime_s
            while len(self._expiry) > self._capacity:
                self._expiry.popitem(last=False)
        return session

    def valid(self, session):
        if not session:
            return False
        key = _digest(session)
        with self._lock:
            expiry = self._expiry.get(key)
            if expiry is not None and self._clock() >= expiry:
                del self._expiry[key]
                expiry = None
        return expiry is not None

    def close(self, session):
        with self._lock:
            self._expiry.pop(_digest(session or ""), None)


class FunnelAccess:
    def __init__(self, token=None, tries=LOGIN_TRIES, tries_total=LOGIN_TRIES_TOTAL,
                 session_days=SESSION_DAYS, clock=time.monotonic):
        self.token_set = token is not None
        if self.token_set:
            self._token = _digest(token)
        self.sessions = Sessions(session_days * 86400, clock=clock)
        self._per_client = WindowCounter(tries, LOGIN_WINDOW_S, MAX_LOGIN_CLIENTS, clock)
        self._overall = WindowCounter(tries_total, LOGIN_WINDOW_S, 1, clock)

    def matches(self, given):
        # Digests of equal length compared in constant time: neither content nor length leaks.
        return self.token_set and hmac.compare_digest(_digest(given), self._token)

    def attempt(self, given, client):
        """Whether the token is right; a wrong one is counted. Raises Throttled while tries are spent,
        without looking at the token, so that guessing on cannot tell a right one."""
        key = client_key(client)
        wait = self._per_client.blocked(key) or self._overall.blocked("")
        if wait:
            raise Throttled(wait)
        if self.matches(given):
            return True
        self._per_client.count(key)
        self._overall.count("")
        return False

    def decide(self, headers, client, tls):
        """ALLOWED, NEEDS_TOKEN (answer 401), LOCAL_ONLY (403) or NEEDS_TLS (403) for a request's
        headers, its client and whether it came over TLS; raises Throttled."""
        if not self.token_set:
            return ALLOWED if is_own_machine(headers, client) else LOCAL_ONLY
        if self.sessions.valid(session_from(headers)):
            return ALLOWED
        scheme, _, credential = headers.get("authorization", "").partition(" ")
        if scheme.lower() != "bearer":
            return NEEDS_TOKEN
        if not (tls or is_own_machine(headers, client)):
            return NEEDS_TLS
        return ALLOWED if self.attempt(credential.strip(), client) else NEEDS_TOKEN

    def login(self, form_body, client, secure):
        """(headers of a 303 to the funnel with a new session's cookie, None), or (None, the period
        query) on a wrong token; raises Throttled."""
        try:
            fields = dict(parse_qsl(form_body.decode("utf-8", "replace"), max_num_fields=8))
        except ValueError:  # more fields than a login form has
            fields = {}
        back = period_query(fields.get("query", ""))
        if not self.attempt(fields.get("token", "").strip(), client):
            return None, back
        cookie = (f"{COOKIE_NAME}={self.sessions.open()}; Path=/; Max-Age={self.sessions.lifetime_s}; HttpOnly; "
                  "SameSite=Strict" + ("; Secure" if secure else ""))
        return [("Location", "/funnel" + (f"?{back}" if back else "")), ("Set-Cookie", cookie)], None

    def logout(self, headers, secure):
        """Ends the request's session; the headers of a 303 that also clears the cookie."""
        self.sessions.close(session_from(headers))
        cookie = f"{COOKIE_NAME}=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" + ("; Secure" if secure else "")
        return [("Location", "/funnel"), ("Set-Cookie", cookie)]


def session_from(headers):
    try:
        jar = SimpleCookie(headers.get("cookie", ""))
    except CookieError:
        return ""
    return jar[COOKIE_NAME].value if COOKIE_NAME in jar else ""


def over_tls(scope, via_proxy):
    """Whether the client reached the host through TLS: directly, or by the word of a trusted proxy
    (X-Forwarded-Proto, which the server layer has already turned into the scheme, or the standard
    Forwarded header, whose last element is the one our proxy added)."""
    if scope.get("scheme") == "https":
        return True
    if not via_proxy:
        return False
    forwarded = [v.decode("latin-1") for k, v in scope.get("headers", ()) if k == b"forwarded"]
    if not forwarded:
        return False
    for pair in ",".join(forwarded).split(",")[-1].split(";"):
        name, _, value = pair.strip().partition("=")
        if name.strip().lower() == "proto":
            return value.strip().strip('"').lower() == "https"
    return False


def period_query(text):
    """The page and period parameters of a query string, encoded anew: a login returns the publisher
    to the page asked for, and nowhere else."""
    try:
        pairs = parse_qsl(text, max_num_fields=8)
    except ValueError:
        return ""
    return urlencode([(k, v[:32]) for k, v in pairs if k in ("from", "to", "days", "page")])
