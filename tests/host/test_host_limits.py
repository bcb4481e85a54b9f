"""Hostile clients: malformed lengths, oversized input, slow and silent connections, too many of them."""

import json
import signal
import socket
import time

import pytest

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
