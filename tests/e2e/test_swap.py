"""The checked bytes are the used bytes: files swapped in the work folder from outside (as by
another program of the user that wins every race) after their check are never used."""

import os
import shutil

import pytest

from conftest import DEV_KEY, EXIT_FAILURE, publish, tree_files, url_switch, wait_until

LICENSE = "EulaWindowClass"
PROGRESS = "ProgressWindowClass"
ACCEPT, NEXT = 1002, 1004


def work_copy(machine, name):
    """The setup's own copy of a file, wherever its work folder is (never the download folder)."""
    for path in machine.c.rglob(name):
        if machine.downloads not in path.parents:
            return path
    return None


def swap(path, content: bytes):
    """Replaces the file under its name, as a Linux program can while Windows ones are locked out."""
    fresh = path.with_name(path.name + ".new")
    fresh.write_bytes(content)
    os.replace(fresh, path)


@pytest.mark.parametrize("source", ["beside the setup", "downloaded"])
def test_files_swapped_after_their_check_are_never_used(machine, test_host, product, driver,
                                                        source):
    setup = machine.put_setup()
    if source == "downloaded":
        shutil.copyfile(product.dat, test_host.files / "tessaryn.dat")
        shutil.copyfile(product.pak, test_host.files / "tessaryn.pak")
    else:
        shutil.copyfile(product.dat, machine.downloads / "Tessaryn-setup.dat")
        shutil.copyfile(product.pak, machine.downloads / "Tessaryn-setup.pak")
    # Unsigned stand-ins: settings naming another product and a bare bundle with a planted file.
    evil_settings = b'{"prod": "Tessaryn", "ver": "6.6", "eula": "x", "init": ["echo evil>evil.txt"]}'
    evil_tree = machine.downloads.parent / "evil-tree"
    (evil_tree / "data").mkdir(parents=True)
    (evil_tree / "planted.txt").write_bytes(b"never signed")
    evil_pak = machine.downloads.parent / "evil.pak"
    publish("pack", evil_tree, "--key", DEV_KEY / "tessaryn.key", "-o", evil_pak, "--version", "6.6",
            "--allow-no-main")
    bare_bundle = evil_pak.read_bytes()[:-64]

    run = machine.start_setup(url_switch(test_host.base_url))
    # The license shows after the settings were checked and read.
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    dat = work_copy(machine, "setup.dat")
    assert dat is not None, "no work copy of the settings"
    swap(dat, evil_settings)
    driver.ask(f"click {LICENSE} {ACCEPT}")
    driver.ask(f"click {LICENSE} {NEXT}")
    # A progress window ("Preparing to install...") shows before the package is fetched: a
    # package beside the setup is swapped about when it is checked, a downloaded one while it
    # arrives.
    assert driver.ask(f"wait {PROGRESS} 60") == "ok"
    pak = dat.parent / "setup.pak"
    assert wait_until(pak.exists, timeout=60, interval=0.02), "no work copy of the package"
    swap(pak, bare_bundle)
    code = run.wait(timeout=240)

    install = machine.install_dir
    assert not (install / "planted.txt").exists()
    assert not (install / "evil.txt").exists()
    assert code in (0, EXIT_FAILURE), code
    if code == 0:
        installed = tree_files(install)
        for name, content in tree_files(product.tree).items():
            assert installed.get(name) == content, f"{name} differs from the signed file"
        assert (install / "unins000.exe").read_bytes() == setup.read_bytes()
        assert (install / "unins000.dat").read_bytes() == product.dat.read_bytes()
