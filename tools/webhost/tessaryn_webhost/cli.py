"""Command line, start-up and clean shutdown of the web host."""

import argparse
import asyncio
import logging
import os
import signal
import socket
import ssl
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

from .app import MAX_HEAD, HostApp, KeepPeer
from .files import ListedProducts, ServedProducts
from .funnel_access import (LOGIN_TRIES, LOGIN_TRIES_TOTAL, SESSION_DAYS, TOKEN_ENV, FunnelAccess,
                            load_token)
from .limits import EventLimits, WindowCounter
from .protocol import Limits, guarded_protocol
from .rules import RulesFile

DEFAULT_MAX_BODY = 16 * 1024
MAX_BODY_CEILING = 64 * 1024
DEFAULTS = {"max_connections": 1000, "idle_timeout": 15, "request_timeout": 15, "workers": 8,
            "rate_limit": 120, "uuid_limit": 200, "retention_days": 400, "limit_entries": 100000}
RATE_WINDOW_S = 60
UUID_WINDOW_S = 86400
RETENTION_EVERY_S = 3600
# Kept back from the file handle limit for the database, the log, the rules and files being served.
SPARE_HANDLES = 64
BACKLOG = 1024

log = logging.getLogger("tessaryn_webhost")


def _positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _count(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be 0 (no limit) or more")
    return value


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="tessaryn_host.py",
        description="Web host for the Tessaryn setup: serves /installers/<product>.dat and .pak, "
        "stores usage events posted to /installers/metrics and answers them from a rules file, "
        "and shows the install funnel at /funnel.",
    )
    add = parser.add_argument
    add("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    add("--port", type=int, default=8080, help="port; 0 picks a free one (default 8080)")
    add("--files", default="installers", help="folder of the .dat and .pak files (default ./installers)")
    add("--allow-empty", action="store_true",
        help="start even when the files folder holds no .dat file yet (a warning is logged)")
    add("--db", default="events.sqlite3",
        help="SQLite database file of events (default ./events.sqlite3), or a postgresql:// URL "
        "for a PostgreSQL database that several hosts share")
    add("--answers-key", metavar="FILE",
        help="secret answers key (tessaryn-publish keygen --answers); answers to events are "
        "signed with it, and setups built with its public half act only on signed answers")
    add("--rules", help="rules file, .toml or .json; re-read when it changes (default: no rules)")
    add("--max-body", type=_positive, default=DEFAULT_MAX_BODY,
        help=f"largest event body in bytes, at most {MAX_BODY_CEILING} (default {DEFAULT_MAX_BODY})")
    add("--tls-cert", help="PEM certificate chain; with --tls-key serves HTTPS")
    add("--tls-key", help="PEM private key for --tls-cert")
    add("--max-connections", type=_positive, default=DEFAULTS["max_connections"],
        help="open connections at most; more are refused with 503 (default %(default)s)")
    add("--idle-timeout", type=_positive, default=DEFAULTS["idle_timeout"],
        help="seconds a connection may stay silent between requests (default %(default)s)")
    add("--request-timeout", type=_positive, default=DEFAULTS["request_timeout"],
        help="seconds a request may take to arrive in full, and a client to take our output "
        "(default %(default)s)")
    add("--workers", type=_positive, default=DEFAULTS["workers"],
        help="threads for database work, and PostgreSQL connections (default %(default)s)")
    add("--trusted-proxy", action="append", default=[], metavar="ADDRESS",
        help="address of a reverse proxy whose X-Forwarded-For gives the client's address; repeatable")
    add("--funnel-token", metavar="FILE",
        help=f"file holding the token that opens /funnel and /funnel.json (else taken from {TOKEN_ENV}); "
        "without a token they answer only requests from this machine")
    add("--rate-limit", type=_count, default=DEFAULTS["rate_limit"],
        help="events one client address may post per minute, then 429; 0 for no limit (default %(default)s)")
    add("--uuid-limit", type=_count, default=DEFAULTS["uuid_limit"],
        help="events stored per machine identifier a day, then 429; 0 for no limit (default %(default)s)")
    add("--limit-entries", type=_positive, default=DEFAULTS["limit_entries"],
        help="addresses and identifiers each of those limits remembers at most (default %(default)s)")
    add("--products", metavar="NAMES",
        help="comma-separated products whose events are stored, * for any (default: the products "
        "whose .dat or .pak file is in --files)")
    add("--retention-days", type=_count, default=DEFAULTS["retention_days"],
        help="events older than this many days are deleted at start and every hour; 0 keeps all "
        "(default %(default)s)")
    add("--login-tries", type=_positive, default=LOGIN_TRIES,
        help="wrong funnel tokens one client address may send per minute, then 429 (default %(default)s)")
    add("--login-tries-total", type=_positive, default=LOGIN_TRIES_TOTAL,
        help="wrong funnel tokens from all clients together per minute (default %(default)s)")
    add("--session-days", type=_positive, default=SESSION_DAYS,
        help="days a funnel sign-in lasts (default %(default)s)")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0 to 65535")
    if args.max_body > MAX_BODY_CEILING:
        parser.error(f"--max-body must be at most {MAX_BODY_CEILING}")
    if bool(args.tls_cert) != bool(args.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    if not os.path.isdir(args.files):
        parser.error(f"files folder {args.files} does not exist")
    if not args.allow_empty and not _has_settings(args.files):
        parser.error(f"files folder {args.files} holds no .dat file, so every setup would get 404; "
                     "publish one first, or give --allow-empty")
    return args


def _has_settings(folder):
    return any(name.lower().endswith(".dat") and os.path.isfile(os.path.join(folder, name))
               for name in os.listdir(folder))


def _fit_connections(wanted):
    """Raises the file handle limit for the connections wanted, or lowers the cap to what fits."""
    try:
        import resource
    except ImportError:
        return wanted
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    needed = wanted + SPARE_HANDLES
    if soft != resource.RLIM_INFINITY and soft < needed:
        target = needed if hard == resource.RLIM_INFINITY else min(hard, needed)
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (target, hard))
            soft = target
        except (ValueError, OSError):
            pass
    if soft != resource.RLIM_INFINITY and soft < needed:
        fitted = max(1, soft - SPARE_HANDLES)
        log.warning("only %d file handles: at most %d connections instead of %d", soft, fitted, wanted)
        return fitted
    return wanted


def _listen(host, port):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    # With the protocol named, asyncio turns Nagle off on each connection (small answers go out at once).
    sock = socket.socket(family, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((host, port))
        sock.listen(BACKLOG)
    except OSError as e:
        sock.close()
        raise OSError(f"cannot listen on {host}:{port}: {e.strerror or e}") from None
    return sock


def _tls_context(config, default):
    context = default()
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    return context


def build_server(args, store, workers):
    # Imported here so that --help and option errors need no third-party package.
    import uvicorn

    limits = Limits(_fit_connections(args.max_connections), args.idle_timeout, args.request_timeout)
    signer = None
    if args.answers_key:
        from .answer_signing import AnswerSigner
        signer = AnswerSigner(args.answers_key)
    # Proxy handling is layered here rather than by uvicorn, so that the application learns whether
    # the peer was a trusted proxy before the peer's address is replaced by the client's.
    from uvicorn.middleware.proxy_headers import ProxyHeadersMiddleware

    app = HostApp(store, RulesFile(args.rules, strict=True), args.files, args.max_body, workers,
                  FunnelAccess(load_token(args.funnel_token), args.login_tries, args.login_tries_total,
                               args.session_days),
                  signer, event_limits(args))
    if args.trusted_proxy:
        proxied = ProxyHeadersMiddleware(app, trusted_hosts=args.trusted_proxy)
        app = KeepPeer(proxied, proxied.trusted_hosts)
    config = uvicorn.Config(
        app,
        http=guarded_protocol(limits),
        lifespan="off",
        log_config=None,
        access_log=False,  # the application logs each request itself, with its User-Agent
        proxy_headers=False,
        server_header=False,
        headers=[("Server", "TessarynHost/2.0")],
        timeout_keep_alive=args.idle_timeout,
        # In-flight requests end within the request limit; then whatever is left is cut.
        timeout_graceful_shutdown=args.request_timeout + 5,
        h11_max_incomplete_event_size=MAX_HEAD,
        backlog=BACKLOG,
        ssl_certfile=args.tls_cert,
        ssl_keyfile=args.tls_key,
        ssl_context_factory=_tls_context if args.tls_cert else None,
    )
    config.load()
    return uvicorn.Server(config)


def event_limits(args):
    if args.products is None:
        products = ServedProducts(args.files)
    else:
        products = ListedProducts([name.strip() for name in args.products.split(",") if name.strip()])
    return EventLimits(WindowCounter(args.rate_limit, RATE_WINDOW_S, args.limit_entries),
                       WindowCounter(args.uuid_limit, UUID_WINDOW_S, args.limit_entries), products)


def _delete_old(store, days):
    if days:
        from .storage import StoreError, retention_cutoff

        try:
            deleted = store.delete_before(retention_cutoff(days))
        except StoreError as e:
            log.error("old events not deleted: %s", e)
            return
        if deleted:
            log.info("deleted %d event(s) older than %d days", deleted, days)


def _keep_deleting(store, days, stopped):
    while not stopped.wait(RETENTION_EVERY_S):
        _delete_old(store, days)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(asctime)s %(message)s")
    if not _has_settings(args.files):
        log.warning("files folder %s holds no .dat file yet: setups get 404 until one is published",
                    args.files)

    workers = ThreadPoolExecutor(max_workers=args.workers, thread_name_prefix="db")
    store = sock = None
    try:
        from .storage import open_store

        store = open_store(args.db, args.workers)
        _delete_old(store, args.retention_days)
        server = build_server(args, store, workers)
        sock = _listen(args.host, args.port)
    except Exception as e:  # any start-up failure ends with a clear line, not a trace
        print(f"tessaryn_host: cannot start: {e}", file=sys.stderr)
        if sock is not None:
            sock.close()
        if store is not None:
            store.close()
        workers.shutdown()
        return 1

    # uvicorn takes SIGINT and SIGTERM while serving (stop accepting, finish requests in
    # flight) and raises the signal again afterwards: these handlers make that a normal exit,
    # and a signal before serving starts still stops the host.
    def stop(*_):
        server.should_exit = True

    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, stop)
    host, port = sock.getsockname()[:2]
    shown = f"[{host}]" if ":" in host else host
    print(f"listening on {'https' if args.tls_cert else 'http'}://{shown}:{port}", flush=True)
    stopped = threading.Event()
    deleting = threading.Thread(target=_keep_deleting, args=(store, args.retention_days, stopped),
                                name="retention", daemon=True)
    if args.retention_days:
        deleting.start()
    asyncio.run(server.serve(sockets=[sock]))
    stopped.set()
    if deleting.is_alive():
        deleting.join()
    workers.shutdown(wait=True)
    store.close()
    log.info("stopped")
    return 0
