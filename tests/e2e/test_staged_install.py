"""Installs and upgrades that either complete or leave the old version as it was: a damaged
package, a file of the old version held open by another program, a setup killed mid-way."""

import os
import re
import shutil
import signal
import time
from datetime import datetime

import pytest

from conftest import (EXIT_FAILURE, FILES_IN_USE, MARKER_EXE, UNINSTALL_KEY, WindowDriver, make_product,
                      package_binding, sign_raw, sign_settings, tree_files, url_switch,
                      wait_until)
from test_install import assert_installed
from test_switches import log_lines

# An entry that lets Users (or Everyone, or the signed-in users) read and run.
USERS_READ = re.compile(r"\(A;[^;]*;(0x1200a9|FR|FX|GR|GX|FA|GA|0x1f01ff);;;(BU|WD|AU)\)")
LAST = "zz-last.bin"  # packed after every other entry (names are packed sorted)


def side_folders(machine):
    return sorted(p.name for p in machine.program_files.iterdir()
                  if p.name.lower().startswith(".tessaryn-"))


def damage_last_entry(product, folder):
    """Re-signs the package with an impossible LZMA properties byte in its last file, and the
    settings naming it: a release whose every check passes until that entry is decoded."""
    payload = bytearray(product.pak.read_bytes()[:-64])
    at = payload.rfind(LAST.encode()) + len(LAST)
    assert payload[at:at + 6] == b"\x61t\x61f\x61d"
    head = payload[at + 6]
    at += 7 + {0x58: 1, 0x59: 2, 0x5a: 4}.get(head, 0)
    payload[at] = 0xFF
    product.pak.write_bytes(sign_raw(bytes(payload), folder, "SETUPPAK"))
    settings = {k: v for k, v in product.settings.items() if k != "blocks"}
    product.dat.write_bytes(sign_settings(dict(settings, package=package_binding(product.pak)),
                                          folder))


def installed_state(machine):
    links = sorted(machine.start_menu.rglob("Tessaryn*")) + [machine.desktop / "Tessaryn.lnk"]
    return (tree_files(machine.install_dir),
            machine.registry_values(UNINSTALL_KEY + r"\Tessaryn"),
            {str(p): p.read_bytes() for p in links if p.is_file()})


def install_old(machine, host, tmp_path):
    old = make_product(tmp_path / "v1", "1.0", files={"old-only.txt": b"from 1.0"})
    machine.put_setup()
    host.publish(old)
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    return installed_state(machine)


def test_damaged_packages_leave_nothing_new(machine, host, tmp_path):
    # A fresh install: nothing stays in Program Files, and no record is made.
    before = set(machine.program_files.iterdir())
    broken = make_product(tmp_path / "b", "2.0", files={LAST: os.urandom(5000)})
    damage_last_entry(broken, tmp_path)
    host.publish(broken)
    setup = machine.put_setup()
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == EXIT_FAILURE
    assert set(machine.program_files.iterdir()) == before
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    assert sorted(host.events()) == [0, 3, 5]

    # An upgrade: version 1.0 stays exactly as it was and still uninstalls cleanly.
    old_state = install_old(machine, host, tmp_path)
    host.publish(broken)
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url))

    assert code == EXIT_FAILURE
    assert installed_state(machine) == old_state
    assert old_state[0]["old-only.txt"] == b"from 1.0" and old_state[1] and len(old_state[2]) == 3
    assert (machine.install_dir / "unins000.exe").read_bytes() == setup.read_bytes()
    assert side_folders(machine) == []
    events = host.events()
    assert sorted(events[6:]) == [0, 3, 5], events  # the old version was never touched (no 7)

    assert machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe") == 0
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    assert not (machine.desktop / "Tessaryn.lnk").exists()


def first_line(log, text):
    found = [i for i, line in enumerate(log) if text in line]
    assert found, f"no line with {text!r} in the log"
    return found[0]


@pytest.mark.parametrize("old_dat, old_post_runs", [("as installed", True),
                                                    ("its signature broken", False)])
