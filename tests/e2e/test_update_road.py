"""An update with the installed version in place fetches only the entries of the files that
changed, as byte ranges checked against the signed index, and falls back to the whole package
when a host cannot give them; the tree installed is the release's either way."""

import json
import os
import random
import shutil

import pytest

from conftest import NO_NETWORK, built_with, make_product, tree_files, url_switch

pytestmark = pytest.mark.skipif(not built_with("TESSARYN_UPDATE_ROAD"),
                                reason="the setup is built without the update road")

PAK = "/installers/tessaryn.pak"
# Incompressible, so that each kept entry is a gap of more than 64 KiB in the package and the
# changed entries around it take ranges of their own.
SAME = {f"data/same{i}.bin": random.Random(i).randbytes(80_000) for i in range(12)}


def index_of(product):
    settings = json.loads(product.dat.read_bytes()[:-64])
    return {row[0]: row for row in settings["index"]["files"]}


def install(machine, test_host, product, log="C:\\run.txt"):
    shutil.copyfile(product.dat, test_host.files / "tessaryn.dat")
    machine.put_setup()
    code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url), "/LOG=" + log)
    text = (machine.c / log[3:]).read_text(errors="replace")
    return code, text


def changed_entries(old, new):
    """The index rows of the new release whose files the old one does not hold as they are."""
    before = index_of(old)
    return [row for name, row in index_of(new).items()
            if name not in before or before[name][2] != row[2]]


MIRROR = "/mirror/tessaryn.pak"


def faults_for(fault, old, new, wanted):
    """The host's script for the first requests of the update (see RangeFile)."""
    size = new.pak.stat().st_size
    other = {"body": (old.pak.read_bytes() + bytes(size))[:size]}
    return {None: [], "flip": [{"flip": wanted[0][3] + wanted[0][4] // 2}],
            "cut": [{"cut": 1000}], "other": [other],
            "slow": [{"pace": 2000}],  # one 64 KiB step: the whole answer after 33 s
            # The first source serves the older release on every try; the mirror the right one.
            "mirror": [other] * 10}[fault]


def spans_of(asked: str) -> list:
    return asked[len("bytes="):].split(",")


@pytest.mark.parametrize("ranges, fault, ranged, said", [
    ("multi", None, True, "files fetched"),
    # One range of several in each answer: the next request asks for the rest only.
    ("first", None, True, "files fetched"),
    # The whole file for the ranges: its bytes up to the last entry wanted are used, once.
    ("none", None, False, "ignores byte ranges"),
    # ... and with a flipped byte that entry is asked again, the file read again up to it.
    ("none", "flip", False, "do not match the index"),
    ("multi", "flip", True, "do not match the index"),
    ("multi", "cut", True, "the body ends before its closing delimiter"),
    # Its bytes held back past a try's time for them (about 21 s), within the stall limit.
    ("multi", "slow", True, "past its time"),
    # A single range cut on the first try, whole on the retry.
    ("first", "cut", True, "cut off from"),
    # The older release's bytes at the same offsets, as a mirror holding it would serve them.
    ("multi", "other", True, "do not match the index"),
    # ... served by the first source: the ranges come from the mirror, not the whole package.
    ("multi", "mirror", True, "do not match the index from http"),
])
def test_an_update_fetches_only_the_changed_entries(machine, test_host, tmp_path, ranges,
                                                    fault, ranged, said):
    old = make_product(tmp_path / "old", "1.0", files=SAME)
    test_host.set_range_file(PAK, old.pak.read_bytes())
    assert install(machine, test_host, old)[0] == 0
    changed = dict(SAME, **{"data/same3.bin": b"changed" * 5000, "data/added.txt": b"new"})
    del changed["data/same7.bin"]
    mirrors = {"mirrors": [test_host.base_url + MIRROR]} if fault == "mirror" else None
    new = make_product(tmp_path / "new", "2.0", settings=mirrors, files=changed)
    (new.tree / "data" / "same7.bin").unlink(missing_ok=True)
    wanted = changed_entries(old, new)
    served = test_host.set_range_file(PAK, new.pak.read_bytes(), ranges,
                                      faults_for(fault, old, new, wanted))
    mirror = test_host.set_range_file(MIRROR, new.pak.read_bytes(), ranges)
    code, log = install(machine, test_host, new, "C:\\update.txt")
    assert code == 0, log[-3000:]
    assert tree_files(machine.install_dir / "data") == tree_files(new.tree / "data")
    assert said in log
    assert "Update: the whole package instead" not in log
    entry_bytes = sum(row[4] for row in wanted)
    if not ranged:
        once = new.pak.stat().st_size
        assert served.sent <= (2 * once if fault else once), (served.sent, served.served)
        return
    extra = entry_bytes if fault else 0  # one answer fetched again
    assert served.sent + mirror.sent <= 1.1 * (entry_bytes + extra) + 65536, \
        (served.sent, mirror.sent, entry_bytes)
    assert all(a.startswith("bytes=") for a in served.asked + mirror.asked)
    assert "," in served.asked[0], served.asked  # several ranges in one request
    if fault == "mirror":
        assert served.served == 1 and mirror.served == 1, (served.asked, mirror.asked)
        assert mirror.asked == served.asked
    if ranges == "first" and fault is None:
        first = spans_of(served.asked[0])
        assert [spans_of(a) for a in served.asked] == [first[i:] for i in range(len(first))]


def test_a_repair_fetches_only_the_damaged_files(machine, test_host, tmp_path):
    product = make_product(tmp_path / "p", "1.0", files=SAME)
    served = test_host.set_range_file(PAK, product.pak.read_bytes())
    assert install(machine, test_host, product)[0] == 0
    data = machine.install_dir / "data"
    sent = served.sent
    code, log = install(machine, test_host, product, "C:\\intact.txt")
    assert code == 0 and served.sent == sent, log[-2000:]
    assert "0 files fetched, 0 bytes" in log
    (data / "same1.bin").write_bytes(SAME["data/same1.bin"][:-1])  # truncated
    (data / "same2.bin").unlink()
    (data / "same4.bin").write_bytes(bytes(80_000))  # changed, same size
    # Intact, but with a second name outside the folder, through which it could change unseen.
    os.link(data / "same5.bin", machine.c / "same5-elsewhere.bin")
    code, log = install(machine, test_host, product, "C:\\repair.txt")
    assert code == 0, log[-2000:]
    assert "4 files fetched" in log
    assert tree_files(machine.install_dir / "data") == tree_files(product.tree / "data")


def test_an_update_that_fails_midway_keeps_the_old_version(machine, test_host, tmp_path):
    old = make_product(tmp_path / "old", "1.0", files=SAME)
    test_host.set_range_file(PAK, old.pak.read_bytes())
    assert install(machine, test_host, old)[0] == 0
    before = tree_files(machine.install_dir)
    new = make_product(tmp_path / "new", "2.0", files=dict(SAME, **{"data/same3.bin": b"x" * 5000}))
    # Every answer cut: the ranges twice, then the whole package on every try.
    test_host.set_range_file(PAK, new.pak.read_bytes(), "multi", [{"cut": 1000}] * 60)
    code, log = install(machine, test_host, new, "C:\\midway.txt")
    assert code == NO_NETWORK, log[-3000:]
    assert ("Update: the whole package instead, because the body ends before its closing "
            "delimiter, twice") in log
    assert tree_files(machine.install_dir) == before
