"""Hostile clients: malformed lengths, oversized input, slow and silent connections, too many of them,
too many events, events of products the host does not serve, and how long events are kept."""

import json
import signal
import socket
import sqlite3
import sys
import time
from datetime import datetime, timedelta, timezone
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "webhost"))

from tessaryn_webhost.limits import WindowCounter  # noqa: E402
from tessaryn_webhost.storage import SqliteStore, retention_cutoff, utc_timestamp  # noqa: E402

EVENT = json.dumps({"event": 9, "prod": "Tessaryn", "uuid": "anon-limits"}).encode()
LENGTH = b"Content-Length: %d" % len(EVENT)


def raw_exchange(host, data):
    """Sends raw bytes; returns the answer, which must end with the host closing the connection."""
    with socket.create_connection(("127.0.0.1", host.port), timeout=10) as s:
        s.sendall(data)
        answer = b""
        while chunk := s.recv(65536):
            answer += chunk
        return answer


def head(length_line):
    return (b"POST /installers/metrics HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
            + length_line + b"\r\n\r\n")


@pytest.mark.parametrize(
    "request_bytes, status",
    [
        (head("Content-Length: ²".encode()) + EVENT, b"400"),
        (head(b"Content-Length: \xb2") + EVENT, b"400"),
        (head(b"Content-Length: abc") + EVENT, b"400"),
        (head(b"Content-Length: -1") + EVENT, b"400"),
        (head(b"Content-Length: +%d" % len(EVENT)) + EVENT, b"400"),
        (head(b"Content-Length: 0x39") + EVENT, b"400"),
        (head(LENGTH + b"\r\n" + LENGTH + b"0") + EVENT, b"400"),
        (head(b"Content-Length: 99999999999999999999") + EVENT, b"413"),
        (head(b"Content-Length: 99999999999999999999999999") + EVENT, b"400"),
        (head(b"Content-Length: 65537") + b"x" * 65537, b"413"),
        (head(b"Transfer-Encoding: gzip") + EVENT, b"400"),
        (head(b"User-Agent: " + b"u" * 60_000 + b"\r\n" + LENGTH) + EVENT, b"431"),
    ],
)
def test_malformed_lengths_and_oversized_input_get_a_4xx_and_store_nothing(shared_host, request_bytes, status):
    answer = raw_exchange(shared_host, request_bytes)
    assert answer.startswith(b"HTTP/1.1 " + status + b" "), answer[:200]
    assert shared_host.rows() == []
    assert b"Traceback" not in answer and "Traceback" not in shared_host.log()


def test_the_body_ceiling_and_the_user_agent_cut(start_host):
    host = start_host(extra_args=["--max-body", "65536"])
    padded = EVENT[:-1] + b', "pad": "' + b"p" * (65536 - len(EVENT) - 11) + b'"}'
    assert len(padded) == 65536
    assert host.post_event(padded)[0] == 200
    assert host.post_event(padded[:-2] + b'p"}')[0] == 413
    agent = "Setup/1.1 (" + "A" * 8000 + ")"
    assert host.post_event(EVENT, user_agent=agent)[0] == 200
    assert [r[4] for r in host.rows()] == ["Setup/1.1 (Windows 10 Build 19045; x64; en-US)", agent[:512]]


def test_silent_and_slow_clients_time_out(start_host):
    host = start_host(extra_args=["--idle-timeout", "1", "--request-timeout", "2"])
    (host.files / "tessaryn.pak").write_bytes(b"\x5a" * (32 << 20))

    def closed_after(data, pause):
        """Sends data a byte at a time, `pause` seconds apart; returns (seconds until closed, answer)."""
        with socket.create_connection(("127.0.0.1", host.port), timeout=10) as s:
            s.settimeout(pause or 10)
            started = time.monotonic()
            answer = b""
            for byte in data:
                s.sendall(bytes([byte]))
                try:
                    answer += s.recv(1000)
                    break
                except TimeoutError:
                    pass
            s.settimeout(10)
            while chunk := s.recv(1000):
                answer += chunk
            return time.monotonic() - started, answer

    silent, answer = closed_after(b"", 0)
    assert 0.8 < silent < 5 and answer == b""
    # A byte every 0.4 s keeps within the idle limit but not within the request limit.
    trickled, answer = closed_after(head(LENGTH) + EVENT, 0.4)
    assert 1.8 < trickled < 5 and answer.startswith(b"HTTP/1.1 408 ")
    assert host.rows() == []

    # A client that stops reading a download is dropped, and its file is not read on.
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.settimeout(10)
        s.connect(("127.0.0.1", host.port))
        s.sendall(b"GET /installers/tessaryn.pak HTTP/1.1\r\nHost: x\r\n\r\n")
        time.sleep(4)
        got = 0
        try:
            while chunk := s.recv(1 << 20):
                got += len(chunk)
        except ConnectionResetError:
            pass
        assert got < 8 << 20
    assert host.request("GET", "/funnel.json")[0] == 200
    assert "took no output" in host.log()