def test_upgrade_moves_the_old_version_aside_before_removing_it(machine, host, tmp_path, old_dat,
                                                                old_post_runs):
    old = make_product(tmp_path / "v1", "1.0", settings={"post": [r"echo old %CD%>>C:\post.txt"]})
    setup = machine.put_setup()
    host.publish(old)
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    # An old uninstaller that leaves a mark when it runs: the upgrade never starts it.
    shutil.copyfile(MARKER_EXE, machine.install_dir / "unins000.exe")
    if old_dat != "as installed":
        dat = machine.install_dir / "unins000.dat"
        signed = bytearray(dat.read_bytes())
        signed[-1] ^= 0x01
        dat.write_bytes(bytes(signed))
    new = make_product(tmp_path / "v2", "2.0", settings={"post": [r"echo new %CD%>>C:\post.txt"]})
    host.publish(new)

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\up.txt") == 0
    assert_installed(machine, new, setup)
    assert not (machine.c / "marker-ran.txt").exists(), "the old uninstaller ran"
    assert side_folders(machine) == []
    # The new settings' post commands first, then the old version's own, both in its folder
    # moved aside; a file whose signature does not check names no command that runs.
    ran = (machine.c / "post.txt").read_text().splitlines()
    assert [line.split()[0] for line in ran] == (["new", "old"] if old_post_runs else ["new"])
    assert all(r"\.Tessaryn-backup-" in line for line in ran), ran
    log = log_lines(machine.c / "up.txt")
    assert any("Post commands of the previous version not run" in line
               for line in log) != old_post_runs
    # Nothing is lost before the last step that can fail: moved aside and held, new folder in
    # place, registered; only then the post commands and the removal.
    order = [first_line(log, text) for text in
             ("Previous version moved aside and held", "Moved into place", "Registered",
              r"echo new", "Previous version removed", "Shortcuts made")]
    assert order == sorted(order), log


@pytest.mark.parametrize("taken, upgrade", [("unins000.exe", True), ("unins000.dat", True),
                                            ("unins000.exe", False)])
def test_failure_after_the_move_aside_puts_the_old_version_back(machine, host, tmp_path, taken,
                                                                 upgrade):
    # The new package holds a folder under the name the uninstaller's file must take: its
    # writing fails once the old version has moved aside and the new one is in place.
    before = set(machine.program_files.iterdir())
    old_state = install_old(machine, host, tmp_path) if upgrade else None
    new = make_product(tmp_path / "v2", "2.0", files={f"{taken}/inside.txt": b"in the way"})
    host.publish(new)
    if not upgrade:
        machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\up.txt")

    assert code == EXIT_FAILURE
    if upgrade:
        assert installed_state(machine) == old_state
        assert side_folders(machine) == []
    else:  # a fresh install leaves nothing: no folder, no record
        assert set(machine.program_files.iterdir()) == before
        assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    events = host.events()
    assert sorted(events[3:] if upgrade else events) == [0, 3, 5], events
    log = log_lines(machine.c / "up.txt")
    if upgrade:
        first_line(log, "Previous version moved aside and held")
    message = log[first_line(log, "Message (Error): The uninstall")]
    assert ("The uninstaller could not be copied into" if taken.endswith(".exe")
            else "The uninstall information could not be written into") in message
    assert "Setup has undone its changes" in message
    assert not any(line == "Registered" for line in log)


