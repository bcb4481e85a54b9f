"""A program of the same user, without admin rights, against the elevated setup: the folders it
owns (its Temp, its Desktop, paths named in HKCU, links it makes) never steer what the setup
writes, runs or deletes. Links and swaps are made from the Linux side, which wins any race."""

import os
import re

import pytest

from conftest import EXIT_FAILURE, INVALID_DATA, make_product, url_switch, wait_until

LICENSE, CANCEL = "EulaWindowClass", 1005
IDYES = 6
ADMIN_ONLY = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
HEX32 = re.compile(r"[0-9a-f]{32}")


def work_folders(machine) -> set:
    """Random work folders wherever they are (the Windows Temp, or a user's)."""
    temps = [machine.c / "windows" / "temp", *(machine.c / "users").glob("*/Temp")]
    return {p for temp in temps for p in temp.iterdir() if HEX32.fullmatch(p.name)}


@pytest.mark.parametrize("road", ["installed", "download failed", "bad signature", "uninstalled"])
def test_work_folder_is_for_administrators_only_and_never_left(machine, host, product, road):
    machine.put_setup()
    host.publish(product)
    exe, expected = None, 0
    if road == "uninstalled":
        assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
        exe = machine.install_dir / "unins000.exe"
    elif road == "download failed":
        (host.files / "tessaryn.pak").unlink()
        expected = EXIT_FAILURE
    elif road == "bad signature":
        data = bytearray(product.pak.read_bytes())
        data[40] ^= 0x40
        (host.files / "tessaryn.pak").write_bytes(bytes(data))
        expected = INVALID_DATA
    before = work_folders(machine)

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\dl\run.txt",
                             exe=exe)

    assert code == expected
    log = (machine.downloads / "run.txt").read_text(encoding="utf-8")
    # Where the work files are and the access list they got (Wine does not enforce it, and reads
    # back an access list of its own making from the Linux permissions).
    assert re.search(r"Work files: C:\\windows\\Temp\\[0-9a-f]{32}\\setup\.dat", log, re.I), log
    assert f"Work folder access: {ADMIN_ONLY} (read back" in log
    assert work_folders(machine) == before, "a work folder was left behind"
    if road == "uninstalled":  # the clean-up script ran for real
        assert not machine.install_dir.exists()


def test_removal_never_follows_a_folder_swapped_for_a_link(machine, host, product, driver):
    """The work folder's removal at a declined license: a sub-folder being emptied is renamed
    and a link to the user's files put in its place."""
    machine.put_setup()
    host.publish(product)
    victim = machine.c / "victim"
    victim.mkdir()
    for number in range(3000):
        (victim / f"{number}.txt").write_bytes(b"precious")
    before = work_folders(machine)
    setup = machine.start_setup(url_switch(host.base_url))
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    (work,) = work_folders(machine) - before
    sub = work / "sub"
    sub.mkdir()
    for number in range(3000):
        (sub / f"{number}.txt").write_bytes(b"planted")

    driver.ask(f"click {LICENSE} {CANCEL}")
    assert driver.ask("waitbox Exit_Setup 20") == "ok"
    assert driver.ask(f"boxclick Exit_Setup {IDYES}") == "ok"

    def removal_began():
        try:
            return len(os.listdir(sub)) < 3000
        except FileNotFoundError:
            return True
    assert wait_until(removal_began, 60, 0.001)
    if sub.exists():
        os.rename(sub, work / "aside")
        os.symlink(victim, sub)
    assert setup.wait(timeout=60) == 1
    assert len(os.listdir(victim)) == 3000, "files deleted through the link"


def test_desktop_named_in_hkcu_is_never_written_or_deleted_in(machine, host, product):
    own = machine.c / "users" / "own desktop"
    own.mkdir(parents=True)
    (own / "Tessaryn.lnk").write_bytes(b"the user's own file")
    machine.wine("reg", "add",
                 r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders",
                 "/v", "Desktop", "/t", "REG_EXPAND_SZ", "/d", r"C:\users\own desktop", "/f",
                 check=True)
    machine.put_setup()
    host.publish(product)

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    link = machine.read_link(machine.desktop / "Tessaryn.lnk")
    assert link["path"].lower() == r"c:\program files\tessaryn\tessaryn.exe"
    assert machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe") == 0
    assert not (machine.desktop / "Tessaryn.lnk").exists()
    assert (own / "Tessaryn.lnk").read_bytes() == b"the user's own file"
    assert sorted(p.name for p in own.iterdir()) == ["Tessaryn.lnk"]


