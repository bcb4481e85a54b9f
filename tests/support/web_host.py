"""A scriptable HTTP/HTTPS server for the tests: serves files from a folder, answers with scripted
statuses, headers and bodies, and records every request it gets.

Python use:

    from web_host import WebHost, Answer, make_test_certificates
    with WebHost(root="some/folder") as host:              # 127.0.0.1, ephemeral port
        host.base_url                                      # "http://127.0.0.1:PORT"
        host.set_answer("/installers/metrics", Answer(body=b'{"ok":true}'))
        host.set_answer("/slow", Answer(body=b"{}", gate=event))  # held until event.set()
        ...                                                # run the program under test
        host.requests()                                    # [{"method", "path", "headers", "body", ...}]
        host.clear_requests()

    certs = make_test_certificates(folder)                 # throw-away CA + server cert (openssl)
    with WebHost(tls=certs) as secure_host: ...            # "https://127.0.0.1:PORT"
    other = make_test_certificates(folder, ("other.invalid",), ca=certs)   # same CA, other name

Signed answers: WebHost(answers_key=FILE) signs every answer to a POST to a path that starts
with /installers/metrics (scripted or not) as the reference host does (see
tools/webhost/tessaryn_webhost/answer_signing.py), over the request body as received. A scripted
Answer may carry its own "Tessaryn-Answer-Signature" header (a wrong one, for tests); it is kept.
Answer(sign_for=b"...") signs for that request body instead of the one received.

Command line (prints the base URL on its first output line, then serves until killed):

    python3 web_host.py --root DIR [--port N] [--tls-dir DIR] [--log FILE] [--answers-key FILE]

Answers, in order of precedence:
  * scripted answers set with set_answer(path, Answer) or, over HTTP, POST /__answers with a JSON
    object {"path", "status", "body" (text, or a list of byte values), "headers", "chunked",
    "length", "chunk_size", "chunk_delay", "cut_after", "clean_cut", "claim"};
  * built-in routes:
      /echo                       200, JSON of the request as received (method, path, headers, body)
      /status/<code>[?to=URL]     that status (a 3xx carries Location: URL when given)
      /bytes/<n>[?options]        n bytes, byte i = i % 251. Options: length=0 (no Content-Length,
                                  close-delimited), chunked=1, chunk=K (bytes per write),
                                  delay=MS (pause before each write), cut=M (reset the connection
                                  after M bytes), claim=L (announce Content-Length L instead of n)
      /chain/<mode>/<n>/end       n redirects before /echo answers; mode "absolute" (full URL),
                                  "rooted" ("/chain/..."), "relative" ("./../<n-1>/./end");
                                  ?status=301|302|307 picks the redirect status (default 302)
      /endless[?chunk=K&delay=MS] 200 with no Content-Length and a body that never ends (the
                                  /bytes pattern, K bytes per write, MS pause before each)
      /noloc                      302 without a Location header
      /__faults                   POST {"path", "size", "faults": [...]}: serves `path` as a file of
                                  `size` pattern bytes (or set_fault_file's body) with an ETag and
                                  Range support, each request taking the next fault in turn (see
                                  FaultFile); GET ?path=P: {"sent": body bytes sent, "requests": n}
      /__requests                 GET: JSON list of recorded requests; DELETE: clear the list
  * range files set with set_range_file(path, body, ranges, faults): see RangeFile;
  * files under the root folder;
  * otherwise 404.
Requests to /__... are not recorded.
"""

from __future__ import annotations

import argparse
import base64
import http.server
import json
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
from dataclasses import dataclass, field, replace
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "webhost"))
from tessaryn_webhost.answer_signing import HEADER as SIGNATURE_HEADER  # noqa: E402
from tessaryn_webhost.answer_signing import AnswerSigner  # noqa: E402


