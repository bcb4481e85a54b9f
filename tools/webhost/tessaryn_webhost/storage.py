"""Stores of usage events: SQLite in a file by default, PostgreSQL for several hosts sharing one database.

Both keep the same table and answer the same queries; the SQL differs only in placeholders,
the key column, case folding and time arithmetic. Calls block and are made from worker threads.
"""

import sqlite3
import threading
from datetime import datetime, timedelta, timezone

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
CREATE INDEX IF NOT EXISTS events_machine ON events (uuid, event, time);
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
CREATE INDEX IF NOT EXISTS events_machine ON events (uuid, event, time);
"""

INSERT = f"INSERT INTO events ({COLUMNS}) VALUES (?, ?, ?, ?, ?, ?)"
DELETE_OLD = "DELETE FROM events WHERE time < ?"
# The funnel folds product names to lower case in SQL, ASCII letters only, so that both
# databases group, order and page alike whatever their locale.
SQLITE_FOLD = "lower({})"
POSTGRES_FOLD = "translate({}, 'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 'abcdefghijklmnopqrstuvwxyz') COLLATE \"C\""
# The stored time of an event less the upgrade window, as stored text (same width, so text order holds).
SQLITE_WINDOW_START = "strftime('%Y-%m-%dT%H:%M:%fZ', {}, '-' || ? || ' seconds')"
POSTGRES_WINDOW_START = (
    "to_char(({}::timestamptz AT TIME ZONE 'UTC') - make_interval(secs => ?), 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"
)
PERIOD = "time >= ? AND time < ?"
PRODUCT_COUNT = "SELECT count(DISTINCT {fold}) FROM events WHERE " + PERIOD
# Products by volume, most events first; ties by name so that pages do not overlap.
PRODUCT_PAGE = (
    "SELECT {fold} AS name, count(*) AS total FROM events WHERE " + PERIOD
    + " GROUP BY {fold} ORDER BY total DESC, name LIMIT ? OFFSET ?"
)
# An uninstall (event 8) whose machine reported removing a previous version (event 7) shortly
# before is the old uninstaller run by an upgrade. The (uuid, event, time) index answers it.
PAGE_COUNTS = (
    "SELECT {fold} AS name, e.event, count(*),"
    " sum(CASE WHEN e.event = 8 AND EXISTS (SELECT 1 FROM events p WHERE p.uuid = e.uuid AND p.event = 7"
    " AND p.time <= e.time AND p.time >= {window}) THEN 1 ELSE 0 END)"
    " FROM events e WHERE e.time >= ? AND e.time < ? AND {fold} IN ({names})"
    " GROUP BY {fold}, e.event"
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


def retention_cutoff(days, now=None):
    """The stored time before which events are deleted when they are kept `days` days."""
    return utc_timestamp((now or datetime.now(timezone.utc)) - timedelta(days=days))


def open_store(target, connections=8):
    if target.startswith(("postgresql://", "postgres://")):
        return PostgresStore(target, connections)
    # An address meant for PostgreSQL but misspelt would otherwise become a SQLite file name.
    if "://" in target or target.startswith(("postgres:", "postgresql:")) or "dbname=" in target:
        scheme = target.split(":", 1)[0]
        raise StoreError(f"--db {scheme}:... is no SQLite file and no PostgreSQL address; for "
                         "PostgreSQL write postgresql://USER@HOST/DATABASE")
    try:
        return SqliteStore(target)
    except sqlite3.Error as e:
        raise StoreError(f"database {target}: {e}") from None


def _funnel_queries(execute, fold, window_start, start, end, limit, offset, window_s):
    """(number of products, [(name, total)] of one page, [(name, code, count, upgrades)] for that page).

    Products are named folded to lower case; the work and the rows returned are bounded
    by the page, however many products the period holds.
    """
    period = (utc_timestamp(start), utc_timestamp(end))
    product_fold = fold.format("product")
    product_count = execute(PRODUCT_COUNT.format(fold=product_fold), period).fetchone()[0]
    page = execute(PRODUCT_PAGE.format(fold=product_fold), (*period, limit, offset)).fetchall()
    if not page:
        return product_count, [], []
    names = [name for name, _ in page]
    counts = PAGE_COUNTS.format(fold=fold.format("e.product"), window=window_start.format("e.time"),
                                names=", ".join(["?"] * len(names)))
    rows = execute(counts, (window_s, *period, *names)).fetchall()
    return product_count, [tuple(r) for r in page], [tuple(r) for r in rows]


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

    def delete_before(self, cutoff):
        """Deletes the events stored before the time text cutoff; returns how many."""
        try:
            with self._lock:
                return self._db.execute(DELETE_OLD, (cutoff,)).rowcount
        except sqlite3.Error as e:
            raise StoreError(str(e)) from None

    def funnel_page(self, start, end, limit, offset, window_s):
        """See _funnel_queries; under the lock, the three queries see the same rows."""
        try:
            with self._lock:
                return _funnel_queries(self._db.execute, SQLITE_FOLD, SQLITE_WINDOW_START,
                                       start, end, limit, offset, window_s)
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

    def delete_before(self, cutoff):
        try:
            with self._pool.connection() as db:
                return db.execute(self._sql(DELETE_OLD), (cutoff,)).rowcount
        except self._errors as e:
            raise StoreError(str(e)) from None

    def funnel_page(self, start, end, limit, offset, window_s):
        try:
            with self._pool.connection() as db, db.transaction():
                # One snapshot for the three queries, as SQLite's lock gives.
                db.execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY")
                return _funnel_queries(lambda sql, args: db.execute(self._sql(sql), args), POSTGRES_FOLD,
                                       POSTGRES_WINDOW_START, start, end, limit, offset, window_s)
        except self._errors as e:
            raise StoreError(str(e)) from None

    def close(self):
        self._pool.close()
