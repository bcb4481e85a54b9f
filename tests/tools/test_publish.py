"""The publisher tool from the outside: exit codes, messages, key files, and packages read
back with Python's own LZMA decoder."""
import datetime
import hashlib
import json
import lzma
import os
import re
import stat
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
from cbor_bytes import cbor as cbor_encode  # noqa: E402
from code_signing import make_code_signing_certificate  # noqa: E402
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
    for command in ("keygen", "pack", "sign", "verify", "unpack", "inspect", "sign-exe",
                    "verify-exe"):
        result = run(command, "--help")
        assert result.returncode == 0, command
        assert result.stdout.startswith(f"Usage: tessaryn-publish {command}")
    assert run().returncode == 2
    result = run("frobnicate")
    assert result.returncode == 2 and "unknown command 'frobnicate'" in result.stderr
    assert "Commands:" in result.stderr and not result.stdout
    result = run("pack", "dir", "--bogus")
    assert result.returncode == 2 and "unknown option --bogus" in result.stderr
    result = run("pack", "dir", "-o", "x.pak")
    assert result.returncode == 2 and "--key is required" in result.stderr
    result = run("pack", "dir", "--key", "k", "-o", "x.pak", "--threads", "0")
    assert result.returncode == 2 and "--threads must be a number" in result.stderr
    result = run("sign-exe", "setup.exe", "-o", "out.exe")
    assert result.returncode == 2 and "--pkcs12 is required" in result.stderr
    result = run("verify", "file.bin", "--public", "k.pub")
    assert result.returncode == 2 and "--kind dat or --kind pak" in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1


def test_keygen_writes_owner_only_secret_and_refuses_to_overwrite(tmp_path, keys):
    secret, public = keys
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600
    heading, hex_secret = secret.read_text().split("\n", 1)
    assert heading == "tessaryn release secret key" and len(hex_secret) == 129
    assert hex_secret.endswith("\n") and int(hex_secret, 16) >= 0
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
    assert f"release secret key written to {secret}" in result.stdout
    assert f"public key written to {public}" in result.stdout
    initialiser = result.stdout.splitlines()[1]
    assert initialiser.startswith("{0x") and initialiser.endswith("}")
    assert bytes(int(b, 16) for b in initialiser[1:-1].split(", ")) == bytes.fromhex(hex_key)


def test_pack_verify_unpack_and_independent_decoding(tmp_path, keys):
    secret, public = keys
    source = tmp_path / "src"
    make_tree(source)
    pak = tmp_path / "product.pak"
    result = run("pack", source, "--allow-no-main", "--key", secret, "-o", pak, "--version", "2.5")
    assert result.returncode == 0, result.stderr
    # Not a terminal: plain progress lines, no bar redrawn with carriage returns.
    assert result.stderr.startswith("packing: ") and "\r" not in result.stderr
    assert result.stderr.splitlines()[-1].startswith("packing: 100% ")
    assert "% of the input): " in result.stdout
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
    result = run("pack", source, "--allow-no-main", "--key", secret, "-o", pak)
    assert result.returncode == 0
    assert result.stderr.startswith(
        "tessaryn-publish pack: no --version given, so the package is labelled 1.0\n")
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


def packed_product(tmp_path, secret, version="1.2", main="tessaryn.exe", name="p.pak"):
    tree = tmp_path / f"tree-{name}"
    tree.mkdir()
    (tree / main).write_bytes(os.urandom(1000))
    pak = tmp_path / name
    result = run("pack", tree, "--allow-no-main", "--key", secret, "-o", pak, "--version", version, "--quiet")
    assert result.returncode == 0, result.stderr
    return pak


def test_sign_binds_the_settings_to_their_package(tmp_path, keys):
    secret, public = keys
    settings = tmp_path / "settings.json"
    original = {"prod": "Tessaryn", "ver": "1.2", "eula": "Terms", "init": ["a.exe /x"],
                "post": [], "www": "https://example.test", "desk": True, "metric": False}
    settings.write_text(json.dumps(original))
    pak = packed_product(tmp_path, secret)
    out = tmp_path / "tessaryn.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", out,
                 "--expires", "30d")
    assert result.returncode == 0, result.stderr
    signed = json.loads(out.read_bytes()[:-64])
    data = pak.read_bytes()
    assert signed.pop("package") == {"size": len(data), "sha256": hashlib.sha256(data).hexdigest()}
    assert signed.pop("blocks") == {"size": 4194304, "sha256": [hashlib.sha256(data).hexdigest()]}
    assert signed.pop("signer") == public.read_text()[:16]
    assert [row[0] for row in signed.pop("index")["files"]] == ["tessaryn.exe"]
    expires = datetime.datetime.strptime(signed.pop("expires"), "%Y-%m-%dT%H:%M:%SZ")
    days = (expires - datetime.datetime.utcnow()).total_seconds() / 86400
    assert 29.9 < days < 30.1
    assert signed == original and list(signed) == list(original), "other keys kept, in order"
    assert run("verify", out, "--public", public).returncode == 0
    assert run("verify", out, "--public", public, "--kind", "pak").returncode == 1
    pair = run("verify", out, "--public", public, "--package", pak)
    assert pair.returncode == 0 and "one release" in pair.stdout, pair.stderr
    shown = run("inspect", out, "--public", public)
    assert shown.returncode == 0 and hashlib.sha256(data).hexdigest() in shown.stdout

    # Another build of the same version, signed with the same key, is not this release's package.
    other = packed_product(tmp_path, secret, name="other.pak")
    pair = run("verify", out, "--public", public, "--package", other)
    assert pair.returncode == 1 and "not the package the settings name" in pair.stderr


