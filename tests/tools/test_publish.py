"""The publisher tool from the outside: exit codes, messages, key files, and packages read
back with Python's own LZMA decoder."""
import json
import lzma
import os
import stat
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
TOOL = Path(os.environ.get("TESSARYN_PUBLISH", ROOT / "build/native/tools/tessaryn-publish"))


def run(*args, cwd=None):
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True,
                          cwd=cwd, timeout=120)


@pytest.fixture(scope="module", autouse=True)
def tool_built():
    assert TOOL.exists(), f"{TOOL} missing: build the native preset (or set TESSARYN_PUBLISH)"


@pytest.fixture
def keys(tmp_path):
    secret, public = tmp_path / "k.key", tmp_path / "k.pub"
    result = run("keygen", "--secret", secret, "--public", public)
    assert result.returncode == 0, result.stderr
    return secret, public


def cbor_item(data, pos):
    """Minimal CBOR reader for what the packer writes: maps, arrays, text and byte strings."""
    first = data[pos]
    major, info = first >> 5, first & 31
    pos += 1
    if info < 24:
        value = info
    else:
        width = {24: 1, 25: 2, 26: 4, 27: 8}[info]
        value = int.from_bytes(data[pos:pos + width], "big")
        pos += width
    if major in (2, 3):
        raw = data[pos:pos + value]
        return (raw if major == 2 else raw.decode()), pos + value
    if major == 4:
        items = []
        for _ in range(value):
            item, pos = cbor_item(data, pos)
            items.append(item)
        return items, pos
    if major == 5:
        result = {}
        for _ in range(value):
            key, pos = cbor_item(data, pos)
            result[key], pos = cbor_item(data, pos)
        return result, pos
    raise AssertionError(f"unexpected CBOR major type {major}")


def make_tree(root):
    (root / "bin/sub").mkdir(parents=True)
    (root / "empty").mkdir()
    (root / "bin/app.bin").write_bytes(os.urandom(200_000))
    (root / "bin/sub/notes.txt").write_text("note\n" * 5000)
    (root / "bin/zero").write_bytes(b"")
    (root / "naïve ✓.txt").write_text("ok")


def test_help_and_usage_errors():
    result = run("--help")
    assert result.returncode == 0 and "Usage: tessaryn-publish COMMAND" in result.stdout
    for command in ("keygen", "pack", "sign", "verify", "unpack"):
        result = run(command, "--help")
        assert result.returncode == 0, command
        assert result.stdout.startswith(f"Usage: tessaryn-publish {command}")
    assert run().returncode == 2
    result = run("frobnicate")
    assert result.returncode == 2 and "unknown command 'frobnicate'" in result.stderr
    result = run("pack", "dir", "--bogus")
    assert result.returncode == 2 and "unknown option --bogus" in result.stderr
    result = run("pack", "dir", "-o", "x.pak")
    assert result.returncode == 2 and "--key is required" in result.stderr
    result = run("verify", "file.bin", "--public", "k.pub")
    assert result.returncode == 2 and "--kind dat or --kind pak" in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1


def test_keygen_writes_owner_only_secret_and_refuses_to_overwrite(tmp_path, keys):
    secret, public = keys
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600
    assert len(secret.read_text()) == 129 and secret.read_text().endswith("\n")
    pub = public.read_text()
    assert len(pub) == 65 and pub.endswith("\n") and int(pub, 16) >= 0
    before = secret.read_bytes()
    result = run("keygen", "--secret", secret, "--public", public)
    assert result.returncode == 1 and "exists already" in result.stderr
    assert secret.read_bytes() == before
    secret.chmod(0o644)
    result = run("keygen", "--secret", secret, "--public", public, "--force")
    assert result.returncode == 0
    assert secret.read_bytes() != before and stat.S_IMODE(secret.stat().st_mode) == 0o600
    hex_key = public.read_text().strip()
    assert hex_key in result.stdout
    initialiser = result.stdout.splitlines()[1]
    assert initialiser.startswith("{0x") and initialiser.endswith("}")
    assert bytes(int(b, 16) for b in initialiser[1:-1].split(", ")) == bytes.fromhex(hex_key)


def test_pack_verify_unpack_and_independent_decoding(tmp_path, keys):
    secret, public = keys
    source = tmp_path / "src"
    make_tree(source)
    pak = tmp_path / "product.pak"
    result = run("pack", source, "--key", secret, "-o", pak, "--version", "2.5")
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""  # no progress bar when stderr is not a terminal
    signed = pak.read_bytes()

    result = run("verify", pak, "--public", public)
    assert result.returncode == 0, result.stderr
    assert pak.read_bytes() == signed  # checked in place, unchanged

    document, end = cbor_item(signed, 0)
    assert end == len(signed) - 64
    assert document["version"] == "2.5"
    names = [entry["n"] for entry in document["files"]]
    assert names.index("bin") < names.index("bin/app.bin") < names.index("bin/sub/notes.txt")
    assert "empty" in names and "naïve ✓.txt" in names
    for entry in document["files"]:
        if entry["t"] == "f":
            plain = lzma.LZMADecompressor(format=lzma.FORMAT_ALONE).decompress(entry["d"])
            assert plain == (source / entry["n"]).read_bytes(), entry["n"]

    dest = tmp_path / "dest"
    result = run("unpack", pak, "--public", public, dest)
    assert result.returncode == 0, result.stderr
    assert pak.read_bytes() == signed
    for path in source.rglob("*"):
        twin = dest / path.relative_to(source)
        assert twin.is_dir() if path.is_dir() else twin.read_bytes() == path.read_bytes()


