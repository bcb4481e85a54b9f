"""The file index sign writes into the settings, read back with Python's own LZMA decoder, and
the indexes sign and verify refuse."""
import hashlib
import json
import lzma
import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from test_publish import keys, make_tree, run, sign_package, tool_built  # noqa: E402,F401
from cbor_bytes import cbor, cbor_head  # noqa: E402


def signed_release(tmp_path, secret):
    tree = tmp_path / "tree"
    make_tree(tree)
    (tree / "tessaryn.exe").write_bytes(os.urandom(3000))
    pak = tmp_path / "p.pak"
    packed = run("pack", tree, "--key", secret, "-o", pak, "--version", "1.0", "--quiet")
    assert packed.returncode == 0, packed.stderr
    settings = tmp_path / "s.json"
    settings.write_text(json.dumps({"prod": "Tessaryn", "ver": "1.0"}))
    dat = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", dat)
    assert result.returncode == 0, result.stderr
    return tree, pak, dat, result


def test_sign_writes_an_index_that_an_independent_reader_confirms(tmp_path, keys):
    secret, public = keys
    tree, pak, dat, result = signed_release(tmp_path, secret)
    index = json.loads(dat.read_bytes()[:-64])["index"]
    data = pak.read_bytes()
    files = {p.relative_to(tree).as_posix(): p for p in tree.rglob("*") if p.is_file()}
    folders = {p.relative_to(tree).as_posix() for p in tree.rglob("*") if p.is_dir()}
    assert set(index["folders"]) == folders
    assert sorted(row[0] for row in index["files"]) == sorted(files)
    end = 0
    for name, size, digest, offset, length, bytes_digest in index["files"]:
        assert offset >= end and offset + length <= len(data) - 64, name
        end = offset + length
        item = data[offset:offset + length]
        assert hashlib.sha256(item).hexdigest() == bytes_digest, name
        plain = lzma.decompress(item, format=lzma.FORMAT_ALONE)
        assert plain == files[name].read_bytes(), name
        assert (size, digest) == (len(plain), hashlib.sha256(plain).hexdigest()), name
    assert f"index: {len(files)} files" in result.stdout
    for command in (("inspect", dat, "--public", public), ("verify", dat, "--public", public,
                                                            "--package", pak)):
        shown = run(*command)
        assert shown.returncode == 0 and f"index: {len(files)} files" in shown.stdout, shown.stderr
    summary = json.loads(run("inspect", dat, "--json").stdout)["index"]
    assert summary == {"files": len(files), "folders": len(folders),
                       "unpackedBytes": sum(p.stat().st_size for p in files.values()),
                       "packageBytes": sum(row[4] for row in index["files"])}


def edited(index, case):
    rows = index["files"]
    if case == "a file's hash changed":
        rows[0][2] = "0" * 64
    elif case == "a file's size changed":
        rows[0][1] += 1
    elif case == "a span moved":
        rows[0][3] += 1
    elif case == "a file left out":
        rows.pop()
    elif case == "a row cut short":
        rows[0].pop()
    return index


# An index the settings carry is the package's own or refused, by sign and by verify alike.
@pytest.mark.parametrize("case, said", [
    ("unchanged", None),
    ("a file's hash changed", "\"index\" disagrees with the package: file "),
    ("a file's size changed", "\"index\" disagrees with the package: file "),
    ("a span moved", "\"index\" disagrees with the package: file "),
    ("a file left out", "of the package is not in the index"),
    ("a row cut short", "\"index\" is malformed"),
])
def test_a_carried_index_must_be_the_packages_own(tmp_path, keys, case, said):
    secret, public = keys
    _, pak, dat, _ = signed_release(tmp_path, secret)
    settings = json.loads(dat.read_bytes()[:-64])
    settings["index"] = edited(settings["index"], case)
    again = tmp_path / "again.json"
    again.write_text(json.dumps(settings))
    resigned = run("sign", again, "--key", secret, "--package", pak, "-o", tmp_path / "again.dat")
    forged = tmp_path / "forged.dat"
    sign_package(json.dumps(settings).encode(), secret, forged, context="SETUP100")
    verified = run("verify", forged, "--public", public, "--package", pak)
    if said is None:
        assert resigned.returncode == 0, resigned.stderr
        assert verified.returncode == 0, verified.stderr
        written = json.loads((tmp_path / "again.dat").read_bytes()[:-64])["index"]
        assert written == settings["index"]
        return
    assert resigned.returncode == 1 and said in resigned.stderr, resigned.stderr
    assert not (tmp_path / "again.dat").exists()
    assert verified.returncode == 1 and said in verified.stderr, verified.stderr


def test_a_package_of_chunked_items_is_signed_without_an_index(tmp_path, keys):
    secret, public = keys
    item = lzma.compress(b"main program", format=lzma.FORMAT_ALONE)
    chunked = b"\x5f" + cbor(item[:10]) + cbor(item[10:]) + b"\xff"
    entry = cbor_head(5, 3) + cbor("n") + cbor("tessaryn.exe") + cbor("t") + cbor("f") + cbor("d")
    payload = (cbor_head(5, 2) + cbor("version") + cbor("1.0") + cbor("files") + cbor_head(4, 1) +
               entry + chunked)
    pak = tmp_path / "p.pak"
    sign_package(payload, secret, pak)
    settings = tmp_path / "s.json"
    settings.write_text(json.dumps({"prod": "Tessaryn", "ver": "1.0"}))
    dat = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", dat)
    assert result.returncode == 0, result.stderr
    assert "no index: the data of file tessaryn.exe lies in 2 pieces" in result.stdout
    assert "index" not in json.loads(dat.read_bytes()[:-64])
    shown = run("verify", dat, "--public", public, "--package", pak)
    assert shown.returncode == 0 and "index: none" in shown.stdout, shown.stderr


def test_a_package_whose_item_does_not_decode_is_not_signed(tmp_path, keys):
    secret, _ = keys
    item = lzma.compress(b"main program", format=lzma.FORMAT_ALONE)
    # The header (properties and size) stays, the coded bytes are zeros: one span, no file.
    broken = item[:13] + bytes(len(item) - 13)
    entry = cbor_head(5, 3) + cbor("n") + cbor("tessaryn.exe") + cbor("t") + cbor("f") + cbor("d")
    payload = (cbor_head(5, 2) + cbor("version") + cbor("1.0") + cbor("files") + cbor_head(4, 1) +
               entry + cbor(broken))
    pak = tmp_path / "p.pak"
    sign_package(payload, secret, pak)
    settings = tmp_path / "s.json"
    settings.write_text(json.dumps({"prod": "Tessaryn", "ver": "1.0"}))
    dat = tmp_path / "s.dat"
    result = run("sign", settings, "--key", secret, "--package", pak, "-o", dat)
    assert result.returncode == 1 and "file tessaryn.exe does not decode" in result.stderr, \
        result.stderr
    assert not dat.exists()
