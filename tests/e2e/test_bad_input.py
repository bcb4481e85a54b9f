"""Untrusted, missing and broken files: the exit code, nothing installed, the events sent."""

import hashlib
import json
import shutil

import pytest

from cbor_bytes import cbor
from conftest import (EXIT_FAILURE, INVALID_DATA, NO_NETWORK, Answer, make_product, sign_raw,
                      url_switch)
from test_install import assert_installed
from test_switches import log_lines


def flip(path, offset):
    data = bytearray(path.read_bytes())
    data[offset] ^= 0x40
    path.write_bytes(bytes(data))


def nothing_installed(machine):
    left = list(machine.program_files.iterdir()) if machine.program_files.exists() else []
    return not machine.install_dir.exists() and not any(p.name == "Tessaryn" for p in left)


def metric_codes(test_host):
    return sorted(json.loads(r["body"])["event"] for r in test_host.requests()
                  if r["path"] == "/installers/metrics")


@pytest.mark.parametrize("which,offset", [("dat", 5), ("dat", -1), ("pak", 40), ("pak", -30)])
def test_tampered_files_are_refused(machine, host, product, which, offset):
    target = product.dat if which == "dat" else product.pak
    flip(target, offset if offset >= 0 else target.stat().st_size + offset)
    host.publish(product)
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url))

    assert code == INVALID_DATA
    assert nothing_installed(machine)
    # Events are switched on only by a trusted information file.
    assert sorted(host.events()) == ([] if which == "dat" else [0, 2, 5])


def test_package_with_a_changed_block_leaves_the_earlier_version(machine, host, tmp_path):
    old = make_product(tmp_path / "v1", "1.0")
    setup = machine.put_setup()
    host.publish(old)
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    new = make_product(tmp_path / "v2", "2.0", files={"new-only.txt": b"from 2.0"})
    # The host serves a copy with one byte changed in the third block of 64 KiB.
    host.publish(new)
    flip(host.files / "tessaryn.pak", 2 * 65536 + 1234)
    events_before = len(host.events())

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\up.txt")

    assert code == INVALID_DATA
    assert_installed(machine, old, setup)
    assert not (machine.install_dir / "new-only.txt").exists()
    assert sorted(host.events()[events_before:]) == [0, 2, 5]
    log = "\n".join(log_lines(machine.c / "up.txt"))
    assert "INVALID (block 2 of " in log, log


@pytest.mark.parametrize("missing", ["tessaryn.dat", "tessaryn.pak"])
def test_missing_file_on_the_host(machine, test_host, product, missing):
    shutil.copyfile(product.dat, test_host.files / "tessaryn.dat")
    shutil.copyfile(product.pak, test_host.files / "tessaryn.pak")
    (test_host.files / missing).unlink()
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url))

    assert code == EXIT_FAILURE
    assert nothing_installed(machine)
    assert metric_codes(test_host) == ([] if missing.endswith(".dat") else [0, 4, 5])


def test_host_that_cuts_the_package(machine, test_host, product):
    shutil.copyfile(product.dat, test_host.files / "tessaryn.dat")
    body = product.pak.read_bytes()
    test_host.set_answer("/installers/tessaryn.pak", Answer(body=body, cut_after=len(body) // 2))
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url))

    assert code == NO_NETWORK
    assert nothing_installed(machine)
    assert metric_codes(test_host) == [0, 4, 5]


@pytest.mark.parametrize("prod", [None, "", ".", "..", "a/b", "x:y", "Tess*ryn"])
def test_information_file_without_usable_product_name(machine, test_host, tmp_path, prod, product):
    settings = {"ver": "1.0", "metric": True}
    if prod is not None:
        settings["prod"] = prod
    signed = sign_raw(json.dumps(settings).encode(), tmp_path, "SETUP100")
    (test_host.files / "tessaryn.dat").write_bytes(signed)
    shutil.copyfile(product.pak, test_host.files / "tessaryn.pak")
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url))

    assert code == INVALID_DATA
    assert nothing_installed(machine)
    assert not (machine.program_files / "unins000.exe").exists()
    gets = [r["path"] for r in test_host.requests() if r["method"] == "GET"]
    assert gets == ["/installers/tessaryn.dat"], "the package must not be fetched"


def test_package_whose_files_cannot_be_unpacked(machine, test_host, tmp_path, product):
    # A correctly signed package whose only file holds a 12-byte compressed item.
    bundle = cbor({"version": "1.0", "files": [
        {"n": "broken.bin", "t": "f", "d": b"\x5d" + b"\x00" * 11}]})
    pak = sign_raw(bundle, tmp_path, "SETUPPAK")
    (test_host.files / "tessaryn.pak").write_bytes(pak)
    # Settings that name this package (the tool refuses one without the main program).
    settings = dict(product.settings, package={"size": len(pak),
                                               "sha256": hashlib.sha256(pak).hexdigest()},
                    blocks={"size": 65536, "sha256": [hashlib.sha256(pak).hexdigest()]})
    (test_host.files / "tessaryn.dat").write_bytes(
        sign_raw(json.dumps(settings).encode(), tmp_path, "SETUP100"))
    machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url))

    # The error is reported (event 3), the run fails, and nothing of it stays.
    assert code == EXIT_FAILURE
    assert nothing_installed(machine)
    assert not [p for p in machine.program_files.iterdir() if "tessaryn" in p.name.lower()]
    assert 3 in metric_codes(test_host) and 9 not in metric_codes(test_host)