@pytest.mark.parametrize("case, reason, code", [
    ("version", '"ver" is "1.2" but the package holds version "1.3"', 1),
    ("main", "the package has no main program tessaryn.exe", 1),
    ("key", "is not a package signed with this key", 1),
    ("past", "is not in the future", 2),
    ("form", "--expires must be", 2),
])
def test_sign_refuses_a_package_that_is_not_the_release(tmp_path, keys, case, reason, code):
    secret, _ = keys
    settings = tmp_path / "settings.json"
    settings.write_text(json.dumps({"prod": "Tessaryn", "ver": "1.2"}))
    expires = {"past": "2020-01-01", "form": "next week"}.get(case, "2999-01-01")
    if case == "key":
        run("keygen", "--secret", tmp_path / "o.key", "--public", tmp_path / "o.pub")
    pak = packed_product(tmp_path, tmp_path / "o.key" if case == "key" else secret,
                         version="1.3" if case == "version" else "1.2",
                         main="other.exe" if case == "main" else "Tessaryn.EXE")
    out = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", out,
                 "--expires", expires)
    assert result.returncode == code and reason in result.stderr, result.stderr
    assert not out.exists()


NO_CHOICE = " (90 days; --expires to choose, --no-expiry for none)"


# What expiry the signed settings get, said on the output and shown by inspect: a time unless
# refused, the settings' own kept only when no option chooses, one choice at a time.
@pytest.mark.parametrize("options, own, written, code, said", [
    ([], None, "90 days", 0, NO_CHOICE),
    (["--expires", "30d"], "2999-01-01T00:00:00Z", "30 days", 0, "expires "),
    (["--no-expiry"], None, None, 0, "never expires (--no-expiry)"),
    (["--no-expiry"], "2999-01-01T00:00:00Z", None, 0, "never expires (--no-expiry)"),
    ([], "2999-01-01T00:00:00Z", "2999-01-01T00:00:00Z", 0, " (from the settings; --expires"),
    (["--expires", "2999-06-30"], "2998-01-01T00:00:00Z", "2999-06-30T23:59:59Z", 0,
     "expires 2999-06-30T23:59:59Z\n"),
    (["--expires", "30d", "--expires", "60d"], None, None, 2, "--expires is given twice"),
    (["--expires", "30d", "--no-expiry"], None, None, 2, "exclude each other"),
    ([], "next week", None, 1, '"expires" must be a UTC time'),
    ([], "2020-01-01T00:00:00Z", None, 1, '"expires" 2020-01-01T00:00:00Z is not in the future'),
])
def test_sign_writes_an_expiry_unless_refused(tmp_path, keys, options, own, written, code, said):
    secret, public = keys
    settings = {"prod": "Tessaryn", "ver": "1.2"}
    if own:
        settings["expires"] = own
    (tmp_path / "s.json").write_text(json.dumps(settings))
    pak = packed_product(tmp_path, secret)
    out = tmp_path / "s.dat"
    before = int(datetime.datetime.now(datetime.timezone.utc).timestamp())
    result = run("sign", tmp_path / "s.json", "--key", secret, "--package", pak, "-o", out,
                 *options)
    after = int(datetime.datetime.now(datetime.timezone.utc).timestamp())
    assert result.returncode == code and said in result.stdout + result.stderr, result
    if code:
        assert not out.exists()
        return
    signed = json.loads(out.read_bytes()[:-64])
    shown = run("inspect", out, "--public", public).stdout
    if written is None:
        assert "expires" not in signed and "expires: never" in shown, shown
        return
    if written.endswith(" days"):
        span = int(written.split()[0]) * 86400
        at = datetime.datetime.strptime(signed["expires"], "%Y-%m-%dT%H:%M:%SZ")
        seconds = int(at.replace(tzinfo=datetime.timezone.utc).timestamp())
        assert before + span <= seconds <= after + span, (before, seconds, after)
        written = signed["expires"]
    assert signed["expires"] == written
    assert f"expires {written}" in result.stdout and f"expires: {written}" in shown, shown


# verify with the package reads the expiry back as the setup would: passed, not a time, or none.
@pytest.mark.parametrize("expires, code, said", [
    ("2020-01-01T00:00:00Z", 1, ["expires: 2020-01-01T00:00:00Z (expired)\n",
                                 "the settings expired at 2020-01-01T00:00:00Z\n"]),
    ("2999-01-01T00:00:00Z", 0, ["expires: 2999-01-01T00:00:00Z\n"]),
    ("2999-01-01", 1, ['"expires" is not a UTC time']),
    (32503680000, 1, ['"expires" is not a UTC time']),
    (None, 0, ["expires: never\n"]),
])
def test_verify_of_a_pair_says_when_the_settings_expire(tmp_path, keys, expires, code, said):
    secret, public = keys
    pak = packed_product(tmp_path, secret)
    data = pak.read_bytes()
    settings = {"prod": "Tessaryn", "ver": "1.2",
                "package": {"size": len(data), "sha256": hashlib.sha256(data).hexdigest()}}
    if expires is not None:
        settings["expires"] = expires
    out = tmp_path / "s.dat"
    sign_package(json.dumps(settings).encode(), secret, out, context="SETUP100")
    result = run("verify", out, "--public", public, "--package", pak)
    assert result.returncode == code, result
    for text in said:
        assert text in result.stdout + result.stderr, result


def test_sign_names_each_block_of_the_package(tmp_path, keys):
    secret, _ = keys
    tree = tmp_path / "tree"
    tree.mkdir()
    (tree / "tessaryn.exe").write_bytes(os.urandom(200_000))
    pak = tmp_path / "p.pak"
    assert run("pack", tree, "--allow-no-main", "--key", secret, "-o", pak, "--version", "1.2").returncode == 0
    settings = tmp_path / "s.json"
    settings.write_text('{"prod": "Tessaryn", "ver": "1.2"}')
    out = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", out,
                 "--block-size", 65536)
    assert result.returncode == 0, result.stderr
    data = pak.read_bytes()
    blocks = [data[at:at + 65536] for at in range(0, len(data), 65536)]
    assert len(blocks) == 4 and len(blocks[-1]) < 65536
    assert json.loads(out.read_bytes()[:-64])["blocks"] == {
        "size": 65536, "sha256": [hashlib.sha256(b).hexdigest() for b in blocks]}
    for size in ("65535", "67108865", "64k"):
        result = run("sign", settings, "--key", secret, "--package", pak, "-o", out,
                     "--block-size", size)
        assert result.returncode == 2 and "--block-size must be" in result.stderr


