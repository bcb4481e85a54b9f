"""Stores of usage events: SQLite in a file by default, PostgreSQL for several hosts sharing one database.

Both keep the same table and answer the same two queries; the SQL differs only in
placeholders and the key column. Calls block and are made from worker threads.
"""

import sqlite3
import threading
from datetime import datetime, timezone

COLUMNS = "time, event, product, uuid, user_agent, client"

SQLITE_SCHEMA = """
CREATE TABLE IF NOT EXISTS events (
    id         INTEGER PRIMARY KEY,
    time       TEXT    NOT NULL,
    event      INTEGER NOT NULL,
    product    TEXT    NOT NULL,
    uuid       TEXT    NOT NULL,
    user_agent TEXT    NOT NULL,
    client     TEXT    NOT NULL
);
CREATE INDEX IF NOT EXISTS events_time ON events (time);
"""

# Times are compared as text, so the column must sort byte-wise whatever the database's locale.
POSTGRES_SCHEMA = """
CREATE TABLE IF NOT EXISTS events (
    id         BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    time       TEXT COLLATE "C" NOT NULL,
    event      INTEGER NOT NULL,
    product    TEXT    NOT NULL,
    uuid       TEXT    NOT NULL,
    user_agent TEXT    NOT NULL,
    client     TEXT    NOT NULL
);
CREATE INDEX IF NOT EXISTS events_time ON events (time);
"""

INSERT = f"INSERT INTO events ({COLUMNS}) VALUES (?, ?, ?, ?, ?, ?)"
# Grouped by the exact name; folding case happens in Python, the same on both databases.
COUNTS = (
    "SELECT product, event, count(*) FROM events WHERE time >= ? AND time < ?"
    " GROUP BY product, event"
)

BUSY_TIMEOUT_MS = 10000
# Any constant: several hosts starting at once create the table one after the other.
SCHEMA_LOCK_KEY = 0x7E55A4E1
POOL_WAIT_S = 10


class StoreError(Exception):
    """The database could not take or give events; the request may be tried again later."""


def utc_timestamp(moment=None):
    """Fixed-width ISO 8601 UTC text, so that text order is time order."""
    moment = moment or datetime.now(timezone.utc)
    moment = moment.astimezone(timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


def open_store(target, connections=8):
    if target.startswith(("postgresql://", "postgres://")):
        return PostgresStore(target, connections)
    return SqliteStore(target)


class SqliteStore:
    """One connection behind a lock: request threads never compete for the write lock
    among themselves; WAL and a busy timeout cover other processes using the file."""

    def __init__(self, path):
        self._lock = threading.Lock()
        self._db = sqlite3.connect(path, timeout=BUSY_TIMEOUT_MS / 1000, isolation_level=None,
                                   check_same_thread=False)
        self._db.execute(f"PRAGMA busy_timeout = {BUSY_TIMEOUT_MS}")
        mode = self._db.execute("PRAGMA journal_mode = WAL").fetchone()[0]
        if mode.lower() != "wal":
            raise RuntimeError(f"database {path} cannot use WAL journaling (mode {mode})")
        self._db.execute("PRAGMA synchronous = NORMAL")
        self._db.executescript(SQLITE_SCHEMA)

    def add(self, code, product, machine_id, user_agent, client):
        try:
            with self._lock:
                self._db.execute(INSERT, (utc_timestamp(), code, product, machine_id, user_agent, client))
        except sqlite3.Error as e:
            raise StoreError(str(e)) from None

    def counts(self, start, end):
        """Rows of (product, event code, count) with start <= time < end."""
        try:
            with self._lock:
                return self._db.execute(COUNTS, (utc_timestamp(start), utc_timestamp(end))).fetchall()
        except sqlite3.Error as e:
            raise StoreError(str(e)) from None

    def close(self):
        with self._lock:
            self._db.close()


class PostgresStore:
    """A small pool of autocommit connections; every event is one INSERT, committed on its own."""

    def __init__(self, url, connections):
        # Imported here so that a host on SQLite runs without the driver.
        import psycopg
        from psycopg_pool import ConnectionPool

        self._errors = (psycopg.Error, TimeoutError)
        options = {"autocommit": True, "connect_timeout": POOL_WAIT_S}
        try:
            # One plain connection first: a wrong address or password fails at once, with its reason.
            with psycopg.connect(url, **options) as db, db.transaction():
                db.execute("SELECT pg_advisory_xact_lock(%s)", (SCHEMA_LOCK_KEY,))
                db.execute(POSTGRES_SCHEMA)
        except psycopg.Error as e:
            # The URL may hold a password; the driver's message does not repeat it.
            raise RuntimeError(f"cannot use the PostgreSQL database: {e}") from None
        self._pool = ConnectionPool(url, min_size=1, max_size=connections, open=False, timeout=POOL_WAIT_S,
                                    kwargs=options, name="events")
        self._pool.open(wait=True, timeout=POOL_WAIT_S)

    @staticmethod
    def _sql(text):
        return text.replace("?", "%s")

    def add(self, code, product, machine_id, user_agent, client):
        try:
            with self._pool.connection() as db:
                db.execute(self._sql(INSERT), (utc_timestamp(), code, product, machine_id, user_agent, client))
        except self._errors as e:
            raise StoreError(str(e)) from None

    def counts(self, start, end):
        try:
            with self._pool.connection() as db:
                return db.execute(self._sql(COUNTS), (utc_timestamp(start), utc_timestamp(end))).fetchall()
        except self._errors as e:
            raise StoreError(str(e)) from None

    def close(self):
        self._pool.close()
