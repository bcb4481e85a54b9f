"""The one-command demo (scripts/demo): install, upgrade and uninstall in a state folder of the
test's own, its printed summary checked against the prefix, the registry and the host's database
as the test reads them itself."""

import os
import re
import sqlite3
import subprocess

import pytest

from conftest import (NATIVE_BUILD, ROOT, UNINSTALL_KEY, WINDOWS_BUILD, Machine, tree_files,
                      wine_env)

DEMO = ROOT / "scripts" / "demo"
PRODUCT_EXE = WINDOWS_BUILD / "demo" / "tessaryn.exe"


@pytest.fixture
def demo_dir(built, template_prefix, tmp_path):
    assert PRODUCT_EXE.exists(), f"{PRODUCT_EXE} is missing: build the windows preset"
    state = tmp_path / "demo"
    state.mkdir()
    # A copy of the session's fresh prefix spares the demo making its own.
    subprocess.run(["cp", "-a", str(template_prefix), str(state / "wineprefix")], check=True)
    yield state
    subprocess.run(["wineserver", "-k"], env=wine_env(state / "wineprefix"), capture_output=True)


def run_demo(state, *args, timeout=420) -> subprocess.CompletedProcess:
    env = dict(os.environ, TESSARYN_DEMO_DIR=str(state), TESSARYN_NATIVE_BUILD=str(NATIVE_BUILD),
               TESSARYN_WINDOWS_BUILD=str(WINDOWS_BUILD))
    env.pop("WINEPREFIX", None)
    return subprocess.run([str(DEMO), "--no-build", *args], env=env, capture_output=True,
                          text=True, timeout=timeout)


def sections(output: str) -> dict:
    """The summary's sections: heading (after "-- ") to its indented lines."""
    found, current = {}, None
    for line in output.splitlines():
        if line.startswith("-- "):
            current = line[3:]
            found[current] = []
        elif current is not None and line.startswith("   "):
            found[current].append(line.strip())
        else:
            current = None
    return found


def section(found: dict, heading_start: str) -> list:
    matches = [lines for heading, lines in found.items() if heading.startswith(heading_start)]
    assert len(matches) == 1, f"no section {heading_start!r} in {list(found)}"
    return matches[0]


def db_rows(state, since_id: int) -> list:
    with sqlite3.connect(state / "host" / "events.sqlite3") as db:
        return db.execute("SELECT id, time, event, product FROM events WHERE id > ? ORDER BY id",
                          (since_id,)).fetchall()


def check_events_against_db(found, state, since_id) -> list:
    """The printed events are exactly the database's new rows; returns their codes."""
    rows = db_rows(state, since_id)
    printed = []
    for line in section(found, "Events recorded in this run"):
        match = re.fullmatch(r"(\S+Z)\s+(\d+)\s+(.+?)\s{2,}(\S+)", line)
        assert match, f"unreadable event line {line!r}"
        printed.append((match[1], int(match[2]), match[4]))
    assert printed == [(time, code, product) for _, time, code, product in rows]
    assert rows, "no events were recorded"
    return [code for _, _, code, _ in rows]


def check_funnel_against_db(found, state):
    with sqlite3.connect(state / "host" / "events.sqlite3") as db:
        counts = dict(db.execute("SELECT event, COUNT(*) FROM events GROUP BY event").fetchall())
    lines = section(found, "Funnel")
    expected = f"tessaryn: started {counts.get(5, 0)}, completed {counts.get(9, 0)}"
    assert any(line.startswith(expected) for line in lines), (expected, lines)


