"""Command line, start-up and clean shutdown of the web host."""

import argparse
import logging
import os
import signal
import sys
import threading

from .rules import RulesFile
from .server import HostServer, make_tls_context
from .storage import EventStore

DEFAULT_MAX_BODY = 16 * 1024


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="tessaryn_host.py",
        description="Web host for the Tessaryn setup: serves /installers/<product>.dat and .pak, "
        "stores usage events posted to /installers/metrics and answers them from a rules file, "
        "and shows the install funnel at /funnel.",
    )
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8080, help="port; 0 picks a free one (default 8080)")
    parser.add_argument("--files", default="installers", help="folder of the .dat and .pak files (default ./installers)")
    parser.add_argument("--db", default="events.sqlite3", help="SQLite database of events (default ./events.sqlite3)")
    parser.add_argument("--rules", help="rules file, .toml or .json; re-read when it changes (default: no rules)")
    parser.add_argument("--max-body", type=int, default=DEFAULT_MAX_BODY, help=f"largest event body in bytes (default {DEFAULT_MAX_BODY})")
    parser.add_argument("--tls-cert", help="PEM certificate chain; with --tls-key serves HTTPS")
    parser.add_argument("--tls-key", help="PEM private key for --tls-cert")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0 to 65535")
    if args.max_body < 1:
        parser.error("--max-body must be at least 1")
    if bool(args.tls_cert) != bool(args.tls_key):
        parser.error("--tls-cert and --tls-key go together")
    if not os.path.isdir(args.files):
        parser.error(f"files folder {args.files} does not exist")
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(stream=sys.stderr, level=logging.INFO, format="%(asctime)s %(message)s")

    try:
        store = EventStore(args.db)
        rules = RulesFile(args.rules)
        tls = make_tls_context(args.tls_cert, args.tls_key) if args.tls_cert else None
        server = HostServer((args.host, args.port), store, rules, args.files, args.max_body, tls)
    except Exception as e:  # any start-up failure ends with a clear line, not a trace
        print(f"tessaryn_host: cannot start: {e}", file=sys.stderr)
        return 1

    stop = threading.Event()
    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, lambda *_: stop.set())

    host, port = server.server_address[:2]
    shown = f"[{host}]" if ":" in host else host
    print(f"listening on {'https' if tls else 'http'}://{shown}:{port}", flush=True)

    serving = threading.Thread(target=server.serve_forever, name="serve", daemon=True)
    serving.start()
    while not stop.wait(0.5):
        pass
    logging.getLogger("tessaryn_webhost").info("shutting down")
    server.shutdown()
    server.server_close()
    store.close()
    return 0
