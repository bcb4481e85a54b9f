"""What other programs of the user can reach while the elevated setup runs: its work folder,
its own file, names and addresses that end up in scripts and command lines, read-only media."""

import os
import shutil
import stat
import time

from conftest import (INVALID_DATA, PLANTED_EXE, PROBE_EXE, SETUP_EXE, make_product,
                      url_switch, wait_until)

IDOK = 1
LICENSE, ACCEPT, NEXT = "EulaWindowClass", 1002, 1004


def beside(machine, product):
    shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
    shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")


def temp_folder(machine):
    folders = [p for p in (machine.c / "users").glob("*/Temp") if p.parent.name != "Public"]
    folders += [p for p in (machine.c / "users").glob("*/AppData/Local/Temp")]
    assert folders, "no temporary folder in the prefix"
    return folders[0]


def test_work_folder_is_fresh_and_removed(machine, host, product):
    host.publish(product)
    machine.put_setup()
    temp = temp_folder(machine)
    # What another program put at the name the setup once used is neither used nor touched.
    (temp / "TessarynSetup").write_bytes(b"planted")
    before = sorted(p.name for p in temp.iterdir())

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    assert (machine.install_dir / "readme.txt").exists()
    assert sorted(p.name for p in temp.iterdir()) == before
    assert (temp / "TessarynSetup").read_bytes() == b"planted"

    # The uninstaller's work folder, with its clean-up script, goes too.
    assert machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe") == 0
    assert not machine.install_dir.exists()
    # (The product's own "post" command, which the user's TEMP never reaches, leaves none.)
    assert sorted(p.name for p in temp.iterdir()) == before


def test_uninstaller_is_the_file_that_was_started(machine, product):
    setup = machine.put_setup()
    beside(machine, product)
    run = machine.start_setup("/VERYSILENT")
    # Once unpacking has begun, another program renames the setup and puts its own in its place.
    assert wait_until(lambda: machine.install_dir.exists(), 120, 0.01)
    os.rename(setup, setup.with_name("renamed.exe"))
    shutil.copyfile(PROBE_EXE, setup)

    assert run.wait(timeout=240) == 0
    machine.settle()
    assert (machine.install_dir / "unins000.exe").read_bytes() == SETUP_EXE.read_bytes()


def test_setup_from_read_only_media(machine, product):
    setup = machine.put_setup()
    beside(machine, product)
    for path in (setup, machine.downloads / "Tessaryn-setup.dat",
                 machine.downloads / "Tessaryn-setup.pak"):
        path.chmod(0o444)

    assert machine.run_setup("/VERYSILENT") == 0
    for name in ("unins000.exe", "unins000.dat"):
        assert (machine.install_dir / name).stat().st_mode & stat.S_IWUSR, f"{name} is read-only"
    assert machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe") == 0
    assert not machine.install_dir.exists()


def test_url_value_never_runs_as_a_command(machine, tmp_path):
    machine.put_setup()
    beside(machine, make_product(tmp_path / "v1", "1.0"))
    assert machine.run_setup("/VERYSILENT") == 0
    shutil.copyfile(PLANTED_EXE, machine.downloads / "planted.exe")
    beside(machine, make_product(tmp_path / "v2", "2.0"))

    # On an upgrade too, the address is only ever used as an address.
    code = machine.run_setup("/VERYSILENT", "/URL:http://127.0.0.1:9/x&C:\\dl\\planted.exe")

    assert code == 0
    assert (machine.install_dir / "readme.txt").read_text() == "Tessaryn 2.0\n"
    assert not (machine.c / "planted-ran.txt").exists()


def test_invalid_package_box_stays_until_answered(machine, product, driver):
    machine.put_setup()
    beside(machine, product)
    pak = machine.downloads / "Tessaryn-setup.pak"
    data = bytearray(pak.read_bytes())
    data[40] ^= 0x40
    pak.write_bytes(bytes(data))

    setup = machine.start_setup()
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    driver.ask(f"click {LICENSE} {ACCEPT}")
    driver.ask(f"click {LICENSE} {NEXT}")
    assert driver.ask("waitbox Invalid_data_signature 30") == "ok"
    time.sleep(2)
    assert driver.ask("waitbox Invalid_data_signature 1") == "ok", "the box closed by itself"
    assert setup.poll() is None
    assert driver.ask(f"boxclick Invalid_data_signature {IDOK}") == "ok"
    assert setup.wait(timeout=60) == INVALID_DATA