@dataclass
class Answer:
    status: int = 200
    body: bytes = b""
    headers: dict = field(default_factory=dict)
    length: bool = True          # send Content-Length (else the body ends when the connection does)
    chunked: bool = False        # Transfer-Encoding: chunked
    chunk_size: int = 0          # bytes per write; 0 = the whole body in one write
    chunk_delay: float = 0.0     # seconds to wait before each write
    cut_after: int | None = None  # reset the connection after this many body bytes
    claimed_length: int | None = None  # Content-Length to announce instead of len(body)
    endless: bool = False        # repeat the body for ever (until the client goes away)
    gate: threading.Event | None = None  # the answer waits until the test sets this event
    stall: float = 0.0           # at cut_after, go silent this long and close instead of a reset
    counter: object = None       # a FaultFile whose `sent` counts the body bytes written
    clean_cut: bool = False      # at cut_after, close the connection instead of resetting it
    sign_for: bytes | None = None  # sign for this request body instead of the one received

    @staticmethod
    def from_json(data: dict) -> "Answer":
        body = data.get("body", "")
        return Answer(
            status=int(data.get("status", 200)),
            body=body.encode("utf-8") if isinstance(body, str) else bytes(body),
            headers=dict(data.get("headers", {})),
            length=bool(data.get("length", True)),
            chunked=bool(data.get("chunked", False)),
            chunk_size=int(data.get("chunk_size", 0)),
            chunk_delay=float(data.get("chunk_delay", 0.0)),
            cut_after=data.get("cut_after"),
            clean_cut=bool(data.get("clean_cut", False)),
            claimed_length=data.get("claim"),
            sign_for=data["sign_for"].encode("utf-8") if "sign_for" in data else None,
        )


@dataclass
class FaultFile:
    """A file served with Range and If-Range (strong ETag), and a script of faults: request k
    takes faults[k] (none once the list is used up). A fault is a dict of:
      cut: N         close the connection once the file's byte N has been sent (with
                     reset: true, reset it: what the client had not read yet is lost)
      stall: S       at `cut` (or at once) stop sending for S seconds, then close
      ignore_range   answer 200 with the whole file
      change         the file changes before this answer (other bytes, another ETag)
      status: C      answer with status C (a short body), with retry_after: S as Retry-After
      wrong_range    answer 206 for a range one byte after the one asked for
      extra: N       the body goes on for N pattern bytes past the file's end, announced
      claim: L       announce a Content-Length of L, whatever is sent (then close)
      unannounced    no Content-Length: the body ends when the connection does
      endless        the body (from the range asked for) repeats for ever, unannounced
      trickle: [K, S]  K bytes per write, S seconds before each
    """
    body: bytes
    faults: list
    version: int = 1
    sent: int = 0
    served: int = 0

    @property
    def etag(self) -> str:
        return f'"v{self.version}-{len(self.body)}"'


@dataclass
class RangeFile:
    """A file served with byte ranges as `ranges` says: "multi" answers every range asked for
    (one: Content-Range; several: multipart/byteranges), "first" only the first of them, "none"
    ignores Range (200, the whole file). Request k takes faults[k] (none once used up):
      flip: OFFSET   the file's byte at OFFSET is changed in this answer
      body: BYTES    this answer's ranges are cut from BYTES instead (another file of that size)
      cut: N         close the connection after N body bytes
      pace: R        send at R bytes per second (64 KiB steps)
    `sent` counts the body bytes written, `served` the requests, `asked` their Range headers."""
    body: bytes
    ranges: str = "multi"
    faults: list = field(default_factory=list)
    sent: int = 0
    served: int = 0
    asked: list = field(default_factory=list)


def _ranges_asked(value: str, size: int):
    """The (first, last) pairs of a "bytes=" header; None when it is not one the file can give."""
    if not value.startswith("bytes="):
        return None
    spans = []
    for part in value[6:].split(","):
        first, _, last = part.strip().partition("-")
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        a, b = int(first), min(int(last) if last else size - 1, size - 1)
        if a > b:
            return None
        spans.append((a, b))
    return spans