def test_tampered_or_mismatched_packages_are_invalid(tmp_path, keys):
    secret, public = keys
    source = tmp_path / "src"
    make_tree(source)
    pak = tmp_path / "p.pak"
    assert run("pack", source, "--key", secret, "-o", pak).returncode == 0
    data = bytearray(pak.read_bytes())
    for offset in (0, len(data) // 2, len(data) - 64, len(data) - 1):
        bad = tmp_path / "bad.pak"
        changed = bytearray(data)
        changed[offset] ^= 0x01
        bad.write_bytes(changed)
        result = run("verify", bad, "--public", public)
        assert result.returncode == 1 and "invalid signature" in result.stderr
        assert run("unpack", bad, "--public", public, tmp_path / "out").returncode == 1
        assert not (tmp_path / "out").exists()
    assert run("verify", pak, "--public", public, "--kind", "dat").returncode == 1
    other = tmp_path / "other.pub"
    assert run("keygen", "--secret", tmp_path / "o.key", "--public", other).returncode == 0
    assert run("verify", pak, "--public", other).returncode == 1
    short = tmp_path / "short.pak"
    short.write_bytes(b"x" * 63)
    assert run("verify", short, "--public", public).returncode == 1


def test_sign_checks_settings_and_signs_exact_bytes(tmp_path, keys):
    secret, public = keys
    settings = tmp_path / "settings.json"
    text = '{"prod": "Tessaryn", "ver": "1.2", "eula": "Terms", "init": ["a.exe /x"],\n' \
           ' "post": [], "www": "https://example.test", "desk": true, "metric": false}\n'
    settings.write_text(text)
    out = tmp_path / "tessaryn.dat"
    result = run("sign", settings, "--key", secret, "-o", out)
    assert result.returncode == 0, result.stderr
    assert out.read_bytes()[:-64] == text.encode()
    assert run("verify", out, "--public", public).returncode == 0
    assert run("verify", out, "--public", public, "--kind", "pak").returncode == 1


@pytest.mark.parametrize("prod, reason", [
    (None, '"prod" is missing'), ("", '"prod" is empty'), (".", '"prod" is "."'),
    ("..", '"prod" is ".."'), ("a/b", "'/'"), ("a\\b", "'\\'"), ("C:x", "':'"), ("a*", "'*'"),
    ("a?", "'?'"), ('a"', "'\"'"), ("a<", "'<'"), ("a>", "'>'"), ("a|b", "'|'"),
    ("tab\there", "control character"), ("x\u007f", "control character"),
    (42, '"prod" must be a string, found a number'), ("NUL", "reserved device name"),
    ("Product.", "ends with a dot"),
])
def test_sign_refuses_unusable_product_names(tmp_path, keys, prod, reason):
    secret, _ = keys
    settings = {} if prod is None else {"prod": prod}
    path = tmp_path / "s.json"
    path.write_text(json.dumps(settings))
    out = tmp_path / "s.dat"
    result = run("sign", path, "--key", secret, "-o", out)
    assert result.returncode == 1
    assert reason in result.stderr
    assert not out.exists() and not (tmp_path / "s.dat.part").exists()


def test_sign_reports_every_wrong_type(tmp_path, keys):
    secret, _ = keys
    path = tmp_path / "s.json"
    path.write_text(json.dumps({"prod": "P", "eula": 1, "init": ["ok", 2], "post": "x",
                                "desk": "yes", "metric": 0, "www": None, "publisher": 7,
                                "help": []}))
    result = run("sign", path, "--key", secret, "-o", tmp_path / "s.dat")
    assert result.returncode == 1
    for text in ('"eula" must be a string, found a number', '"init"[1] must be a string',
                 '"post" must be an array of strings', '"desk" must be a boolean, found a string',
                 '"metric" must be a boolean', '"www" must be a string, found null',
                 '"publisher" must be a string, found a number',
                 '"help" must be a string, found an array'):
        assert text in result.stderr
    path.write_text("{not json")
    result = run("sign", path, "--key", secret, "-o", tmp_path / "s.dat")
    assert result.returncode == 1 and "not valid JSON" in result.stderr


def test_one_line_errors_for_missing_and_bad_inputs(tmp_path, keys):
    secret, public = keys
    cases = [
        (("pack", tmp_path / "nope", "--key", secret, "-o", tmp_path / "x.pak"), "folder not found"),
        (("pack", tmp_path, "--key", tmp_path / "none.key", "-o", tmp_path / "x.pak"),
         "cannot read secret key file"),
        (("pack", tmp_path, "--key", public, "-o", tmp_path / "x.pak"), "bad secret key file"),
        (("verify", tmp_path / "none.pak", "--public", public), "cannot read"),
        (("verify", secret, "--public", secret, "--kind", "dat"), "bad public key file"),
        (("sign", tmp_path / "none.json", "--key", secret, "-o", tmp_path / "x.dat"), "cannot read"),
    ]
    for args, text in cases:
        result = run(*args)
        assert result.returncode == 1, args
        lines = result.stderr.strip().splitlines()
        assert len(lines) == 1 and text in lines[0], result.stderr
