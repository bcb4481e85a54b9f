"""Who may see the funnel: whoever holds the publisher's token or, when none is set, the machine itself.

The token comes as `Authorization: Bearer TOKEN` (scripts) or as a cookie that the login form
sets (browsers). The cookie holds a value derived from the token, not the token itself.
"""

import hashlib
import hmac
import ipaddress
import os
from http.cookies import CookieError, SimpleCookie
from urllib.parse import parse_qsl, urlencode

TOKEN_ENV = "TESSARYN_FUNNEL_TOKEN"
MIN_TOKEN_LENGTH = 16
MAX_TOKEN_LENGTH = 512
COOKIE_NAME = "tessaryn_funnel"
COOKIE_DAYS = 30
# A login form holds the token and the period being looked at; nothing bigger is read.
MAX_LOGIN_BODY = 4096
# Set by a proxy relaying someone else's request: such a request is not the machine's own.
FORWARDING_HEADERS = ("x-forwarded-for", "forwarded", "x-real-ip")

ALLOWED, NEEDS_TOKEN, LOCAL_ONLY = "allowed", "needs token", "local only"


class BadToken(ValueError):
    pass


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


class FunnelAccess:
    def __init__(self, token=None):
        self.token_set = token is not None
        if self.token_set:
            self._token = _digest(token)
            self._cookie = hmac.new(token.encode(), b"tessaryn funnel cookie", hashlib.sha256).hexdigest()

    def matches(self, given):
        # Digests of equal length compared in constant time: neither content nor length leaks.
        return self.token_set and hmac.compare_digest(_digest(given), self._token)

    def decide(self, headers, client):
        """ALLOWED, NEEDS_TOKEN (answer 401) or LOCAL_ONLY (403) for a request's headers and peer."""
        if not self.token_set:
            local = is_loopback(client) and not any(name in headers for name in FORWARDING_HEADERS)
            return ALLOWED if local else LOCAL_ONLY
        scheme, _, credential = headers.get("authorization", "").partition(" ")
        if scheme.lower() == "bearer" and self.matches(credential.strip()):
            return ALLOWED
        if hmac.compare_digest(_digest(self._cookie_from(headers.get("cookie", ""))), _digest(self._cookie)):
            return ALLOWED
        return NEEDS_TOKEN

    @staticmethod
    def _cookie_from(header):
        try:
            jar = SimpleCookie(header)
        except CookieError:
            return ""
        return jar[COOKIE_NAME].value if COOKIE_NAME in jar else ""

    def login(self, form_body, secure):
        """(headers of a 303 to the funnel with the cookie set, None), or (None, the period query) on a wrong token."""
        try:
            fields = dict(parse_qsl(form_body.decode("utf-8", "replace"), max_num_fields=8))
        except ValueError:  # more fields than a login form has
            fields = {}
        back = period_query(fields.get("query", ""))
        if not self.matches(fields.get("token", "").strip()):
            return None, back
        cookie = (f"{COOKIE_NAME}={self._cookie}; Path=/; Max-Age={COOKIE_DAYS * 86400}; HttpOnly; SameSite=Strict"
                  + ("; Secure" if secure else ""))
        return [("Location", "/funnel" + (f"?{back}" if back else "")), ("Set-Cookie", cookie)], None


def period_query(text):
    """The page and period parameters of a query string, encoded anew: a login returns the publisher
    to the page asked for, and nowhere else."""
    try:
        pairs = parse_qsl(text, max_num_fields=8)
    except ValueError:
        return ""
    return urlencode([(k, v[:32]) for k, v in pairs if k in ("from", "to", "days", "page")])