@pytest.mark.parametrize("prod, reason", [
    (None, '"prod" is missing'), ("", '"prod" is empty'), (".", '"prod" is "."'),
    ("..", '"prod" is ".."'), ("a/b", "'/'"), ("a\\b", "'\\'"), ("C:x", "':'"), ("a*", "'*'"),
    ("a?", "'?'"), ('a"', "'\"'"), ("a<", "'<'"), ("a>", "'>'"), ("a|b", "'|'"),
    ("tab\there", "control character"), ("x\u007f", "control character"),
    (42, '"prod" must be a string, found a number'), ("NUL", "reserved device name"),
    # The names the setup itself refuses: COM0, a superscript digit, blanks before the dot.
    ("com0", "reserved device name"), ("LPT\u00b9", "reserved device name"),
    ("Con .txt", "reserved device name"), ("Product.", "ends with a dot"),
    ("Product ", "ends with a dot or a space"),
])
def test_sign_refuses_unusable_product_names(tmp_path, keys, prod, reason):
    secret, _ = keys
    settings = {} if prod is None else {"prod": prod}
    path = tmp_path / "s.json"
    path.write_text(json.dumps(settings))
    out = tmp_path / "s.dat"
    result = run("sign", path, "--key", secret, "--package", tmp_path / "none.pak", "-o", out)
    assert result.returncode == 1
    assert reason in result.stderr
    assert not out.exists() and not (tmp_path / "s.dat.part").exists()


def test_sign_reports_every_wrong_type(tmp_path, keys):
    secret, _ = keys
    path = tmp_path / "s.json"
    path.write_text(json.dumps({"prod": "P", "eula": 1, "init": ["ok", 2], "post": "x",
                                "desk": "yes", "metric": 0, "www": None, "publisher": 7,
                                "help": [], "eulas": {"de": "Bedingungen", "pt-br": 3,
                                                      "deu": "x", "zh": "y"}}))
    result = run("sign", path, "--key", secret, "--package", tmp_path / "none.pak", "-o",
                 tmp_path / "s.dat")
    assert result.returncode == 1
    for text in ('"eula" must be a string, found a number', '"init"[1] must be a string',
                 '"post" must be an array of strings', '"desk" must be a boolean, found a string',
                 '"metric" must be a boolean', '"www" must be a string, found null',
                 '"publisher" must be a string, found a number',
                 '"help" must be a string, found an array',
                 '"eulas"["pt-br"] must be a string, found a number',
                 '"eulas" names "deu", which is no language of the setup',
                 '"eulas" names "zh", which is no language of the setup'):
        assert text in result.stderr
    for tag in ('"de"', '"pt-br" ', '"zh-TW"'):
        assert f'"eulas" names {tag},' not in result.stderr


# Each file the way a first-day publisher gets it wrong, and every line sign says about it.
BAD_SETTINGS = [
    ('{"prod": "Tessaryn"}', ['"ver" is missing (the version, e.g. "2.0", shown as DisplayVersion)']),
    ('{"ver": "2.0"}', ['"prod" is missing (the product name, e.g. "Tessaryn")']),
    ('{"prod": "T", "ver": ""}', ['"ver" is empty (the version, e.g. "2.0", shown as DisplayVersion)']),
    ('{"prod": "T", "ver": "2", "pubisher": "C"}',
     ['unknown key "pubisher" (did you mean "publisher"?); --allow-unknown signs it anyway']),
    ('{"Prod": "T", "ver": "2", "version": "2", "colour": 1}',
     ['"prod" is missing (the product name, e.g. "Tessaryn")',
      'unknown key "Prod" (did you mean "prod"?); --allow-unknown signs it anyway',
      'unknown key "colour"; --allow-unknown signs it anyway',
      'unknown key "version" (did you mean "ver"?); --allow-unknown signs it anyway']),
    ('{"prod": "T",\n "ver": "2",\n}', ["not valid JSON at line 3, column 1: expected a key in "
                                        "double quotes, found '}' (JSON allows no comma before a "
                                        "closing '}')"]),
    ('{"prod": "T", "ver": [1,]}', ["not valid JSON at line 1, column 25: expected a value (a string "
                                    "in double quotes, a number, true, false, null, [ or {), found "
                                    "']' (JSON allows no comma before a closing ']')"]),
    ("{'prod': 'T'}", ["not valid JSON at line 1, column 2: found a single quote ', but JSON "
                       'strings and keys take double quotes "']),
    ('{"prod": "T" "ver": "2"}', ["not valid JSON at line 1, column 14: expected ',' or '}' after "
                                  "the value, found a string"]),
    ('{"prod" "T"}', ["not valid JSON at line 1, column 9: expected ':' after the key, found a "
                      "string"]),
    ('{"prod": "T", "ver": "2"', ["not valid JSON at line 1, column 25: expected ',' or '}' after "
                                  "the value, found the end of the file"]),
    ('{"prod": "T",\n "post": ["dël C:\\Temp"]}',
     ["not valid JSON at line 2, column 18: a backslash starts an unknown escape; write each \\ "
      "in a Windows path as \\\\"]),
    ('{"prod": "T", "eula": "two\nlines"}', ["not valid JSON at line 1, column 23: the string "
                                             "starting here runs past the end of its line; close "
                                             "it with \" or write a line break as \\n"]),
    ('{"prod": "T", "eula": "open', ["not valid JSON at line 1, column 23: the string starting "
                                     'here is never closed with "']),
    # Escaped quotes inside are passed over: the string starts at its own opening quote.
    ('{"prod": "T", "eula": "say \\"hi\\" open', ["not valid JSON at line 1, column 23: the string "
                                                "starting here is never closed with \""]),
    ('{"prod" "a\\"b"}', ["not valid JSON at line 1, column 9: expected ':' after the key, found a "
                          "string"]),
    ('{"desk": yes}', ["not valid JSON at line 1, column 10: found the word yes, but JSON knows "
                       'only true, false and null; text takes double quotes "']),
    ('{"prod": "T"} // end', ["not valid JSON at line 1, column 15: found a comment, but JSON has "
                              "none"]),
    ('{"prod": "T"}{}', ["not valid JSON at line 1, column 14: expected nothing after the closing "
                         "'}', found '{'"]),
    ("", ["not valid JSON at line 1, column 1: expected a value (a string in double quotes, a "
          "number, true, false, null, [ or {), found the end of the file"]),
    ("[1]", ["the top level must be a JSON object { ... }, found an array"]),
]


