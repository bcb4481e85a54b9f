"""Signing the host's answers to usage events, so that the setup acts only on answers of this host.

The signature is libhydrogen's (hydro_sign_create, context "TSANSWER") with the answers key,
over: the request body's length as 8 bytes little-endian, the request body as received, the
answer body as sent. It goes in the header "Tessaryn-Answer-Signature" as 128 lower-case hex
digits. libhydrogen is the shared library that the native build makes from the same pinned
sources as the setup (build/native/libtessaryn_hydrogen.so), loaded with ctypes.
"""

import ctypes
import logging
import os
import struct
from pathlib import Path

CONTEXT = b"TSANSWER"
HEADER = "Tessaryn-Answer-Signature"
# The first line of each kind of secret key file tessaryn-publish keygen writes.
RELEASE_HEADING = "tessaryn release secret key"
ANSWERS_HEADING = "tessaryn answers secret key"
log = logging.getLogger("tessaryn_webhost")
_DEFAULT_LIBRARY = Path(__file__).resolve().parents[3] / "build" / "native" / "libtessaryn_hydrogen.so"


def signed_message(request: bytes, answer: bytes) -> bytes:
    return struct.pack("<Q", len(request)) + request + answer


def _load(path):
    library = ctypes.CDLL(str(path))
    library.hydro_init.restype = ctypes.c_int
    library.hydro_sign_create.restype = ctypes.c_int
    library.hydro_sign_create.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t,
                                          ctypes.c_char_p, ctypes.c_char_p]
    if library.hydro_init() != 0:
        raise RuntimeError("libhydrogen did not start")
    return library


class AnswerSigner:
    """Holds the answers secret key (a file of 128 hex digits, as tessaryn-publish keygen writes)."""

    def __init__(self, key_file, library=None):
        lines = Path(key_file).read_text("ascii").strip().splitlines() or [""]
        # keygen names the kind on the first line; the release key must never be online.
        if lines[0] == RELEASE_HEADING:
            raise ValueError(f"{key_file}: this is the release key; the web host needs the answers "
                             "key made with `keygen --answers`")
        if lines[0] == ANSWERS_HEADING:
            lines = lines[1:]
        else:
            log.warning("%s does not say whether it is a release or an answers key; make sure it "
                        "is the answers key", key_file)
        key = bytes.fromhex(lines[0] if len(lines) == 1 else "")
        if len(key) != 64:
            raise ValueError(f"{key_file}: expected 128 hex digits of a secret key")
        self._key = key
        path = library or os.environ.get("TESSARYN_HYDROGEN_LIBRARY") or _DEFAULT_LIBRARY
        if not Path(path).exists():
            raise FileNotFoundError(f"{path} missing: build the native preset (it makes "
                                    "libtessaryn_hydrogen.so), or set TESSARYN_HYDROGEN_LIBRARY")
        self._library = _load(path)

    def sign(self, request: bytes, answer: bytes) -> str:
        message = signed_message(request, answer)
        signature = ctypes.create_string_buffer(64)
        if self._library.hydro_sign_create(signature, message, len(message), CONTEXT, self._key) != 0:
            raise RuntimeError("signing failed")
        return signature.raw.hex()