def test_connections_over_the_cap_are_refused_at_once(start_host):
    host = start_host(extra_args=["--max-connections", "20"])
    held = [socket.create_connection(("127.0.0.1", host.port), timeout=10) for _ in range(20)]
    try:
        time.sleep(0.3)
        assert raw_exchange(host, head(LENGTH) + EVENT).startswith(b"HTTP/1.1 503 ")
        for s in held[:5]:
            s.close()
        time.sleep(0.3)
        assert host.post_event(EVENT)[0] == 200
    finally:
        for s in held:
            s.close()
    assert len(host.rows()) == 1
    assert "connection limit of 20 reached" in host.log()


def test_a_trusted_proxy_names_the_client_and_others_cannot(start_host):
    plain, proxied = start_host(), start_host(extra_args=["--trusted-proxy", "127.0.0.1"])
    for host in (plain, proxied):
        status, _, _ = host.request("POST", "/installers/metrics", EVENT,
                                    {"Content-Type": "application/json", "X-Forwarded-For": "203.0.113.7"})
        assert status == 200
    assert plain.rows()[0][5] == "127.0.0.1"
    assert proxied.rows()[0][5] == "203.0.113.7"


def test_a_request_in_flight_at_shutdown_is_finished_and_stored(host):
    with socket.create_connection(("127.0.0.1", host.port), timeout=10) as s:
        s.sendall(head(LENGTH) + EVENT[:20])
        time.sleep(0.3)
        host.process.send_signal(signal.SIGTERM)
        time.sleep(0.5)
        s.sendall(EVENT[20:])
        assert s.recv(1000).startswith(b"HTTP/1.1 200 ")
    assert host.stop() == 0
    assert len(host.rows()) == 1


class Clock:
    def __init__(self):
        self.now = 1000.0

    def __call__(self):
        return self.now


# (seconds since the key's first take, whether this take is allowed, Retry-After when refused)
WINDOW_STEPS = [
    (0, True, None), (10, True, None), (20, True, None),  # the limit, exactly
    (20, False, 40), (59.5, False, 1),  # one more, up to the window's last moment
    (60, True, None), (60, True, None), (60, True, None), (61, False, 59),  # a fresh window
]


def test_a_window_allows_its_limit_then_refuses_until_it_ends():
    clock = Clock()
    counter = WindowCounter(3, 60, 100, clock)
    start = clock.now
    for offset, allowed, retry in WINDOW_STEPS:
        clock.now = start + offset
        assert counter.take("203.0.113.7") == retry, offset
        assert (retry is None) is allowed
    # Another key has its own window.
    assert counter.take("203.0.113.8") is None


def test_a_counter_remembers_at_most_its_capacity():
    clock = Clock()
    counter = WindowCounter(1, 60, 2, clock)
    for key in ("a", "b", "a", "c"):  # "b" is the least recently seen when "c" comes
        counter.take(key)
    assert len(counter) == 2
    assert counter.take("a") == 60 and counter.take("c") == 60
    assert counter.take("b") is None  # forgotten: starts afresh
    for n in range(10000):
        counter.take(f"198.51.100.{n}")
    assert len(counter) == 2


def post_from(host, client, uuid="anon-limits", prod="Tessaryn"):
    body = json.dumps({"event": 9, "prod": prod, "uuid": uuid}).encode()
    return host.request("POST", "/installers/metrics", body,
                        {"Content-Type": "application/json", "X-Forwarded-For": client})