def test_sign_says_in_plain_words_what_is_wrong_with_the_settings(tmp_path, keys):
    secret, public = keys
    path, out = tmp_path / "s.json", tmp_path / "s.dat"
    for text, lines in BAD_SETTINGS:
        path.write_text(text, encoding="utf-8")
        result = run("sign", path, "--key", secret, "--package", tmp_path / "none.pak", "-o", out)
        assert result.returncode == 1, text
        assert result.stderr.splitlines() == [f"tessaryn-publish: {path}: {line}" for line in lines]
        assert not out.exists()
    # Known to the setup, so never taken for misspellings.
    path.write_text('{"prod": "T", "ver": "2", "mirrors": [], "blocks": []}')
    pak = packed_product(tmp_path, secret, version="2", main="t.exe", name="t.pak")
    assert run("sign", path, "--key", secret, "--package", pak, "-o", out).returncode == 0
    # A deliberate extra key is signed when asked, and still named.
    path.write_text('{"prod": "T", "ver": "2", "pubisher": "C"}')
    result = run("sign", path, "--key", secret, "--package", pak, "-o", out, "--allow-unknown")
    assert result.returncode == 0, result.stderr
    assert result.stderr == f'tessaryn-publish: {path}: unknown key "pubisher" (did you mean ' \
                            '"publisher"?), kept: the setup ignores it\n'
    assert run("verify", out, "--public", public).returncode == 0


def test_keygen_makes_missing_folders_for_the_owner_only(tmp_path):
    secret, public = tmp_path / "keys/deep/t.key", tmp_path / "pub/t.pub"
    result = run("keygen", "--secret", secret, "--public", public)
    assert result.returncode == 0, result.stderr
    for folder in (tmp_path / "keys", secret.parent, public.parent):
        assert stat.S_IMODE(folder.stat().st_mode) == 0o700, folder
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600 and len(public.read_text()) == 65


def test_one_line_errors_for_missing_and_bad_inputs(tmp_path, keys):
    secret, public = keys
    settings, a_file = tmp_path / "s.json", tmp_path / "a-file"
    settings.write_text('{"prod": "T", "ver": "1"}')
    a_file.write_text("")
    missing, not_dir = "No such file or directory", "Not a directory"
    cases = [
        (("pack", tmp_path / "nope", "--key", secret, "-o", tmp_path / "x.pak"), "folder not found"),
        (("pack", tmp_path, "--allow-no-main", "--key", tmp_path / "none.key", "-o", tmp_path / "x.pak"),
         f"cannot read secret key file {tmp_path / 'none.key'}: {missing}"),
        (("pack", tmp_path, "--allow-no-main", "--key", public, "-o", tmp_path / "x.pak"), "bad secret key file"),
        (("verify", tmp_path / "none.pak", "--public", public),
         f"cannot read {tmp_path / 'none.pak'}: {missing}"),
        (("verify", secret, "--public", secret, "--kind", "dat"), "bad public key file"),
        (("sign", tmp_path / "none.json", "--key", secret, "--package", tmp_path / "x.pak", "-o",
          tmp_path / "x.dat"),
         f"cannot read {tmp_path / 'none.json'}: {missing}"),
        # Every "cannot" carries the system's reason.
        (("sign", settings, "--key", secret, "--package",
          packed_product(tmp_path, secret, version="1", main="t.exe", name="t1.pak"), "-o",
          tmp_path / "nodir/x.dat"),
         f"cannot create {tmp_path / 'nodir/x.dat.part'}: {missing}"),
        (("pack", tmp_path, "--allow-no-main", "--key", secret, "-o", a_file / "x.pak", "--quiet"),
         f"cannot create {a_file / 'x.pak.part'}: {not_dir}"),
        (("keygen", "--secret", a_file / "x.key", "--public", tmp_path / "x.pub"),
         f"cannot create {a_file / 'x.key'}: {not_dir}"),
        (("keygen", "--secret", a_file / "sub/x.key", "--public", tmp_path / "x.pub"),
         f"cannot create the folder {a_file / 'sub'}: {not_dir}"),
    ]
    for args, text in cases:
        result = run(*args)
        assert result.returncode == 1, args
        lines = result.stderr.strip().splitlines()
        assert len(lines) == 1 and text in lines[0], result.stderr


def test_pack_output_depends_on_neither_thread_count_nor_display(tmp_path, keys):
    secret, public = keys
    source = tmp_path / "src"
    make_tree(source)
    for i in range(12):  # more entries than threads, of uneven sizes
        (source / "bin" / f"part{i:02}.dat").write_bytes(os.urandom(1000 * i) + b"x" * 30_000)
    paks = []
    for threads in ("1", "3", "8"):
        pak = tmp_path / f"t{threads}.pak"
        result = run("pack", source, "--allow-no-main", "--key", secret, "-o", pak, "--threads", threads, "--quiet")
        assert result.returncode == 0, result.stderr
        assert result.stdout == "" and result.stderr == ""
        assert run("verify", pak, "--public", public).returncode == 0
        paks.append(pak.read_bytes())
    # The signature carries randomness of its own; the signed bundle is byte for byte the same.
    assert paks[0][:-64] == paks[1][:-64] == paks[2][:-64]


