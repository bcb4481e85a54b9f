"""Signing in to the funnel: throttled wrong tokens, random sessions that expire and end, the
cookie's Secure flag by how the client reached the host, and no token over plain HTTP from outside."""

import hmac
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import ROOT
from test_host_funnel import REMOTE, TOKEN, call

sys.path.insert(0, str(ROOT / "tools" / "webhost"))
from tessaryn_webhost import funnel_access  # noqa: E402
from tessaryn_webhost.app import HostApp  # noqa: E402
from tessaryn_webhost.funnel_access import BadToken, FunnelAccess, check_token  # noqa: E402
from tessaryn_webhost.rules import RulesFile  # noqa: E402
from tessaryn_webhost.storage import SqliteStore  # noqa: E402

FORM = [("Content-Type", "application/x-www-form-urlencoded")]
WRONG = "wrong-token-0123456789abcdef"


class Clock:
    def __init__(self):
        self.now = 5000.0

    def __call__(self):
        return self.now


@pytest.fixture(scope="module")
def parts(tmp_path_factory):
    store = SqliteStore(str(tmp_path_factory.mktemp("sign-in") / "events.sqlite3"))
    workers = ThreadPoolExecutor(2)
    yield store, workers
    workers.shutdown()
    store.close()


@pytest.fixture
def clocked(parts):
    """factory(**FunnelAccess options) -> (app, clock), the app's time being the clock's."""

    def make(**options):
        clock = Clock()
        access = FunnelAccess(TOKEN, clock=clock, **options)
        return HostApp(*parts[:1], RulesFile(None), ".", 16384, parts[1], access), clock

    return make


def login(app, token, client=REMOTE, scheme="https"):
    return call(app, "POST", "/funnel/login", client, FORM, f"token={token}".encode(), scheme=scheme)


def bearer(app, token, client=REMOTE):
    return call(app, "GET", "/funnel.json", client, [("Authorization", f"Bearer {token}")])


def client(n):
    return (f"203.0.113.{n}", 40000)


# (seconds, client, how, token, status): 3 wrong tries per client, 5 over all clients, a minute each.
THROTTLE_STEPS = [
    (0, client(1), login, WRONG, 401),
    (0, client(1), bearer, WRONG, 401),  # a wrong Bearer token is a try too
    (0, client(1), login, WRONG, 401),
    (0, client(1), login, TOKEN, 429),  # tries spent: not even the right token is looked at
    (0, client(1), bearer, TOKEN, 429),
    (0, client(2), login, TOKEN, 303),  # another client is not held up, a right token costs nothing
    (59.9, client(1), login, TOKEN, 429),
    (60, client(1), login, TOKEN, 303),  # the minute has passed
    (100, client(3), login, WRONG, 401),
    (100, client(4), login, WRONG, 401),
    (100, client(5), bearer, WRONG, 401),
    (100, client(6), login, WRONG, 401),
    (100, client(7), login, WRONG, 401),
    (100, client(8), login, TOKEN, 429),  # five wrong in all: everyone waits
    (159.9, client(8), bearer, TOKEN, 429),
    (160, client(8), login, TOKEN, 303),
    # An IPv6 site is one client, whichever address of its network it uses.
    (200, ("2001:db8:5:6::1", 1), login, WRONG, 401),
    (200, ("2001:db8:5:6::2", 1), login, WRONG, 401),
    (200, ("2001:db8:5:6::3", 1), login, WRONG, 401),
    (200, ("2001:db8:5:6::4", 1), login, TOKEN, 429),
    (200, ("2001:db8:5:7::4", 1), login, TOKEN, 303),
]


def test_wrong_tokens_are_throttled_per_client_and_over_all(clocked):
    app, clock = clocked(tries=3, tries_total=5)
    start = clock.now
    for n, (offset, peer, how, token, status) in enumerate(THROTTLE_STEPS):
        clock.now = start + offset
        got, answer, _ = how(app, token, peer)
        expected = 200 if how is bearer and status == 303 else status
        assert got == expected, (n, offset, peer)
        if status == 429:
            assert 1 <= int(answer["retry-after"]) <= 60


def session_of(answer):
    cookie = answer["set-cookie"]
    return cookie, cookie.split(";")[0]