def test_events_per_client_are_limited_by_the_address_the_proxy_names(start_host):
    host = start_host(store_all=False, extra_args=["--trusted-proxy", "127.0.0.1", "--rate-limit", "3",
                                                  "--products", "*"])
    for n in range(3):
        assert post_from(host, "203.0.113.7", uuid=f"anon-{n}")[0] == 200
    status, headers, body = post_from(host, "203.0.113.7", uuid="anon-new")
    assert status == 429 and 1 <= int(headers["Retry-After"]) <= 60
    assert json.loads(body) == {"error": "too many events from this address"}
    assert post_from(host, "203.0.113.8")[0] == 200
    # An IPv6 site counts as one client, whichever address of its network it uses.
    for n in range(3):
        assert post_from(host, f"2001:db8:1:2::{n + 1}")[0] == 200
    assert post_from(host, "2001:db8:1:2::ff")[0] == 429
    assert post_from(host, "2001:db8:1:3::1")[0] == 200
    assert [row[5] for row in host.rows()].count("203.0.113.7") == 3


def test_events_per_machine_are_capped_whatever_the_address(start_host):
    host = start_host(store_all=False, extra_args=["--trusted-proxy", "127.0.0.1", "--uuid-limit", "2",
                                                  "--products", "*"])
    assert post_from(host, "203.0.113.1", uuid="anon-A")[0] == 200
    assert post_from(host, "203.0.113.2", uuid="anon-A")[0] == 200
    status, headers, _ = post_from(host, "203.0.113.3", uuid="anon-A")
    assert status == 429 and 86000 < int(headers["Retry-After"]) <= 86400
    assert post_from(host, "203.0.113.3", uuid="anon-B")[0] == 200
    assert [row[3] for row in host.rows()] == ["anon-A", "anon-A", "anon-B"]


@pytest.mark.parametrize("products, files, posted, status", [
    (None, ["tessaryn.dat"], "Tessaryn", 200),
    (None, ["tessaryn.pak"], "TESSARYN", 200),
    (None, ["tessaryn.dat"], "Other", 404),
    (None, [], "Tessaryn", 404),
    (None, ["tessaryn.txt", "tessaryn"], "Tessaryn", 404),
    ("Other, third", ["tessaryn.dat"], "Tessaryn", 404),
    ("Other, third", [], "THIRD", 200),
    ("*", [], "anything", 200),
])
def test_only_events_of_served_products_are_stored(start_host, products, files, posted, status):
    host = start_host(store_all=False, extra_args=["--trusted-proxy", "127.0.0.1"]
                      + (["--products", products] if products else []))
    for name in files:
        (host.files / name).write_bytes(b"x")
    got, _, body = post_from(host, "203.0.113.9", prod=posted)
    assert got == status, body
    assert len(host.rows()) == (1 if status == 200 else 0)


def test_a_product_published_while_the_host_runs_is_taken(start_host):
    host = start_host(store_all=False, extra_args=["--trusted-proxy", "127.0.0.1"])
    assert post_from(host, "203.0.113.9")[0] == 404
    time.sleep(0.01)  # a new modification time for the folder
    (host.files / "tessaryn.dat").write_bytes(b"x")
    assert post_from(host, "203.0.113.9")[0] == 200


def test_retention_keeps_events_from_the_cut_off_on(tmp_path):
    now = datetime(2024, 6, 30, 12, 0, tzinfo=timezone.utc)
    cutoff = retention_cutoff(30, now)
    assert cutoff == "2024-05-31T12:00:00.000Z"
    store = SqliteStore(str(tmp_path / "events.sqlite3"))
    try:
        times = [cutoff, utc_timestamp(now - timedelta(days=30, milliseconds=1)),
                 utc_timestamp(now - timedelta(days=400)), utc_timestamp(now)]
        with sqlite3.connect(tmp_path / "events.sqlite3") as db:
            db.executemany("INSERT INTO events (time, event, product, uuid, user_agent, client)"
                           " VALUES (?, 9, 'p', 'u', '', '')", [(t,) for t in times])
        assert store.delete_before(cutoff) == 2
    finally:
        store.close()
    with sqlite3.connect(tmp_path / "events.sqlite3") as db:
        assert [r[0] for r in db.execute("SELECT time FROM events ORDER BY id")] == [times[0], times[3]]
