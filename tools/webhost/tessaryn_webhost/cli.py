"""Command line, start-up and clean shutdown of the web host."""

import argparse
import asyncio
import logging
import os
import signal
import socket
import ssl
import sys
from concurrent.futures import ThreadPoolExecutor

from .app import MAX_HEAD, HostApp
from .protocol import Limits, guarded_protocol
from .rules import RulesFile

DEFAULT_MAX_BODY = 16 * 1024
MAX_BODY_CEILING = 64 * 1024
DEFAULTS = {"max_connections": 1000, "idle_timeout": 15, "request_timeout": 15, "workers": 8}
# Kept back from the file handle limit for the database, the log, the rules and files being served.
SPARE_HANDLES = 64
BACKLOG = 1024

log = logging.getLogger("tessaryn_webhost")


def _positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
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
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0 to 65535")
    if args.max_body > MAX_BODY_CEILING:
        parser.error(f"--max-body must be at most {MAX_BODY_CEILING}")
    if bool(args.tls_cert) != bool(args.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    if not os.path.isdir(args.files):
        parser.error(f"files folder {args.files} does not exist")
    return args


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
    except OSError:
        sock.close()
        raise
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
    app = HostApp(store, RulesFile(args.rules), args.files, args.max_body, workers, signer)
    config = uvicorn.Config(
        app,
        http=guarded_protocol(limits),
        lifespan="off",
        log_config=None,
        access_log=False,  # the application logs each request itself, with its User-Agent
        proxy_headers=bool(args.trusted_proxy),
        forwarded_allow_ips=args.trusted_proxy or None,
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


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(asctime)s %(message)s")

    workers = ThreadPoolExecutor(max_workers=args.workers, thread_name_prefix="db")
    store = sock = None
    try:
        from .storage import open_store

        store = open_store(args.db, args.workers)
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
    asyncio.run(server.serve(sockets=[sock]))
    workers.shutdown(wait=True)
    store.close()
    log.info("stopped")
    return 0