def test_each_sign_in_opens_its_own_session_until_it_expires_or_ends(clocked):
    app, clock = clocked(session_days=1)
    start = clock.now
    (first, first_pair), (second, second_pair) = (session_of(login(app, TOKEN)[1]) for _ in range(2))
    assert first_pair != second_pair
    assert TOKEN not in first and "Max-Age=86400" in first and "HttpOnly" in first
    for pair in (first_pair, second_pair):
        assert call(app, "GET", "/funnel.json", headers=[("Cookie", pair)])[0] == 200

    status, answer, _ = call(app, "POST", "/funnel/logout", headers=[("Cookie", first_pair)])
    assert status == 303 and "Max-Age=0" in answer["set-cookie"]
    assert call(app, "GET", "/funnel.json", headers=[("Cookie", first_pair)])[0] == 401
    assert call(app, "GET", "/funnel.json", headers=[("Cookie", second_pair)])[0] == 200

    clock.now = start + 86400 - 0.001
    assert call(app, "GET", "/funnel.json", headers=[("Cookie", second_pair)])[0] == 200
    clock.now = start + 86400
    assert call(app, "GET", "/funnel.json", headers=[("Cookie", second_pair)])[0] == 401


@pytest.mark.parametrize("length, accepted", [(15, False), (16, True), (512, True), (513, False)])
def test_the_token_length_bounds(length, accepted):
    text = " " + "t" * length + "\n"  # the file's line end and stray blanks are not part of it
    if accepted:
        assert check_token(text, "file") == "t" * length
    else:
        with pytest.raises(BadToken):
            check_token(text, "file")


def test_tokens_are_compared_in_constant_time(clocked, monkeypatch):
    app, _ = clocked()
    seen = []
    real = hmac.compare_digest

    def spy(a, b):
        seen.append((len(a), len(b)))
        return real(a, b)

    monkeypatch.setattr(funnel_access.hmac, "compare_digest", spy)
    assert bearer(app, TOKEN)[0] == 200 and seen == [(32, 32)]
    assert login(app, WRONG + "longer")[0] == 401 and seen[1:] == [(32, 32)]


XFF = ("X-Forwarded-For", "203.0.113.5")


PROXY = "127.0.0.1"
OTHER = "192.0.2.1"  # a proxy named, but not the peer that sends


@pytest.mark.parametrize("trusted, headers, outcome", [
    (None, [], "plain"),
    (PROXY, [("X-Forwarded-Proto", "https"), XFF], "secure"),
    (PROXY, [("Forwarded", "for=203.0.113.5;proto=https"), XFF], "secure"),
    (PROXY, [("Forwarded", 'for=198.51.100.1;proto=http, for=203.0.113.5;Proto="HTTPS"'), XFF], "secure"),
    # Only the last element is our proxy's; an earlier one is the client's own word.
    (PROXY, [("Forwarded", "for=198.51.100.1;proto=https, for=203.0.113.5;proto=http"), XFF], "refused"),
    (PROXY, [XFF], "refused"),
    (PROXY, [("X-Forwarded-Proto", "http"), XFF], "refused"),
    # A peer that is not a trusted proxy cannot say it was TLS, nor relay someone else's sign-in.
    (None, [("X-Forwarded-Proto", "https")], "plain"),
    (None, [("Forwarded", "proto=https")], "refused"),
    (OTHER, [("X-Forwarded-Proto", "https")], "plain"),
    (OTHER, [("Forwarded", "proto=https")], "refused"),
])
def test_secure_cookies_whenever_the_client_came_through_tls(start_host, tmp_path, trusted, headers, outcome):
    token_file = tmp_path / "token"
    token_file.write_text(TOKEN + "\n")
    host = start_host(extra_args=["--funnel-token", str(token_file)]
                      + (["--trusted-proxy", trusted] if trusted else []))
    status, answer, _ = host.request("POST", "/funnel/login", f"token={TOKEN}".encode(),
                                     dict([*FORM, *headers]))
    assert status == (403 if outcome == "refused" else 303)
    if status == 303:
        assert ("; Secure" in answer["Set-Cookie"]) == (outcome == "secure")


def test_the_default_throttle_and_the_sign_in_methods(clocked):
    """As shipped: ten wrong tokens a minute per client, the eleventh refused; the sign-in and
    sign-out take POST only."""
    app, _ = clocked()
    for n in range(funnel_access.LOGIN_TRIES):
        assert login(app, WRONG, client(9))[0] == 401, n
    assert login(app, WRONG, client(9))[0] == 429
    assert funnel_access.LOGIN_TRIES == 10
    for path in ("/funnel/login", "/funnel/logout"):
        status, answer, _ = call(app, "GET", path, REMOTE)
        assert (status, answer["allow"]) == (405, "POST"), path


def test_the_default_session_store_holds_a_thousand_and_then_ends_the_oldest():
    sessions = FunnelAccess(TOKEN).sessions
    opened = [sessions.open() for _ in range(1000)]
    assert all(sessions.valid(s) for s in opened)
    newest = sessions.open()
    assert [sessions.valid(s) for s in (opened[0], opened[1], opened[-1], newest)] == [False, True, True, True]