def range_answer(handler, f: RangeFile, lock) -> Answer:
    with lock:
        fault = f.faults[f.served] if f.served < len(f.faults) else {}
        f.served += 1
        f.asked.append(handler.headers.get("Range", ""))
    body = bytearray(fault.get("body", f.body))
    if "flip" in fault:
        body[int(fault["flip"])] ^= 0x55
    body = bytes(body)
    size = len(body)
    spans = _ranges_asked(handler.headers.get("Range", ""), size)
    headers = {"Accept-Ranges": "bytes", "ETag": f'"r-{size}"'}
    step, delay = 65536, 0.0
    if fault.get("pace"):
        delay = step / float(fault["pace"])
    common = dict(chunk_size=step, chunk_delay=delay, counter=f,
                  cut_after=fault.get("cut"), clean_cut=True)
    if not spans or f.ranges == "none":
        return Answer(body=body, headers={**headers, "Content-Type": "application/octet-stream"},
                      **common)
    if f.ranges == "first":
        spans = spans[:1]
    if len(spans) == 1:
        a, b = spans[0]
        headers.update({"Content-Type": "application/octet-stream",
                        "Content-Range": f"bytes {a}-{b}/{size}"})
        return Answer(status=206, body=body[a:b + 1], headers=headers, **common)
    boundary = "RANGE_BOUNDARY_7d1f"
    out = bytearray()
    for a, b in spans:
        out += (f"\r\n--{boundary}\r\nContent-Type: application/octet-stream\r\n"
                f"Content-Range: bytes {a}-{b}/{size}\r\n\r\n").encode()
        out += body[a:b + 1]
    out += f"\r\n--{boundary}--\r\n".encode()
    headers["Content-Type"] = f"multipart/byteranges; boundary={boundary}"
    return Answer(status=206, body=bytes(out), headers=headers, **common)


@dataclass
class TlsFiles:
    ca_pem: Path
    ca_der: Path
    cert_pem: Path
    key_pem: Path