def check_installed(result, state, version):
    assert result.returncode == 0, result.stdout + result.stderr
    machine = Machine(state / "wineprefix")
    found = sections(result.stdout)

    # Every file listed with its size, and nothing else: as the prefix really holds them.
    listed = {}
    for line in section(found, "Installed files"):
        size, name = line.split(None, 1)
        if not name.startswith("total in "):
            listed[name] = int(size)
    on_disk = {name: len(data) for name, data in tree_files(machine.install_dir).items()}
    assert listed == on_disk
    packed = tree_files(state / "tree")
    for name, data in packed.items():
        assert (machine.install_dir / name).read_bytes() == data, f"{name} is not the packed file"
    assert (machine.install_dir / "version.txt").read_text().strip() == version
    assert {"unins000.exe", "unins000.dat", "first-run.txt"} <= set(on_disk)

    # The record as the test reads it, and as the summary printed it.
    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    assert values is not None, "no uninstall record in the registry"
    assert values["DisplayVersion"] == ("REG_SZ", version)
    printed = {}
    for line in section(found, "Uninstall record"):
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            printed[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    assert printed == values
    assert "Tessaryn" in machine.uninstaller_list()
    assert any("Tessaryn" in line for line in section(found, "Installed programs"))

    links = section(found, "Shortcuts")
    assert len(links) == 3 and all(line.startswith("present  ") for line in links), links
    for line in links:
        path = line.split(None, 1)[1]
        assert (machine.c / path[3:].replace("\\", "/")).is_file(), path

    assert section(found, "Product started") == [f'window "Tessaryn {version}"']
    check_funnel_against_db(found, state)
    return found, machine


def test_demo_installs_upgrades_and_uninstalls(demo_dir):
    state = demo_dir

    first = run_demo(state)
    found, machine = check_installed(first, state, "1.0")
    assert "install of version 1.0" in first.stdout
    assert sorted(check_events_against_db(found, state, 0)) == [0, 5, 9]
    # "init" ran in the install folder; the product was closed by the demo, not left running.
    assert (machine.install_dir / "first-run.txt").read_text().startswith("Prepared by the setup")
    first_ids = [row[0] for row in db_rows(state, 0)]

    second = run_demo(state)
    found, machine = check_installed(second, state, "1.1")
    assert "upgrade from 1.0 to 1.1" in second.stdout
    codes = check_events_against_db(found, state, max(first_ids))
    assert {0, 5, 7, 9} <= set(codes) <= {0, 5, 7, 8, 9}, codes
    upgrade_ids = [row[0] for row in db_rows(state, 0)]

    third = run_demo(state, "--uninstall")
    assert third.returncode == 0, third.stdout + third.stderr
    found = sections(third.stdout)
    assert section(found, "Installed files") == ["(folder absent)"]
    assert not machine.install_dir.exists()
    assert section(found, "Uninstall record") == ["(no record)"]
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    assert "Tessaryn" not in machine.uninstaller_list()
    links = section(found, "Shortcuts")
    assert len(links) == 3 and all(line.startswith("absent ") for line in links), links
    assert not (machine.start_menu / "Tessaryn").exists()
    assert not (machine.desktop / "Tessaryn.lnk").exists()
    assert check_events_against_db(found, state, max(upgrade_ids)) == [8]


def test_demo_refuses_what_it_cannot_do(demo_dir):
    nothing_installed = run_demo(demo_dir, "--uninstall", timeout=120)
    assert nothing_installed.returncode != 0
    assert "Tessaryn is not installed" in nothing_installed.stderr

    unknown = run_demo(demo_dir, "--fast", timeout=30)
    assert unknown.returncode == 2 and "unknown option --fast" in unknown.stderr

    missing_build = subprocess.run(
        [str(DEMO), "--no-build"], capture_output=True, text=True, timeout=30,
        env=dict(os.environ, TESSARYN_DEMO_DIR=str(demo_dir),
                 TESSARYN_WINDOWS_BUILD=str(demo_dir / "no-such-build")))
    assert missing_build.returncode != 0
    assert "TessarynSetup.exe is missing" in missing_build.stderr

    # A Windows build configured with a publisher's own key: the demo's files would be refused.
    own_build = demo_dir / "own-key-build"
    own_build.mkdir()
    (demo_dir / "own.pub").write_text("ab" * 32 + "\n")
    (own_build / "CMakeCache.txt").write_text(f"TESSARYN_PUBLIC_KEY_FILE:FILEPATH={demo_dir / 'own.pub'}\n")
    own_key = subprocess.run(
        [str(DEMO), "--no-build"], capture_output=True, text=True, timeout=30,
        env=dict(os.environ, TESSARYN_DEMO_DIR=str(demo_dir), TESSARYN_WINDOWS_BUILD=str(own_build)))
    assert own_key.returncode != 0
    assert f"is built with the key {demo_dir / 'own.pub'} for the product Tessaryn" in own_key.stderr
    assert "a build folder of its own" in own_key.stderr

    helped = subprocess.run([str(DEMO), "--help"], capture_output=True, text=True, timeout=30)
    assert helped.returncode == 0 and "--uninstall" in helped.stdout
