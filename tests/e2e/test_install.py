"""Silent installs served by a web host, from files beside the setup, and upgrades."""

import json
import os
import shutil
import threading
import time

from conftest import (UNINSTALL_KEY, Answer, ReferenceHost, make_product, tree_files, url_switch,
                      wait_until)


def assert_installed(machine, product, setup_exe):
    install = machine.install_dir
    installed = tree_files(install)
    for name, content in tree_files(product.tree).items():
        assert installed.get(name) == content, f"{name} differs from the packed file"
    assert (install / "data").is_dir()
    assert (install / "unins000.exe").read_bytes() == setup_exe.read_bytes()
    assert (install / "unins000.dat").read_bytes() == product.dat.read_bytes()


def test_silent_install_from_the_web_host(machine, host, product):
    host.publish(product)
    setup = machine.put_setup()

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url))

    assert code == 0
    assert_installed(machine, product, setup)
    install = machine.install_dir
    # "init" ran in the install folder; the product was started there.
    assert (install / "init-ran.txt").read_text().strip() == "init"
    assert (install / "launched.txt").exists()

    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    assert values is not None, "no uninstall record"
    assert values["DisplayName"] == ("REG_SZ", "Tessaryn")
    assert values["UninstallString"] == ("REG_SZ", r'"C:\Program Files\Tessaryn\unins000.exe"')
    assert values["DisplayVersion"] == ("REG_SZ", "1.0")
    assert values["URLInfoAbout"] == ("REG_SZ", "https://tessaryn.example/")
    assert values["DisplayIcon"] == ("REG_SZ", r"C:\Program Files\Tessaryn\tessaryn.exe")
    assert values["NoRepair"][0] == "REG_DWORD" and int(values["NoRepair"][1], 0) == 1
    assert values["NoModify"][0] == "REG_DWORD" and int(values["NoModify"][1], 0) == 1
    assert len(values["InstallDate"][1]) == 8 and values["InstallDate"][1].isdigit()
    assert "Publisher" not in values
    assert "Tessaryn|||" in machine.uninstaller_list()

    desktop = machine.read_link(machine.desktop / "Tessaryn.lnk")
    assert desktop["path"].lower() == r"c:\program files\tessaryn\tessaryn.exe"
    assert desktop["workdir"].lower().rstrip("\\") == r"c:\program files\tessaryn"
    menu = machine.start_menu / "Tessaryn"
    entry = machine.read_link(menu / "Tessaryn.lnk")
    assert entry["path"].lower() == r"c:\program files\tessaryn\tessaryn.exe"
    assert (menu / "Tessaryn on the Web.url").read_bytes() == (
        b"[InternetShortcut]\r\nURL=https://tessaryn.example/\r\n")

    events = host.events()
    assert sorted(events) == [0, 5, 9], events
    assert events[-1] == 9
    rows = host.event_rows()
    assert all(r["product"] == "Tessaryn" and r["uuid"].startswith("anon-") for r in rows)
    assert all(r["user_agent"].startswith("Setup/1.1 (Windows ") for r in rows)


def test_events_the_host_refuses_are_sent_once_and_leave_the_install_alone(machine, tmp_path, product):
    # One event per machine a day: the install's later events get 429.
    host = ReferenceHost(tmp_path / "limited", ["--uuid-limit", "1"])
    try:
        host.publish(product)
        machine.put_setup()
        assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
        assert (machine.install_dir / "readme.txt").read_text() == "Tessaryn 1.0\n"
        # Sent in the background, in no fixed order: whichever came first is the one stored.
        assert len(host.events()) == 1 and host.events()[0] in (0, 5, 9)
    finally:
        host.stop()
    posts = [line for line in host.log.read_text().splitlines() if '"POST /installers/metrics"' in line]
    statuses = sorted(line.split('"POST /installers/metrics" ')[1].split()[0] for line in posts)
    assert statuses == ["200", "429", "429"], posts