@pytest.mark.parametrize("name", ["existing.txt", "new.txt"])
def test_log_through_a_folder_link_is_not_written(machine, name):
    victim = machine.c / "victim"
    victim.mkdir()
    (victim / "existing.txt").write_bytes(b"precious")
    os.symlink(victim, machine.downloads / "linked")
    machine.put_setup()

    machine.run_setup("/VERYSILENT", "/URL:127.0.0.1:9", rf"/LOG=C:\dl\linked\{name}")

    assert (victim / "existing.txt").read_bytes() == b"precious"
    assert sorted(p.name for p in victim.iterdir()) == ["existing.txt"]
    # The same name without the link is written.
    os.unlink(machine.downloads / "linked")
    (machine.downloads / "linked").mkdir()
    machine.run_setup("/VERYSILENT", "/URL:127.0.0.1:9", rf"/LOG=C:\dl\linked\{name}")
    assert "Command line:" in (machine.downloads / "linked" / name).read_text(encoding="utf-8")


# What the user may put into their own environment, which an elevated process inherits.
USER_ENVIRONMENT = {"TEMP": r"C:\windows\system32", "TMP": r"C:\windows\system32",
                    "PATH": r"C:\dl", "ComSpec": r"C:\dl\cmd.exe", "TESSARYN_USER_MARK": "set"}
WORK_FOLDER = re.compile(r"c:\\windows\\temp\\[0-9a-f]{32}", re.I)


def stage_user_environment(machine):
    for name, value in USER_ENVIRONMENT.items():
        machine.wine("reg", "add", r"HKCU\Environment", "/v", name, "/t", "REG_SZ", "/d", value,
                     "/f", check=True)


def environment_dumps(path) -> list[dict]:
    """Each `set` listing in the file, as {upper-case name: value}."""
    dumps = []
    for line in path.read_text(encoding="latin-1").splitlines():
        name, _, value = line.partition("=")
        if not dumps or name.upper() in dumps[-1]:
            dumps.append({})
        dumps[-1][name.upper()] = value
    return dumps


@pytest.mark.parametrize("road,dumps", [("install", 1), ("upgrade", 3), ("uninstall", 1)])
def test_commands_see_only_the_machine_environment(machine, host, tmp_path, road, dumps):
    """init and post commands (of the setup, and of the old uninstaller an upgrade runs) get the
    machine's variables and a private TEMP, never what the user set for themselves. Each
    listing goes beside the install folder, where the folder's removal leaves it."""
    settings = {"init": [r'set>>"%CD%\..\env-dump.txt"'], "post": [r'set>>"%CD%\..\env-dump.txt"']}
    old = make_product(tmp_path / "v1", "1.0", settings=settings)
    new = make_product(tmp_path / "v2", "2.0", settings=settings)
    machine.put_setup()
    host.publish(old)
    if road != "install":
        assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
        (machine.program_files / "env-dump.txt").unlink()
    stage_user_environment(machine)
    host.publish(new)

    exe = machine.install_dir / "unins000.exe" if road == "uninstall" else None
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url), "/LOG", exe=exe) == 0

    found = environment_dumps(machine.program_files / "env-dump.txt")
    assert len(found) == dumps, found
    for env in found:
        assert "TESSARYN_USER_MARK" not in env
        for name in ("TEMP", "TMP"):
            assert WORK_FOLDER.fullmatch(env.get(name, "")), env
        assert env.get("COMSPEC", "").lower() == r"c:\windows\system32\cmd.exe", env
        assert r"c:\windows\system32" in env.get("PATH", "").lower().split(";"), env
        assert r"c:\dl" not in env["PATH"].lower().split(";"), env
        assert env.get("SYSTEMROOT", "").lower() == r"c:\windows", env
    # The default log is in the Windows folder's Temp, not where the user's TEMP points.
    assert list((machine.c / "windows" / "temp").glob("Tessaryn Setup Log*.txt"))
    assert not list((machine.c / "windows" / "system32").glob("Tessaryn Setup Log*"))