def make_test_certificates(folder, names=("127.0.0.1", "localhost"), expired=False,
                           ca: TlsFiles | None = None) -> TlsFiles:
    """Makes a server certificate for `names` (host names or IP addresses) with the openssl
    command, signed by `ca` or by a fresh throw-away CA made in `folder`. An expired one was
    valid for a day in 2020."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    stem = "server-" + ("expired" if expired else "-".join(names).replace(":", "_"))
    f = TlsFiles(folder / "ca.pem", folder / "ca.der", folder / f"{stem}.pem",
                 folder / f"{stem}.key")
    ca_key = folder / "ca.key"
    csr = folder / f"{stem}.csr"
    ext = folder / f"{stem}.ext"

    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)

    if ca is None:
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(ca_key), "-out",
            str(f.ca_pem), "-days", "2", "-subj", "/CN=Tessaryn Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        run("x509", "-in", str(f.ca_pem), "-outform", "DER", "-out", str(f.ca_der))
    else:
        f.ca_pem, f.ca_der, ca_key = ca.ca_pem, ca.ca_der, ca.ca_pem.with_suffix(".key")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", str(f.key_pem), "-out", str(csr),
        "-subj", f"/CN={names[0]}")
    # An address also as a DNS entry: Wine's name check reads only those.
    alt = ",".join((f"IP:{n},DNS:{n}" if n.replace(".", "").isdigit() else f"DNS:{n}")
                   for n in names)
    ext.write_text(f"subjectAltName={alt}\nextendedKeyUsage=serverAuth\n"
                   "basicConstraints=CA:FALSE\n")
    if not expired:
        run("x509", "-req", "-in", str(csr), "-CA", str(f.ca_pem), "-CAkey", str(ca_key),
            "-CAcreateserial", "-out", str(f.cert_pem), "-days", "2", "-extfile", str(ext))
        return f
    # "x509 -req" only dates forward; "ca" takes explicit dates.
    (folder / "ca-db").mkdir(exist_ok=True)
    (folder / "ca-db" / "index.txt").write_text("")
    (folder / "ca-db" / "serial").write_text("1000\n")
    config = folder / "ca-db" / "ca.cnf"
    config.write_text("[ca]\ndefault_ca=d\n[d]\ndatabase=ca-db/index.txt\n"
                      "new_certs_dir=ca-db\nserial=ca-db/serial\ndefault_md=sha256\n"
                      "policy=p\n[p]\ncommonName=supplied\n")
    run("ca", "-batch", "-config", str(config), "-in", str(csr), "-out", str(f.cert_pem),
        "-cert", str(f.ca_pem), "-keyfile", str(ca_key), "-startdate", "20200101000000Z",
        "-enddate", "20200102000000Z", "-extfile", str(ext), "-notext")
    return f


def _pattern(n: int) -> bytes:
    block = bytes(i % 251 for i in range(251))
    return (block * (n // 251 + 1))[:n]


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TessarynTestHost/1.0"

    def log_message(self, format, *args):  # keep test output quiet
        pass

    def do_GET(self):
        self._handle()

    def do_POST(self):
        self._handle()

    def do_PUT(self):
        self._handle()

    def do_DELETE(self):
        self._handle()

    def do_HEAD(self):
        self._handle()

    # --- plumbing -------------------------------------------------------------------------
    def _read_body(self) -> bytes:
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    return data
                data += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _handle(self):
        host: WebHost = self.server.web_host
        body = self._read_body()
        parsed = urllib.parse.urlsplit(self.path)
        record = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("utf-8", errors="replace"),
            "body_base64": base64.b64encode(body).decode("ascii"),
            "time": time.time(),
        }
        if not parsed.path.startswith("/__"):
            host._record(record)
        answer = host._answer_for(self, parsed, record, body)
        if (host.signer and self.command == "POST" and parsed.path.startswith("/installers/metrics")
                and SIGNATURE_HEADER not in answer.headers):
            signed_for = answer.sign_for if answer.sign_for is not None else body
            headers = {**answer.headers, SIGNATURE_HEADER: host.signer.sign(signed_for, answer.body)}
            answer = replace(answer, headers=headers)
        self._send(answer)

    def _send(self, answer: Answer):
        if answer.gate:
            answer.gate.wait(timeout=120)
        body = answer.body if self.command != "HEAD" else b""
        self.send_response(answer.status)
        close_after = not answer.length and not answer.chunked
        for k, v in answer.headers.items():
            self.send_header(k, v)
        if answer.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif answer.length:
            length = answer.claimed_length if answer.claimed_length is not None else len(body)
            self.send_header("Content-Length", str(length))
        if close_after or answer.claimed_length is not None:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if answer.status in (204, 304) or self.command == "HEAD":
            self.wfile.flush()
            return

        step = answer.chunk_size or max(len(body), 1)
        sent = 0
        try:
            while answer.endless:
                if answer.chunk_delay:
                    time.sleep(answer.chunk_delay)
                self._write_piece(body, answer.chunked)
                self._count(answer, len(body))
            while sent < len(body):
                if answer.chunk_delay:
                    time.sleep(answer.chunk_delay)
                piece = body[sent:sent + step]
                if answer.cut_after is not None and sent + len(piece) >= answer.cut_after and \
                        (answer.stall or sent + len(piece) > answer.cut_after):
                    piece = piece[:answer.cut_after - sent]
                    self._write_piece(piece, answer.chunked)
                    self._count(answer, len(piece))
                    if answer.stall:
                        time.sleep(answer.stall)
                        self.close_connection = True
                    elif answer.clean_cut:
                        self.wfile.flush()
                        self.connection.shutdown(socket.SHUT_WR)
                        self.close_connection = True
                    else:
                        self._reset_connection()
                    return
                self._write_piece(piece, answer.chunked)
                self._count(answer, len(piece))
                sent += len(piece)
            if answer.chunked:
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def _count(self, answer: Answer, n: int):
        if answer.counter is not None:
            with self.server.web_host._lock:
                answer.counter.sent += n

    def _write_piece(self, piece: bytes, chunked: bool):
        if not piece:
            return
        if chunked:
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
        else:
            self.wfile.write(piece)
        self.wfile.flush()

    def _reset_connection(self):
        # SO_LINGER 0: the client sees a reset, not a clean end of the body.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class WebHost:
    """The test web host. Starts on 127.0.0.1 with an ephemeral port unless a port is given."""

    def __init__(self, root=None, port: int = 0, tls: TlsFiles | None = None, log_file=None,
                 answers_key=None):
        self.root = Path(root).resolve() if root else None
        self.signer = AnswerSigner(answers_key) if answers_key else None
        self._port = port
        self._tls = tls
        self._log_file = Path(log_file) if log_file else None
        self._answers: dict[str, Answer] = {}
        self._fault_files: dict[str, FaultFile] = {}
        self._range_files: dict[str, RangeFile] = {}
        self._requests: list[dict] = []
        self._lock = threading.Lock()
        self._server: _Server | None = None
        self._thread: threading.Thread | None = None

    # --- life cycle -----------------------------------------------------------------------
    def start(self) -> "WebHost":
        self._server = _Server(("127.0.0.1", self._port), _Handler)
        self._server.web_host = self
        if self._tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(str(self._tls.cert_pem), str(self._tls.key_pem))
            self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    def __enter__(self) -> "WebHost":
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def base_url(self) -> str:
        return f"{'https' if self._tls else 'http'}://127.0.0.1:{self.port}"

    # --- scripting and records ------------------------------------------------------------
    def set_answer(self, path: str, answer: Answer):
        """Answers every request for `path` (without query) with `answer`."""
        with self._lock:
            self._answers[path] = answer

    def set_fault_file(self, path: str, body: bytes, faults: list):
        """Serves `body` at `path` with Range support and the scripted `faults` (FaultFile)."""
        with self._lock:
            self._fault_files[path] = FaultFile(body=bytes(body), faults=list(faults))

    def set_range_file(self, path: str, body: bytes, ranges="multi", faults=()) -> RangeFile:
        """Serves `body` at `path` with byte ranges as `ranges` says (RangeFile); returns it, for
        its counts."""
        with self._lock:
            f = self._range_files[path] = RangeFile(bytes(body), ranges, list(faults))
            return f

    def fault_figures(self, path: str) -> dict:
        with self._lock:
            f = self._fault_files[path]
            return {"sent": f.sent, "requests": f.served}

    def _fault_answer(self, handler: "_Handler", f: FaultFile) -> Answer:
        with self._lock:
            fault = f.faults[f.served] if f.served < len(f.faults) else {}
            f.served += 1
            if fault.get("change"):
                f.version += 1
                f.body = f.body.translate(bytes((i + 1) % 256 for i in range(256)))
            body, etag = f.body, f.etag
        if "status" in fault:
            headers = {}
            if "retry_after" in fault:
                headers["Retry-After"] = str(fault["retry_after"])
            return Answer(status=int(fault["status"]), body=b"fault", headers=headers)
        start = 0
        wanted = handler.headers.get("Range", "")
        if_range = handler.headers.get("If-Range")
        if wanted.startswith("bytes=") and wanted.endswith("-") and not fault.get("ignore_range") \
                and (if_range is None or if_range == etag):
            start = int(wanted[6:-1])
            if start >= len(body):
                return Answer(status=416, headers={"Content-Range": f"bytes */{len(body)}"})
        if fault.get("wrong_range") and start > 0:
            start += 1
        headers = {"ETag": etag, "Accept-Ranges": "bytes",
                   "Content-Type": "application/octet-stream"}
        status = 200
        if start > 0:
            status = 206
            headers["Content-Range"] = f"bytes {start}-{len(body) - 1}/{len(body)}"
        cut = fault.get("cut", start if "stall" in fault else None)
        chunk, delay = fault.get("trickle", (65536, 0))
        endless = bool(fault.get("endless"))
        return Answer(status=status, body=body[start:] + _pattern(int(fault.get("extra", 0))),
                      headers=headers, chunk_size=int(chunk), chunk_delay=float(delay),
                      length=not (endless or fault.get("unannounced")),
                      claimed_length=fault.get("claim"), endless=endless,
                      cut_after=None if cut is None else max(0, int(cut) - start),
                      stall=float(fault.get("stall", 0)), counter=f,
                      clean_cut=not fault.get("reset"))

    def clear_answers(self):
        with self._lock:
            self._answers.clear()

    def requests(self) -> list[dict]:
        with self._lock:
            return list(self._requests)

    def clear_requests(self):
        with self._lock:
            self._requests.clear()
            self._write_log()

    def _record(self, record: dict):
        with self._lock:
            self._requests.append(record)
            self._write_log()

    def _write_log(self):
        if self._log_file:
            tmp = self._log_file.with_suffix(".tmp")
            tmp.write_text(json.dumps(self._requests, indent=1))
            os.replace(tmp, self._log_file)

    # --- routing --------------------------------------------------------------------------
    def _answer_for(self, handler: _Handler, parsed, record: dict, body: bytes) -> Answer:
        path = parsed.path
        query = dict(urllib.parse.parse_qsl(parsed.query))
        with self._lock:
            scripted = self._answers.get(path)
            fault_file = self._fault_files.get(path)
        if fault_file and handler.command in ("GET", "HEAD"):
            return self._fault_answer(handler, fault_file)
        with self._lock:
            range_file = self._range_files.get(path)
        if range_file and handler.command == "GET":
            return range_answer(handler, range_file, self._lock)
        if scripted:
            return scripted
        if path == "/__faults":
            if handler.command == "POST":
                data = json.loads(body or b"{}")
                self.set_fault_file(data["path"], _pattern(int(data["size"])),
                                    data.get("faults", []))
                return Answer(body=b"ok")
            with self._lock:
                f = self._fault_files.get(query.get("path", ""))
                figures = {"sent": f.sent, "requests": f.served} if f else {}
            return Answer(body=json.dumps(figures).encode(),
                          headers={"Content-Type": "application/json"})
        if path == "/__requests":
            if handler.command == "DELETE":
                self.clear_requests()
                return Answer(status=200, body=b"[]")
            return Answer(body=json.dumps(self.requests()).encode(),
                          headers={"Content-Type": "application/json"})
        if path == "/__answers" and handler.command == "POST":
            data = json.loads(body or b"{}")
            self.set_answer(data["path"], Answer.from_json(data))
            return Answer(status=200, body=b"ok")
        if path == "/echo":
            echo = {k: record[k] for k in ("method", "path", "headers", "body")}
            return Answer(body=json.dumps(echo).encode(), headers={"Content-Type": "application/json"})
        if path.startswith("/status/"):
            code = int(path.split("/")[2])
            headers = {"Location": query["to"]} if "to" in query else {}
            return Answer(status=code, body=f"status {code}".encode(), headers=headers)
        if path.startswith("/bytes/"):
            n = int(path.split("/")[2])
            return Answer(
                body=_pattern(n),
                length=query.get("length", "1") != "0",
                chunked=query.get("chunked") == "1",
                chunk_size=int(query.get("chunk", 0)),
                chunk_delay=int(query.get("delay", 0)) / 1000.0,
                cut_after=int(query["cut"]) if "cut" in query else None,
                claimed_length=int(query["claim"]) if "claim" in query else None,
            )
        if path.startswith("/chain/"):
            parts = path.split("/")  # ["", "chain", mode, n, "end"]
            mode, n = parts[2], int(parts[3])
            if n <= 0:
                echo = {k: record[k] for k in ("method", "path", "headers", "body")}
                return Answer(body=json.dumps(echo).encode())
            status = int(query.get("status", 302))
            suffix = f"?{parsed.query}" if parsed.query else ""
            if mode == "absolute":
                location = f"{self.base_url}/chain/{mode}/{n - 1}/end{suffix}"
            elif mode == "rooted":
                location = f"/chain/{mode}/{n - 1}/end{suffix}"
            else:
                location = f"./../{n - 1}/./end{suffix}"
            return Answer(status=status, headers={"Location": location})
        if path == "/endless":
            return Answer(body=_pattern(int(query.get("chunk", 65536))), length=False,
                          chunk_delay=int(query.get("delay", 0)) / 1000.0, endless=True)
        if path == "/noloc":
            return Answer(status=302, body=b"moved somewhere")
        if self.root:
            target = (self.root / urllib.parse.unquote(path).lstrip("/")).resolve()
            if target.is_file() and self.root in target.parents:
                return Answer(body=target.read_bytes(),
                              headers={"Content-Type": "application/octet-stream"})
        return Answer(status=404, body=b"not found")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Test web host")
    parser.add_argument("--root", help="folder whose files are served")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls-dir", help="make a throw-away CA and serve HTTPS; files go here")
    parser.add_argument("--log", help="JSON file rewritten with the recorded requests")
    parser.add_argument("--answers-key", help="secret answers key: answers to events are signed")
    args = parser.parse_args(argv)
    tls = make_test_certificates(args.tls_dir) if args.tls_dir else None
    host = WebHost(root=args.root, port=args.port, tls=tls, log_file=args.log,
                   answers_key=args.answers_key).start()
    print(host.base_url, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        host.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
