"""A release of a product named other than Tessaryn, from a setup built with
-DTESSARYN_PRODUCT_NAME=Brightpad: packed and signed for that setup, served by the reference host
or bundled for a machine without network, installed under its own name throughout."""
import json
import shutil

import pytest

from conftest import (DEV_KEY, OWN_PRODUCT_SETUP_EXE, PROBE_EXE, UNINSTALL_KEY, publish,
                      url_switch)


def brightpad_release(folder):
    tree = folder / "tree"
    tree.mkdir(parents=True)
    shutil.copyfile(PROBE_EXE, tree / "brightpad.exe")
    (tree / "readme.txt").write_text("Brightpad 1.0\n")
    settings = folder / "settings.json"
    settings.write_text(json.dumps({"prod": "Brightpad", "ver": "1.0", "desk": True,
                                    "www": "https://brightpad.example/", "metric": True}))
    key = DEV_KEY / "tessaryn.key"
    pak, dat = folder / "brightpad.pak", folder / "brightpad.dat"
    publish("pack", tree, "--key", key, "-o", pak, "--version", "1.0", "--product", "Brightpad")
    # The product the settings must name is read from the setup program itself.
    publish("sign", settings, "--key", key, "--package", pak, "-o", dat,
            "--setup", OWN_PRODUCT_SETUP_EXE)
    return dat, pak


@pytest.mark.parametrize("source", ["host", "offline"])
def test_an_own_product_installs_under_its_own_name(machine, host, tmp_path, source):
    assert OWN_PRODUCT_SETUP_EXE.exists(), f"{OWN_PRODUCT_SETUP_EXE} is missing: see scripts/test"
    dat, pak = brightpad_release(tmp_path / "release")
    if source == "host":
        shutil.copyfile(dat, host.files / "brightpad.dat")
        shutil.copyfile(pak, host.files / "brightpad.pak")
        shutil.copyfile(OWN_PRODUCT_SETUP_EXE, machine.downloads / "TessarynSetup.exe")
    else:
        host.stop()
        publish("offline", OWN_PRODUCT_SETUP_EXE, "--settings", dat, "--package", pak,
                "-o", machine.downloads)
    log = machine.downloads / "log.txt"

    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url),
                             "/LOG=" + machine.windows_path(log)) == 0, log.read_text("utf-8")

    install = machine.program_files / "Brightpad"
    assert (install / "readme.txt").read_text() == "Brightpad 1.0\n"
    assert (install / "launched.txt").exists(), "brightpad.exe was not started"
    assert not (machine.program_files / "Tessaryn").exists()
    record = machine.registry_values(UNINSTALL_KEY + r"\Brightpad")
    assert record["DisplayName"] == ("REG_SZ", "Brightpad")
    assert record["DisplayIcon"] == ("REG_SZ", r"C:\Program Files\Brightpad\brightpad.exe")
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    desktop = machine.read_link(machine.desktop / "Brightpad.lnk")
    assert desktop["path"].lower() == r"c:\program files\brightpad\brightpad.exe"
    entry = machine.read_link(machine.start_menu / "Brightpad" / "Brightpad.lnk")
    assert entry["path"].lower() == r"c:\program files\brightpad\brightpad.exe"
    assert "Brightpad setup log" in log.read_text("utf-8")
    if source == "host":
        requests = host.log.read_text("utf-8", "replace")
        assert "/installers/brightpad.dat" in requests and "/installers/brightpad.pak" in requests
        assert host.events() and all(r["product"] == "Brightpad" for r in host.event_rows())