def test_inspect_lists_entries_and_refuses_a_tampered_package(tmp_path, keys):
    secret, public = keys
    source = tmp_path / "src"
    make_tree(source)
    pak = tmp_path / "p.pak"
    assert run("pack", source, "--allow-no-main", "--key", secret, "-o", pak, "--version", "3.1").returncode == 0
    result = run("inspect", pak, "--public", public, "--json")
    assert result.returncode == 0, result.stderr
    listing = json.loads(result.stdout)
    assert listing["version"] == "3.1" and listing["signature"] == "valid"
    expected = {str(p.relative_to(source)): p for p in source.rglob("*")}
    assert sorted(e["name"] for e in listing["entries"]) == sorted(expected)
    document, _ = cbor_item(pak.read_bytes(), 0)
    packed = {e["n"]: len(e["d"]) for e in document["files"] if e["t"] == "f"}
    for entry in listing["entries"]:
        path = expected[entry["name"]]
        assert entry["type"] == ("folder" if path.is_dir() else "file")
        if path.is_file():
            assert entry["unpacked"] == path.stat().st_size
            assert entry["packed"] == packed[entry["name"]]
            ratio = entry["ratio"]
            assert ratio is None if entry["unpacked"] == 0 else \
                abs(ratio - entry["packed"] / entry["unpacked"]) < 1e-9
    text = run("inspect", pak)
    assert text.returncode == 0 and text.stdout.startswith(
        "version 3.1, 4 files, 3 folders\nsignature NOT checked (give --public PUBFILE")
    assert "\nfolder " in text.stdout and "dir " not in text.stdout
    text = run("inspect", pak, "--public", public)
    assert f"\nsignature valid, checked with the public key {public}\n" in text.stdout
    single = tmp_path / "single"
    (single / "only").mkdir(parents=True)
    (single / "only/one.txt").write_text("1")
    assert run("pack", single, "--allow-no-main", "--key", secret, "-o", pak, "--quiet").returncode == 0
    assert run("inspect", pak).stdout.startswith("version 1.0, 1 file, 1 folder\n")
    assert any(line.split()[:3] == ["file", str(packed["bin/app.bin"]), "200000"]
               for line in text.stdout.splitlines())

    data = bytearray(pak.read_bytes())
    data[len(data) // 2] ^= 0x01
    bad = tmp_path / "bad.pak"
    bad.write_bytes(data)
    result = run("inspect", bad, "--public", public, "--json")
    assert result.returncode == 1 and result.stdout == ""
    assert "invalid signature, not listing it" in result.stderr
    bad.write_bytes(b"\x01" * 200)
    result = run("inspect", bad)
    assert result.returncode == 1 and "is not a package" in result.stderr


def sign_package(payload: bytes, secret, out, context="SETUPPAK"):
    """Signs bytes sign or pack would refuse to write."""
    signer = TOOL.parents[1] / "tests" / "e2e" / "e2e_sign_raw"
    raw = out.with_suffix(".raw")
    raw.write_bytes(payload)
    subprocess.run([signer, secret, context, raw, out], check=True, capture_output=True)


# inspect lists through the reader the setup extracts with: it takes and refuses what unpack
# does, and never falls over on hostile nesting, signed or not.
@pytest.mark.parametrize("case", ["entry map", "ignored type", "escaping name", "deep nesting"])
def test_inspect_takes_and_refuses_what_unpack_does(tmp_path, keys, case):
    secret, public = keys
    lzma_item = lzma.compress(b"hello", format=lzma.FORMAT_ALONE)
    entry = lambda name: {"n": name, "t": "f", "d": lzma_item}
    files, listed, refusal = {
        # A map's values are taken in key order.
        "entry map": ({"b": entry("second"), "a": entry("first")}, ["first", "second"], None),
        "ignored type": ([entry("kept"), {"n": "other", "t": "x"}], ["kept"], None),
        "escaping name": ([entry("ok"), entry("../evil")], None, "climbs out of the destin"),
        "deep nesting": (None, None, "nesting too deep"),
    }[case]
    if case == "deep nesting":
        payload = cbor_encode({"version": "1", "files": []})[:-1]
        payload += b"\x81" * 200_000 + b"\x80"  # 200,000 arrays, one in the other
    else:
        payload = cbor_encode({"version": "1", "files": files})
    pak = tmp_path / "p.pak"
    sign_package(payload, secret, pak)
    unpacked = run("unpack", pak, "--public", public, tmp_path / "dest")
    for checked in (("--public", public), ()):
        result = run("inspect", pak, *checked, "--json")
        assert result.returncode == (0 if listed else 1), result.stderr
        if listed:
            assert [e["name"] for e in json.loads(result.stdout)["entries"]] == listed
        else:
            assert refusal in result.stderr and result.stdout == ""
    if listed:
        assert unpacked.returncode == 0, unpacked.stderr
        assert sorted(p.name for p in (tmp_path / "dest").iterdir()) == sorted(listed)
    else:
        assert unpacked.returncode == 1 and refusal in unpacked.stderr


@pytest.fixture(scope="module")
def code_signing(tmp_path_factory):
    """A throw-away code-signing certificate and a small Windows program to sign."""
    folder = tmp_path_factory.mktemp("codesign")
    make_code_signing_certificate(folder)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
                    "-subj", "/CN=Someone Else", "-keyout", folder / "other-key.pem",
                    "-out", folder / "other.pem"], check=True, capture_output=True)
    (folder / "main.c").write_text("int main(void) { return 0; }\n")
    subprocess.run(["x86_64-w64-mingw32-gcc", "-s", "-o", folder / "setup.exe",
                    folder / "main.c"], check=True, capture_output=True)
    return folder


