"""The installed uninstaller: silent removal, the kept desktop link, a missing information file."""

import pytest

from conftest import UNINSTALL_KEY, make_product, url_switch


def install(machine, host, product):
    host.publish(product)
    machine.put_setup()
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    assert (machine.install_dir / "unins000.exe").exists()


@pytest.mark.parametrize("link_held, said", [
    (False, ["Outcome: uninstall completed, exit code 0"]),
    # A read-only link is not deleted: the run still completes, and names what it left.
    (True, ["Shortcut not removed: C:\\users\\Public\\Desktop\\Tessaryn.lnk",
            "Outcome: uninstall completed, exit code 0"]),
], ids=["all removed", "link left"])
def test_silent_uninstall_removes_everything(machine, host, product, link_held, said):
    install(machine, host, product)
    uninstaller = machine.install_dir / "unins000.exe"
    link = machine.desktop / "Tessaryn.lnk"
    if link_held:
        link.chmod(0o444)
    log = machine.downloads / "uninstall.txt"

    code = machine.run_setup("/VERYSILENT", "/LOG=" + machine.windows_path(log), exe=uninstaller)

    assert code == 0
    text = log.read_text("utf-8")
    for line in said:
        assert line in text, text[-3000:]
    assert not machine.install_dir.exists()
    assert link.exists() == link_held
    assert not (machine.start_menu / "Tessaryn").exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    assert "Tessaryn|||" not in machine.uninstaller_list()


def test_uninstall_keeps_desktop_link_when_desk_is_false(machine, host, tmp_path):
    product = make_product(tmp_path / "p", settings={"desk": False})
    install(machine, host, product)
    assert not (machine.desktop / "Tessaryn.lnk").exists()
    # A link of the same name that the user made himself stays.
    own_link = machine.desktop / "Tessaryn.lnk"
    own_link.parent.mkdir(parents=True, exist_ok=True)
    own_link.write_bytes(b"user's own link")

    code = machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe")

    assert code == 0
    assert own_link.read_bytes() == b"user's own link"
    assert not machine.install_dir.exists()


@pytest.mark.parametrize("recorded, code, said", [
    # The log writes a line feed as \n.
    (True, 255, "Message (Error): Error uninstalling.\\nTessaryn is installed, but its setup "
                "information file unins000.dat is missing"),
    (False, 0, "Message (Uninstall): Tessaryn is not installed: there is nothing to remove."),
])
def test_uninstaller_without_its_information_file_changes_nothing(machine, host, product,
                                                                   recorded, code, said):
    install(machine, host, product)
    (machine.install_dir / "unins000.dat").unlink()
    if not recorded:
        machine.wine("reg", "delete", UNINSTALL_KEY + r"\Tessaryn", "/f", check=True)
    log = machine.downloads / "uninstall.txt"

    assert machine.run_setup("/VERYSILENT", "/LOG=" + machine.windows_path(log),
                             exe=machine.install_dir / "unins000.exe") == code

    assert said in log.read_text("utf-8")
    assert (machine.install_dir / "readme.txt").exists()
    assert (machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is not None) == recorded


def test_uninstaller_with_tampered_information_file_fails(machine, host, product):
    install(machine, host, product)
    dat = machine.install_dir / "unins000.dat"
    data = bytearray(dat.read_bytes())
    data[3] ^= 0x01
    dat.write_bytes(bytes(data))

    code = machine.run_setup("/VERYSILENT", exe=machine.install_dir / "unins000.exe")

    assert code == 7  # invalid data
    assert (machine.install_dir / "readme.txt").exists()
