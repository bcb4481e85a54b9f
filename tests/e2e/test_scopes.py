"""The user's own install beside the machine's: where each writes, and which one a run picks."""

import pytest

from conftest import UNINSTALL_KEY, make_product, tree_files, url_switch

USER_UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# Post commands that stay in their own folder: the user's install must leave Program Files alone.
OWN_FOLDER = {"post": ["echo post>>post-ran.txt"]}


def user_home(machine):
    return machine.user_desktop.parent


def user_install_dir(machine):
    return user_home(machine) / "AppData" / "Local" / "Programs" / "Tessaryn"


def user_start_menu(machine):
    return user_home(machine) / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs"


def windows_temp(machine):
    return {p.name for p in (machine.c / "windows" / "temp").iterdir()}


def test_a_users_own_install_its_upgrade_and_uninstall_stay_in_the_users_folders(
        machine, host, tmp_path):
    host.publish(make_product(tmp_path / "v1", "1.0", OWN_FOLDER))
    setup = machine.put_setup()
    temp_before = windows_temp(machine)
    log = machine.c / "scope.txt"

    assert machine.run_setup("/VERYSILENT", "/CURRENTUSER", url_switch(host.base_url),
                             rf"/LOG={machine.windows_path(log)}") == 0
    folder = user_install_dir(machine)
    windows_folder = machine.windows_path(folder)
    assert tree_files(folder)["readme.txt"] == b"Tessaryn 1.0\n"
    assert (folder / "unins000.exe").read_bytes() == setup.read_bytes()
    values = machine.registry_values(USER_UNINSTALL_KEY + r"\Tessaryn")
    assert values is not None, "no record in HKCU"
    assert values["DisplayName"] == ("REG_SZ", "Tessaryn")
    assert values["DisplayVersion"] == ("REG_SZ", "1.0")
    assert values["InstallLocation"] == ("REG_SZ", windows_folder)
    assert values["UninstallString"] == ("REG_SZ", f'"{windows_folder}\\unins000.exe"')
    assert values["QuietUninstallString"] == ("REG_SZ", f'"{windows_folder}\\unins000.exe" /VERYSILENT')
    assert values["DisplayIcon"] == ("REG_SZ", f"{windows_folder}\\tessaryn.exe")
    assert int(values["NoModify"][1], 0) == 1 and int(values["EstimatedSize"][1], 0) > 0
    entry = machine.read_link(user_start_menu(machine) / "Tessaryn" / "Tessaryn.lnk")
    assert entry["path"].lower() == f"{windows_folder}\\tessaryn.exe".lower()
    desktop = machine.read_link(machine.user_desktop / "Tessaryn.lnk")
    assert desktop["path"].lower() == f"{windows_folder}\\tessaryn.exe".lower()
    # Nothing of the machine's: no folder, no record, no shortcut, nothing left in its Temp.
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    assert not (machine.start_menu / "Tessaryn").exists()
    assert not (machine.desktop / "Tessaryn.lnk").exists()
    assert windows_temp(machine) == temp_before
    # Wine gives every process a full token, so the run is on the user's road elevated.
    assert "Mode: install, per-user (elevated)" in log.read_text("utf-8")

    # Without a switch the installed copy keeps its scope.
    host.publish(make_product(tmp_path / "v2", "2.0", OWN_FOLDER))
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    assert (folder / "readme.txt").read_text() == "Tessaryn 2.0\n"
    assert machine.registry_values(USER_UNINSTALL_KEY + r"\Tessaryn")["DisplayVersion"] == ("REG_SZ", "2.0")
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url), exe=folder / "unins000.exe") == 0
    assert not folder.exists()
    assert machine.registry_values(USER_UNINSTALL_KEY + r"\Tessaryn") is None
    assert not (user_start_menu(machine) / "Tessaryn").exists()
    assert not (machine.user_desktop / "Tessaryn.lnk").exists()
    assert windows_temp(machine) == temp_before


def stage_record(machine, key):
    machine.wine("reg", "add", key + r"\Tessaryn", "/v", "DisplayVersion", "/t", "REG_SZ",
                 "/d", "1.0", "/f", check=True)


def version_in(machine, key):
    values = machine.registry_values(key + r"\Tessaryn")
    return values["DisplayVersion"][1] if values else None


# Installed beforehand (records of 1.0) x switch -> where 2.0 goes ("user", "machine") or the
# exit code when neither is changed.
SCOPE_TABLE = [
    ("nothing", "", "machine"), ("nothing", "/CURRENTUSER", "user"), ("nothing", "/ALLUSERS", "machine"),
    ("user", "", "user"), ("user", "/CURRENTUSER", "user"), ("user", "/ALLUSERS", "machine"),
    ("machine", "", "machine"), ("machine", "/CURRENTUSER", "user"), ("machine", "/ALLUSERS", "machine"),
    ("both", "", 8), ("both", "/CURRENTUSER", "user"), ("both", "/ALLUSERS", "machine"),
]


def test_the_scope_each_run_takes(machine, host, tmp_path):
    host.publish(make_product(tmp_path / "v2", "2.0", OWN_FOLDER))
    machine.put_setup()
    keys = {"user": USER_UNINSTALL_KEY, "machine": UNINSTALL_KEY}
    failures = []
    for number, (installed, switch, expected) in enumerate(SCOPE_TABLE):
        for key in keys.values():
            machine.wine("reg", "delete", key + r"\Tessaryn", "/f")
        for scope in ("user", "machine") if installed == "both" else (installed,):
            if scope in keys:
                stage_record(machine, keys[scope])
        log = machine.c / f"matrix{number}.txt"
        args = ["/VERYSILENT", url_switch(host.base_url), rf"/LOG={machine.windows_path(log)}"]
        code = machine.run_setup(*args, *([switch] if switch else []))
        text = log.read_text("utf-8")
        found = {scope: version_in(machine, key) for scope, key in keys.items()}
        before = {s: "1.0" if installed in (s, "both") else None for s in keys}
        if isinstance(expected, int):
            wanted = (expected, before)
        else:
            wanted = (0, {**before, expected: "2.0"})
        if (code, found) != wanted:
            failures.append(f"{installed} {switch or '(none)'}: {code} {found}, wanted {wanted}")
        # A run for the machine never looks at the user's record.
        if switch == "/ALLUSERS" and "installed for the user: no" not in text:
            failures.append(f"{installed} /ALLUSERS read the user's record")
        if expected == 8 and not ("Programs\\Tessaryn" in text and "Program Files\\Tessaryn" in text):
            failures.append("the message of two installs does not name both folders")
    assert not failures, "\n".join(failures)


def test_every_event_names_the_scope_that_ran(machine, test_host, product):
    import json
    import shutil
    machine.put_setup()
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")
    seen = 0
    for switch, scope in (("/ALLUSERS", "machine"), ("/CURRENTUSER", "user")):
        assert machine.run_setup("/VERYSILENT", switch, url_switch(test_host.base_url)) == 0
        events = [json.loads(r["body"]) for r in test_host.requests()
                  if r["path"] == "/installers/metrics"][seen:]
        seen += len(events)
        assert events and {e.get("scope") for e in events} == {scope}, (switch, events)