def test_sign_exe_makes_a_signature_osslsigncode_accepts(tmp_path, code_signing):
    cert, p12, password = (code_signing / n for n in ("cert.pem", "cert.p12", "password.txt"))
    setup = tmp_path / "setup.exe"
    setup.write_bytes((code_signing / "setup.exe").read_bytes())
    signed = tmp_path / "signed.exe"
    result = run("sign-exe", setup, "--pkcs12", p12, "--password-file", password, "-o", signed)
    assert result.returncode == 0, result.stderr
    assert setup.read_bytes() == (code_signing / "setup.exe").read_bytes()
    independent = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", cert],
                                 capture_output=True, timeout=60)
    assert independent.returncode == 0, independent.stdout
    assert run("verify-exe", signed, "--ca", cert).returncode == 0
    result = run("verify-exe", setup, "--ca", cert)
    assert result.returncode == 1 and "no Authenticode signature" in result.stderr
    # Intact but self-signed: the certificate is what fails, and the way out is named.
    for extra, advice in (((), "give the publisher's CA certificate with --ca FILE"),
                          (("--ca", code_signing / "other.pem"), "does not lead to a certificate in")):
        result = run("verify-exe", signed, *extra)
        assert result.returncode == 1
        assert "the signature is intact, but its certificate is not trusted here " \
               "(self-signed certificate)" in result.stderr and advice in result.stderr

    data = bytearray(signed.read_bytes())
    data[len(data) // 3] ^= 0x01
    flipped = tmp_path / "flipped.exe"
    flipped.write_bytes(data)
    result = run("verify-exe", flipped, "--ca", cert)
    assert result.returncode == 1
    assert "invalid Authenticode signature: the program was changed after it was signed" \
        in result.stderr
    assert subprocess.run(["osslsigncode", "verify", "-in", flipped, "-CAfile", cert],
                          capture_output=True, timeout=60).returncode != 0

    # Without -o the program itself is replaced; a wrong password leaves it as it was.
    assert run("sign-exe", setup, "--pkcs12", p12, "--password-file", password).returncode == 0
    assert run("verify-exe", setup, "--ca", cert).returncode == 0
    wrong = tmp_path / "wrong.txt"
    wrong.write_text("nope\n")
    out = tmp_path / "never.exe"
    result = run("sign-exe", code_signing / "setup.exe", "--pkcs12", p12, "--password-file",
                 wrong, "-o", out)
    assert result.returncode == 1
    assert f"wrong password: the password in {wrong} does not open {p12}" in result.stderr
    assert not out.exists() and not list(tmp_path.glob("*.signing-*"))
    result = run("sign-exe", code_signing / "setup.exe", "--pkcs12", p12, "-o", out)
    assert result.returncode == 1 and "needs a password: give it with --password-file" in result.stderr


def test_sign_exe_runs_osslsigncode_from_path_with_literal_arguments(tmp_path, code_signing):
    """A stand-in osslsigncode records what it is given: the password stays in its file, a
    relative PATH entry (the current folder) is never searched, odd names arrive literally."""
    record = tmp_path / "args.json"
    stand_in = "#!/usr/bin/env python3\nimport json, sys\n" \
               "out = sys.argv[sys.argv.index('-out') + 1]\n" \
               "open(out, 'wb').write(b'signed')\n" \
               f"json.dump(sys.argv[1:], open({str(record)!r}, 'w'))\n"
    planted = "#!/bin/sh\ntouch planted-ran\nexit 1\n"
    for folder, script in ((tmp_path / "abs", stand_in), (tmp_path / "rel", planted)):
        folder.mkdir()
        (folder / "osslsigncode").write_text(script)
        (folder / "osslsigncode").chmod(0o755)
    setup = tmp_path / "my setup; $(touch x).exe"
    setup.write_bytes(b"MZ")
    env = dict(os.environ, PATH=f"rel:{tmp_path / 'abs'}:/usr/bin:/bin")
    result = subprocess.run([str(TOOL), "sign-exe", setup.name, "--pkcs12",
                             code_signing / "cert.p12", "--password-file",
                             code_signing / "password.txt", "--timestamp",
                             "http://127.0.0.1:9/tsa", "-o", "out.exe"],
                            capture_output=True, text=True, cwd=tmp_path, env=env, timeout=60)
    assert result.returncode == 0, result.stderr
    assert not (tmp_path / "planted-ran").exists() and not (tmp_path / "x").exists()
    args = json.loads(record.read_text())
    assert args[args.index("-in") + 1] == setup.name
    assert args[args.index("-readpass") + 1] == str(code_signing / "password.txt")
    assert args[args.index("-ts") + 1] == "http://127.0.0.1:9/tsa"
    assert not any("correct horse" in a for a in args) and "-pass" not in args
    assert (tmp_path / "out.exe").read_bytes() == b"signed"


def signing_inputs(tmp_path, keys, settings=None):
    secret, _ = keys
    path = tmp_path / "settings.json"
    path.write_text(json.dumps(settings or {"prod": "Tessaryn", "ver": "1.2"}))
    return path, packed_product(tmp_path, secret)


# An output path that is one of the command's inputs, by the same name, another spelling of it
# or a hard link: refused before anything is written, and the input left as it was.
@pytest.mark.parametrize("case", ["sign over package", "sign over settings", "sign over key",
                                  "sign over package by another path", "sign over hard link",
                                  "pack over key", "keygen public over secret"])
def test_outputs_never_overwrite_inputs(tmp_path, keys, case):
    secret, _ = keys
    settings, pak = signing_inputs(tmp_path, keys)
    (tmp_path / "sub").mkdir()
    os.link(pak, tmp_path / "link.pak")
    output = {"sign over package": pak, "sign over settings": settings, "sign over key": secret,
              "sign over package by another path": tmp_path / "sub" / ".." / pak.name,
              "sign over hard link": tmp_path / "link.pak", "pack over key": secret,
              "keygen public over secret": tmp_path / "sub" / ".." / "new.key"}[case]
    before = {path: path.read_bytes() for path in (settings, pak, secret)}
    if case.startswith("sign"):
        result = run("sign", settings, "--key", secret, "--package", pak, "-o", output)
    elif case.startswith("pack"):
        result = run("pack", pak.parent / "tree-p.pak", "--key", secret, "-o", output)
    else:
        result = run("keygen", "--secret", tmp_path / "new.key", "--public", output)
        assert not (tmp_path / "new.key").exists()
    assert result.returncode == 2 and f"the output {output} is the input" in result.stderr, result.stderr
    assert {path: path.read_bytes() for path in before} == before


# Each secret key file names its kind; one kind is never taken for the other, and a file from
# before kinds were written is taken with a warning.
@pytest.mark.parametrize("command, kind, code, said", [
    ("pack", "answers", 1, "this is the answers key; releases are signed with the release key"),
    ("sign", "answers", 1, "this is the answers key; releases are signed with the release key"),
    ("pack", "bare", 0, "does not say whether it is a release or an answers key"),
    ("sign", "bare", 0, "does not say whether it is a release or an answers key"),
])
def test_secret_keys_of_the_wrong_kind_are_refused(tmp_path, keys, command, kind, code, said):
    secret, _ = keys
    settings, pak = signing_inputs(tmp_path, keys)
    key = tmp_path / "other.key"
    if kind == "answers":
        assert run("keygen", "--answers", "--secret", key, "--public", tmp_path / "a.pub").returncode == 0
    else:
        key.write_text(secret.read_text().splitlines()[1] + "\n")
    out = tmp_path / "out"
    if command == "pack":
        result = run("pack", tmp_path / "tree-p.pak", "--key", key, "-o", out, "--quiet")
    else:
        result = run("sign", settings, "--key", key, "--package", pak, "-o", out)
    assert result.returncode == code and said in result.stderr, result.stderr
    assert out.exists() == (code == 0)


# pack finds the main program the setup starts at the top of the folder only.
@pytest.mark.parametrize("files, options, code", [
    (["tessaryn.exe"], [], 0),
    (["TESSARYN.EXE"], [], 0),
    (["bin/tessaryn.exe"], [], 1),
    (["tessaryn.exe/x"], [], 1),
    (["other.exe"], [], 1),
    (["other.exe"], ["--allow-no-main"], 0),
    (["brightpad.exe"], ["--product", "Brightpad"], 0),
    (["tessaryn.exe"], ["--product", "Brightpad"], 1),
])
def test_pack_refuses_a_folder_without_the_main_program(tmp_path, keys, files, options, code):
    secret, _ = keys
    tree = tmp_path / "tree"
    for name in files:
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_bytes(b"MZ")
    out = tmp_path / "p.pak"
    result = run("pack", tree, "--key", secret, "-o", out, "--quiet", *options)
    assert result.returncode == code, result.stderr
    if code:
        product = "Brightpad" if "Brightpad" in options else "Tessaryn"
        assert f"has no main program {product.lower()}.exe of the product {product}" in result.stderr
        assert "--allow-no-main" in result.stderr and not out.exists()


def longest_mirror(length):
    base = "https://m.example/"
    return base + "a" * (length - len(base))


# Mirrors the setup would leave out are refused where they are signed.
@pytest.mark.parametrize("mirrors, said", [
    (["https://m.example/p.pak", "http://n.example/p.pak"], None),
    ([f"https://m{i}.example/p.pak" for i in range(8)], None),
    ([longest_mirror(2048)], None),
    ([longest_mirror(2049)], '"mirrors"[0] is no http or https address'),
    (["https://m.example/p.pak", "ftp://m.example/p.pak"], '"mirrors"[1] is no http or https'),
    (["https://m.example/a b.pak"], '"mirrors"[0]'),
    (["https://m.example/a\tb.pak"], '"mirrors"[0]'),
    (["file:///c:/p.pak"], '"mirrors"[0]'),
    ([42], '"mirrors"[0]'),
    ([f"https://m{i}.example/p.pak" for i in range(9)], "names 9 addresses; the setup uses only the first 8"),
    ("https://m.example/p.pak", '"mirrors" must be an array of addresses, found a string'),
])
def test_sign_refuses_mirrors_the_setup_would_ignore(tmp_path, keys, mirrors, said):
    secret, _ = keys
    settings, pak = signing_inputs(tmp_path, keys, {"prod": "Tessaryn", "ver": "1.2", "mirrors": mirrors})
    out = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", out)
    assert result.returncode == (1 if said else 0), result.stderr
    assert said is None or said in result.stderr
    assert out.exists() == (said is None)


SETUP_EXE = ROOT / "build/windows/app/TessarynSetup.exe"


# Settings for another product than the setup's are refused by sign, verify and offline, as the
# setup would refuse them; the product comes from --product or from the setup's own version
# information.
@pytest.mark.parametrize("prod, options, refused", [
    ("Tessaryn", ["--product", "Tessaryn"], False),
    ("Tessaryn", ["--product", "Brightpad"], True),
    ("tessaryn", ["--product", "Tessaryn"], True),
    ("Tessaryn", ["--setup", SETUP_EXE], False),
    ("Brightpad", ["--setup", SETUP_EXE], True),
])
def test_sign_and_verify_refuse_settings_for_another_product(tmp_path, keys, prod, options, refused):
    if "--setup" in options and not SETUP_EXE.exists():
        pytest.skip("needs the Windows build's setup program")
    secret, public = keys
    settings, pak = signing_inputs(tmp_path, keys, {"prod": prod, "ver": "1.2"})
    out = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", out, *options)
    said = f'"prod" is "{prod}", but the setup is built for the product'
    assert (result.returncode == 1) == refused and (said in result.stderr) == refused, result.stderr
    assert out.exists() != refused
    if not refused:
        checked = run("verify", out, "--public", public, *options)
        assert checked.returncode == 0, checked.stderr
        other = run("verify", out, "--public", public, "--product", "Brightpad")
        assert other.returncode == 1 and '"prod" is "Tessaryn", but the setup is built for the product' \
            in other.stderr


def test_offline_puts_the_files_beside_the_setup_under_the_names_it_looks_for(tmp_path, keys):
    if not SETUP_EXE.exists():
        pytest.skip("needs the Windows build's setup program")
    secret, _ = keys
    settings, pak = signing_inputs(tmp_path, keys)
    dat = tmp_path / "tessaryn.dat"
    assert run("sign", settings, "--key", secret, "--package", pak, "-o", dat).returncode == 0
    bundle = tmp_path / "usb"
    result = run("offline", SETUP_EXE, "--settings", dat, "--package", pak, "-o", bundle)
    assert result.returncode == 0, result.stderr
    assert sorted(p.name for p in bundle.iterdir()) == [
        "Tessaryn-setup.dat", "Tessaryn-setup.pak", "TessarynSetup.exe"]
    assert (bundle / "Tessaryn-setup.dat").read_bytes() == dat.read_bytes()
    assert (bundle / "Tessaryn-setup.pak").read_bytes() == pak.read_bytes()
    # Settings of another product would not be taken by this setup: nothing is written.
    settings.write_text(json.dumps({"prod": "Brightpad", "ver": "1.2"}))
    other_pak = packed_product(tmp_path, secret, main="brightpad.exe", name="b.pak")
    other = tmp_path / "brightpad.dat"
    assert run("sign", settings, "--key", secret, "--package", other_pak, "-o", other).returncode == 0
    refused = run("offline", SETUP_EXE, "--settings", other, "--package", other_pak, "-o", tmp_path / "x")
    assert refused.returncode == 1 and not (tmp_path / "x").exists(), refused.stderr
    assert '"prod" is "Brightpad", but the setup is built for the product "Tessaryn"' in refused.stderr
    # The bundle's files are the inputs of a second run into the same folder.
    again = run("offline", bundle / "TessarynSetup.exe", "--settings", dat, "--package", pak, "-o", bundle)
    assert again.returncode == 2 and "is the input" in again.stderr


# An invalid signature of settings says which of the two it is, from the key the settings name.
@pytest.mark.parametrize("case, said", [
    ("other key", "invalid signature: signed with another key (the settings name the key {signer}..., "
                  "--public is {given}...)\n"),
    ("changed", "invalid signature: changed after it was signed with this key\n"),
    ("no signer", ": invalid signature\n"),
])
def test_verify_tells_another_key_from_a_changed_file(tmp_path, keys, case, said):
    secret, public = keys
    settings, pak = signing_inputs(tmp_path, keys)
    dat = tmp_path / "s.dat"
    assert run("sign", settings, "--key", secret, "--package", pak, "-o", dat).returncode == 0
    given = public
    data = dat.read_bytes()
    if case == "other key":
        given = tmp_path / "o.pub"
        run("keygen", "--secret", tmp_path / "o.key", "--public", given)
    elif case == "changed":
        dat.write_bytes(data.replace(b'"1.2"', b'"9.9"'))
    else:
        dat.write_bytes(data.replace(b'"signer"', b'"signet"'))
    result = run("verify", dat, "--public", given)
    expected = said.format(signer=public.read_text()[:16], given=given.read_text()[:16])
    assert result.returncode == 1 and result.stderr.endswith(expected), result.stderr


# The manifests of a release: what would make a package manager install something else, or read
# a value as another type, is refused or quoted; nothing is written for a refused release.
@pytest.mark.parametrize("settings, options, code, said", [
    ({"publisher": 'Corvalis "Q" \\ Ltd', "ver": "1.10"}, [], 0, None),
    ({"publisher": "yes", "ver": "2.0"}, [], 0, None),
    ({"ver": "1.2"}, [], 1, 'no "publisher"'),
    ({"publisher": "P", "ver": "1.2/../3"}, [], 1, "cannot be asked for with /VERSION"),
    ({"publisher": "P", "prod": "Brightpad"}, [], 1, 'but the setup is built for the product'),
    ({"publisher": "P"}, ["--id", "Corvalis"], 2, "--id must be two to eight parts"),
    ({"publisher": "P"}, ["--id", "Corvalis.Tess aryn"], 2, "--id must be two to eight parts"),
    ({"publisher": "P"}, ["--url", "ftp://x/TessarynSetup.exe"], 2, "--url must be"),
])
def test_winget_quotes_every_value_and_refuses_what_would_mislead(tmp_path, keys, settings,
                                                                    options, code, said):
    if not SETUP_EXE.exists():
        pytest.skip("needs the Windows build's setup program")
    secret, _ = keys
    values = {"prod": "Tessaryn", "ver": "1.2", **settings}
    path = tmp_path / "settings.json"
    path.write_text(json.dumps(values))
    pak = packed_product(tmp_path, secret, version=values["ver"], main=values["prod"].lower() + ".exe")
    dat = tmp_path / "r.dat"
    signed = run("sign", path, "--key", secret, "--package", pak, "-o", dat, "--allow-unknown")
    assert signed.returncode == 0, signed.stderr
    given = {"--id": "Corvalis.Tessaryn", "--url": "https://dl.example/TessarynSetup.exe"}
    for option, value in zip(options[::2], options[1::2]):
        given[option] = value
    out = tmp_path / "m"
    result = run("winget", dat, "--setup", SETUP_EXE, *sum(given.items(), ()), "-o", out)
    assert result.returncode == code, result.stderr
    if said:
        assert said in result.stderr and not out.exists(), result.stderr
        return
    text = (out / "Corvalis.Tessaryn.locale.en-US.yaml").read_text("utf-8")
    assert "Publisher: " + json.dumps(values["publisher"]) + "\n" in text
    assert f'PackageVersion: "{values["ver"]}"\n' in text
    # The installed product is found by its uninstall record's name, publisher and version; the
    # codes a package manager is told of are the failures only, each once.
    installer = (out / "Corvalis.Tessaryn.installer.yaml").read_text("utf-8")
    entries = installer.split("AppsAndFeaturesEntries:\n", 1)[1].split("Installers:\n", 1)[0]
    assert "    Publisher: " + json.dumps(values["publisher"]) + "\n" in entries, installer
    codes = re.findall(r'InstallerReturnCode: (-?\d+)\n    ReturnResponse: "(\w+)"', installer)
    assert ("1", "cancelledByUser") in codes and ("1618", "installInProgress") in codes, codes
    assert "0" not in dict(codes) and len(dict(codes)) == len(codes), codes