def stamped_times(path):
    """The time of each line of a run's log, with its text."""
    return [(datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f"), line[25:])
            for line in path.read_bytes().decode("utf-8").split("\r\n") if line]


@pytest.mark.parametrize("mode, least, most", [
    # Shown: 3 s to read the failure in the window, then the run's events.
    ("/SILENT", 3.0, 30.0),
    # Hidden: nothing to look at, only the run's events (answered at once by the test host)
    # come between; the bound leaves room for a loaded machine, short of the 3 s.
    ("/VERYSILENT", 0.0, 2.8),
])
def test_a_failed_install_stays_in_sight_only_when_shown(machine, host, tmp_path, mode, least,
                                                         most):
    # A folder of the package holds the uninstaller's name: the failure comes after unpacking.
    host.publish(make_product(tmp_path / "p", files={"unins000.exe/inside.txt": b"in the way"}))
    machine.put_setup()

    code = machine.run_setup(mode, url_switch(host.base_url), r"/LOG=C:\failed.txt")

    assert code == EXIT_FAILURE
    log = stamped_times(machine.c / "failed.txt")
    failed = next(t for t, text in log if text.startswith("Message (Error): The uninstall"))
    ended = next(t for t, text in log if text == "Run ended")
    assert least <= (ended - failed).total_seconds() <= most, log[-6:]


def staging_once_unpacking(machine, setup):
    """The staging folder once the setup writes into it; None when the setup ended first."""
    for _ in range(2400):
        found = [p for p in machine.program_files.glob(".Tessaryn-staging-*") if (p / "data").exists()]
        if found or setup.poll() is not None:
            return found[0] if found else None
        time.sleep(0.05)
    return None


def test_staging_folder_grants_users_nothing_until_it_is_in_place(machine, host, tmp_path):
    big = make_product(tmp_path / "v1", "1.0", files={LAST: os.urandom(24_000_000)})
    host.publish(big)
    machine.put_setup()
    setup = machine.start_setup("/VERYSILENT", url_switch(host.base_url))
    staging = staging_once_unpacking(machine, setup)
    assert staging is not None, "the setup ended before it unpacked"
    # Read back through the system (Wine keeps no list, it answers from the Linux permissions it
    # set from the one given, and lets files made inside keep their own: the folder is asked).
    during = machine.read_access(staging)
    assert setup.wait(timeout=240) == 0
    machine.settle()
    after = machine.read_access(machine.install_dir)
    assert len(during) == 1 and during[0].startswith("D:") and not USERS_READ.search(during[0])
    assert len(after) == 1 and USERS_READ.search(after[0]), after


def test_upgrade_while_the_old_version_is_held_open(machine, host, tmp_path):
    old_state = install_old(machine, host, tmp_path)
    driver = WindowDriver(machine)  # started only now: it keeps the prefix from settling
    try:
        upgrade_beside_held_files(machine, host, tmp_path, driver, old_state)
    finally:
        driver.close()


def upgrade_beside_held_files(machine, host, tmp_path, driver, old_state):
    new = make_product(tmp_path / "v2", "2.0", files={"new-only.txt": b"from 2.0"})
    host.publish(new)

    # A folder held as a console holds its current folder cannot be moved: the upgrade gives up
    # before anything of the old version is touched (no event 7), and 1.0 stays whole.
    assert driver.ask(r"hold C:\Program Files\Tessaryn") == "ok"
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\held.txt",
                             settle=False)
    assert code == FILES_IN_USE
    assert installed_state(machine) == old_state
    assert side_folders(machine) == []
    assert wait_until(lambda: sorted(host.events()[3:]) == [0, 3, 5], timeout=10), host.events()
    lines = log_lines(machine.c / "held.txt")
    assert "Outcome: files in use, exit code 5" in lines
    message = [line for line in lines if "Message (Files in use)" in line]
    assert message and message[0].startswith(
        "Message (Files in use): Files of the installed version in C:\\Program Files\\Tessaryn "
        "are in use by another program"), message
    assert message[0].endswith("Close it, then run Setup again."), message
    assert driver.ask("release") == "ok"

    # A held file moves aside with its folder, and the upgrade completes.
    assert driver.ask(r"hold C:\Program Files\Tessaryn\old-only.txt") == "ok"
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), settle=False)

    assert code == 0
    setup = machine.downloads / "TessarynSetup.exe"
    assert_installed(machine, new, setup)
    assert not (machine.install_dir / "old-only.txt").exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")["DisplayVersion"] == ("REG_SZ", "2.0")
    # The old folder went aside; what the holder keeps is left for the restart or the next run.
    assert len(side_folders(machine)) == 1 and ".Tessaryn-backup-" in side_folders(machine)[0]
    pending = machine.registry_values(r"HKLM\System\CurrentControlSet\Control\Session Manager")
    assert "old-only.txt" in str(pending.get("PendingFileRenameOperations"))

    assert driver.ask("release") == "ok"
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url), settle=False) == 0
    assert side_folders(machine) == []
    assert_installed(machine, new, setup)


def test_setup_killed_while_unpacking(machine, host, tmp_path):
    old_state = install_old(machine, host, tmp_path)
    big = make_product(tmp_path / "v2", "2.0", files={LAST: os.urandom(24_000_000)})
    host.publish(big)

    setup = machine.start_setup("/VERYSILENT", url_switch(host.base_url))
    staging = staging_once_unpacking(machine, setup)
    os.kill(setup.pid, signal.SIGKILL)
    setup.wait(timeout=30)
    machine.settle()

    assert staging is not None, "the setup ended before it unpacked"
    assert not (staging / LAST).exists() or (staging / LAST).stat().st_size < 24_000_000
    assert installed_state(machine) == old_state
    assert staging.exists()

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    assert_installed(machine, big, machine.downloads / "TessarynSetup.exe")
    assert side_folders(machine) == []
