"""Starts the web host as a real process on a free port in a temporary folder.

Event and funnel tests run on both databases: their modules override `backend` with both
names; PostgreSQL comes from one throw-away cluster for the whole session.
"""

import http.client
import json
import signal
import sqlite3
import subprocess
import sys
import time
from pathlib import Path

import pytest

from pg_cluster import Cluster, find_bin

ROOT = Path(__file__).resolve().parents[2]
HOST_SCRIPT = ROOT / "tools" / "webhost" / "tessaryn_host.py"
START_TIMEOUT = 15
# Tests of other things post many events of invented products from one address: their hosts
# store everything unless a test asks for the host's own limits (store_all=False).
NO_LIMITS = ("--products", "*", "--rate-limit", "0", "--uuid-limit", "0")


class Host:
    def __init__(self, folder, rules_name=None, rules_text=None, extra_args=(), db=None, store_all=True):
        self.folder = Path(folder)
        self.files = self.folder / "installers"
        self.files.mkdir(parents=True, exist_ok=True)
        self.db = db or self.folder / "events.sqlite3"
        self.rules = self.folder / rules_name if rules_name else None
        if self.rules and rules_text is not None:
            self.rules.write_text(rules_text, encoding="utf-8")
        self.log_path = self.folder / "host.log"
        self.scheme = "http"
        args = [sys.executable, str(HOST_SCRIPT), "--port", "0", "--files", str(self.files), "--db", str(self.db),
                "--allow-empty"]
        if self.rules:
            args += ["--rules", str(self.rules)]
        args += [*(NO_LIMITS if store_all else ()), *extra_args]
        self._log = open(self.log_path, "wb")
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self._log, cwd=self.folder)
        self.port = self._read_port()

    def _read_port(self):
        deadline = time.monotonic() + START_TIMEOUT
        line = b""
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if line.startswith(b"listening on "):
                url = line.decode().split()[-1]
                self.scheme = url.split(":")[0]
                return int(url.rsplit(":", 1)[1])
            if not line and self.process.poll() is not None:
                break
        log = self.log()
        self.stop()
        raise RuntimeError(f"host did not start: {line!r}\n{log}")

    def log(self):
        self._log.flush()
        return self.log_path.read_text(encoding="utf-8", errors="replace")

    def request(self, method, path, body=None, headers=None, **kwargs):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            connection.request(method, path, body=body, headers=headers or {}, **kwargs)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def post_event(self, body, user_agent="Setup/1.1 (Windows 10 Build 19045; x64; en-US)",
                   content_type="application/json"):
        raw = body if isinstance(body, bytes) else json.dumps(body).encode()
        headers = {"User-Agent": user_agent}
        if content_type is not None:
            headers["Content-Type"] = content_type
        return self.request("POST", "/installers/metrics", raw, headers)

    def sql(self, statement, rows=None):
        """Runs one statement on the host's database (for each of rows, when given); returns what it selects."""
        if str(self.db).startswith("postgresql://"):
            import psycopg

            with psycopg.connect(self.db, autocommit=True) as db, db.cursor() as cursor:
                statement = statement.replace("?", "%s")
                if rows is not None:
                    cursor.executemany(statement, rows)
                    return []
                cursor.execute(statement)
                return [tuple(r) for r in cursor.fetchall()] if cursor.description else []
        with sqlite3.connect(self.db, timeout=10) as db:
            if rows is not None:
                db.executemany(statement, rows)
                return []
            return db.execute(statement).fetchall()

    def rows(self):
        return self.sql("SELECT time, event, product, uuid, user_agent, client FROM events ORDER BY id")

    def stop(self, signum=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(signum)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self._log.close()
        return self.process.returncode


def _host_factory(folder, new_db):
    started = []

    def start(**kwargs):
        db = kwargs.pop("db", None) or new_db()
        host = Host(folder / f"host{len(started)}", db=db, **kwargs)
        started.append(host)
        return host

    return start, started


def _stop_all(started):
    for host in started:
        assert host.stop() == 0, host.log()


@pytest.fixture(scope="session")
def pg_cluster():
    if find_bin() is None:
        pytest.skip("PostgreSQL is not installed; scripts/bootstrap installs it")
    cluster = Cluster()
    yield cluster
    cluster.stop()


@pytest.fixture(scope="module")
def backend():
    return "sqlite"


@pytest.fixture(scope="module")
def new_db(backend, request):
    """Makes the --db value of a new host: None for SQLite in its folder, else a fresh PostgreSQL database."""
    if backend == "sqlite":
        return lambda: None
    return request.getfixturevalue("pg_cluster").new_database


@pytest.fixture
def start_host(tmp_path, new_db):
    """Factory: start_host(rules_name=..., rules_text=...) returns a running Host."""
    start, started = _host_factory(tmp_path, new_db)
    yield start
    _stop_all(started)


@pytest.fixture
def host(start_host):
    return start_host()


@pytest.fixture(scope="module")
def shared_host(tmp_path_factory, new_db):
    """One host for a whole test module, where tests do not disturb each other."""
    start, started = _host_factory(tmp_path_factory.mktemp("shared"), new_db)
    yield start()
    _stop_all(started)