def test_files_beside_the_setup_are_used_without_download(machine, test_host, product):
    machine.put_setup()
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")

    # Switches are read in any case; an updater run reports itself (10) once events are on.
    code = machine.run_setup("/verysilent", "/Updater", url_switch(test_host.base_url))

    assert code == 0
    assert (machine.install_dir / "readme.txt").read_text() == "Tessaryn 1.0\n"
    # The host is asked once whether it has a newer release; it has none (404): no package.
    gets = [r["path"] for r in test_host.requests() if r["method"] == "GET"]
    assert gets == ["/installers/tessaryn.dat"]
    events = [r for r in test_host.requests() if r["path"] == "/installers/metrics"]
    codes = sorted(json.loads(r["body"])["event"] for r in events)
    assert codes == [1, 5, 9, 10]


def test_upgrade_replaces_the_old_version(machine, host, tmp_path):
    old = make_product(tmp_path / "v1", "1.0", files={"old-only.txt": b"from 1.0"})
    new = make_product(tmp_path / "v2", "2.0", files={"new-only.txt": b"from 2.0"})
    setup = machine.put_setup()
    host.publish(old)
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    assert (machine.install_dir / "old-only.txt").exists()

    host.publish(new)
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url))

    assert code == 0
    # The "post" commands ran, the new settings' and then the old ones, both in the old folder
    # as it was moved aside, and that folder was removed.
    ran = (machine.program_files / "post-ran.txt").read_text().splitlines()
    assert len(ran) == 2, ran
    assert all(line.startswith(r"post C:\Program Files\.Tessaryn-backup") for line in ran), ran
    assert not (machine.install_dir / "old-only.txt").exists()
    assert_installed(machine, new, setup)
    assert (machine.install_dir / "new-only.txt").read_bytes() == b"from 2.0"
    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    assert values["DisplayVersion"] == ("REG_SZ", "2.0")
    # First install 0,5,9; the upgrade adds 0,5,7, 8 for the old version's removal, and 9 last.
    events = host.events()
    assert sorted(events[3:]) == [0, 5, 7, 8, 9] and events[-1] == 9, events


def test_host_asking_to_end_during_unpacking_ends_the_run_after_the_install(machine, test_host,
                                                                            tmp_path):
    bulk = {f"bulk/f{i:04}.bin": os.urandom(256) for i in range(6000)}
    product = make_product(tmp_path / "product", files=bulk)
    setup = machine.put_setup()
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")
    # The answers to the events of the package check and of the start are held back until the
    # package has checked and files are being written (into the staging folder beside the
    # install folder): the step under way is then the unpacking alone.
    gate = threading.Event()
    test_host.set_answer("/installers/metrics", Answer(body=b'{"action":1}', gate=gate))
    process = machine.start_setup("/VERYSILENT", url_switch(test_host.base_url), r"/LOG=C:\end.txt")
    log = machine.c / "end.txt"

    def unpacking():
        return [f for d in machine.program_files.glob(".Tessaryn-staging-*")
                for f in (d / "bulk").glob("*")] if machine.program_files.is_dir() else []

    def checked():  # the package checked, its file index too
        return log.exists() and "File index: " in log.read_text(errors="replace")
    assert wait_until(lambda: checked() and unpacking(), timeout=120, interval=0.02)
    written = len(unpacking())
    gate.set()
    code = process.wait(timeout=240)

    assert written < len(bulk), "unpacking ended before the answer: nothing was tested"
    # The step under way was finished and the install completed: files, uninstaller, record.
    assert_installed(machine, product, setup)
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is not None
    assert code == 0


def test_many_small_files_install_in_bounded_time(machine, host, tmp_path):
    # A guard against unpacking that waits on the window for every file (once ~50 files a
    # second): 2,000 small files and a silent run must end well within 20 s.
    files = {f"many/{i // 100:02}/file{i:04}.txt": f"file {i}\n".encode() for i in range(2000)}
    product = make_product(tmp_path / "many", files=files)
    host.publish(product)
    setup = machine.put_setup()
    machine.wine("cmd", "/c", "exit")  # Wine's own start-up is not the setup's time

    start = time.monotonic()
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url), settle=False)
    elapsed = time.monotonic() - start

    assert code == 0
    assert_installed(machine, product, setup)
    assert elapsed < 20, f"the silent install of 2,000 files took {elapsed:.1f} s"
