"""SQLite store of usage events.

One connection serves the whole process behind a lock, so request threads never
compete for the write lock among themselves; WAL and a busy timeout cover other
processes (a second host or a report script) using the same file.
"""

import sqlite3
import threading
from datetime import datetime, timezone

SCHEMA = """
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

BUSY_TIMEOUT_MS = 10000


def utc_timestamp(moment=None):
    """Fixed-width ISO 8601 UTC text, so that text order is time order."""
    moment = moment or datetime.now(timezone.utc)
    moment = moment.astimezone(timezone.utc)
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


class EventStore:
    def __init__(self, path):
        self._lock = threading.Lock()
        self._db = sqlite3.connect(
            path,
            timeout=BUSY_TIMEOUT_MS / 1000,
            isolation_level=None,
            check_same_thread=False,
        )
        self._db.execute(f"PRAGMA busy_timeout = {BUSY_TIMEOUT_MS}")
        mode = self._db.execute("PRAGMA journal_mode = WAL").fetchone()[0]
        if mode.lower() != "wal":
            raise RuntimeError(f"database {path} cannot use WAL journaling (mode {mode})")
        self._db.execute("PRAGMA synchronous = NORMAL")
        self._db.executescript(SCHEMA)

    def add(self, code, product, machine_id, user_agent, client):
        with self._lock:
            self._db.execute(
                "INSERT INTO events (time, event, product, uuid, user_agent, client)"
                " VALUES (?, ?, ?, ?, ?, ?)",
                (utc_timestamp(), code, product, machine_id, user_agent, client),
            )

    def counts(self, start, end):
        """Rows of (lower-case product, event code, count) with start <= time < end."""
        with self._lock:
            return self._db.execute(
                "SELECT lower(product), event, count(*) FROM events"
                " WHERE time >= ? AND time < ?"
                " GROUP BY lower(product), event ORDER BY lower(product), event",
                (utc_timestamp(start), utc_timestamp(end)),
            ).fetchall()

    def close(self):
        with self._lock:
            self._db.close()
