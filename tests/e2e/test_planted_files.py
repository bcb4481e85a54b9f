"""Files another program of the user plants beside the setup: libraries named like the ones it
uses, and a command processor. None of them may be loaded or started by the elevated setup.
Nor may a signed file's stand-in beside it fill the system's disk."""

import shutil
import subprocess
import time

import pytest

from conftest import INVALID_DATA, PLANTED_DLL, PLANTED_EXE, SETUP_EXE, url_switch

# Known system libraries: Windows maps them from the system folder whatever lies beside the program.
SYSTEM_ONLY = {"ntdll.dll", "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
               "shell32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll"}
PLANTED_LIBRARIES = ["dwmapi.dll", "UxTheme.dll", "Msftedit.dll", "WININET.dll", "comctl32.dll"]
LICENSE, ACCEPT, NEXT = "EulaWindowClass", 1002, 1004


def test_import_table_names_only_system_libraries():
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(SETUP_EXE)],
                          capture_output=True, text=True, check=True).stdout
    imported = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines()
                if line.strip().startswith("DLL Name:")}
    assert "kernel32.dll" in imported
    assert imported <= SYSTEM_ONLY, imported - SYSTEM_ONLY


def plant(machine, *folders):
    for folder in folders:
        folder.mkdir(parents=True, exist_ok=True)
        for name in PLANTED_LIBRARIES:
            shutil.copyfile(PLANTED_DLL, folder / name)
        shutil.copyfile(PLANTED_EXE, folder / "cmd.exe")
    return machine.c / "planted-ran.txt"


def test_silent_run_uses_no_planted_file(machine, host, product):
    host.publish(product)
    machine.put_setup()
    # The install folder is where "post" and "init" commands run.
    marker = plant(machine, machine.downloads, machine.install_dir)

    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url))

    ran = marker.read_text("utf-16-le") if marker.exists() else ""
    assert ran == ""
    assert code == 0
    assert (machine.install_dir / "init-ran.txt").read_text().strip() == "init"
    assert (machine.program_files / "post-ran.txt").exists(), "post commands did not run"


def test_interactive_run_uses_no_planted_library(machine, host, product, driver):
    host.publish(product)
    machine.put_setup()
    marker = plant(machine, machine.downloads)

    setup = machine.start_setup(url_switch(host.base_url))
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    driver.ask(f"click {LICENSE} {ACCEPT}")
    driver.ask(f"click {LICENSE} {NEXT}")

    assert setup.wait(timeout=240) == 0
    assert not marker.exists(), marker.read_text("utf-16-le")
    assert (machine.install_dir / "launched.txt").exists()


def test_a_huge_settings_file_beside_the_setup_is_copied_no_further_than_its_limit(machine, host,
                                                                                  product):
    host.publish(product)
    machine.put_setup()
    # A gigabyte made at once (sparse): copied whole, it would land under the Windows folder.
    with open(machine.downloads / "Tessaryn-setup.dat", "wb") as planted:
        planted.truncate(1 << 30)
    temp = machine.c / "windows" / "temp"
    largest_copy = 0
    run = machine.start_setup("/VERYSILENT", url_switch(host.base_url), r"/LOG=C:\huge.txt")
    deadline = time.monotonic() + 240
    while run.poll() is None and time.monotonic() < deadline:
        for copy in temp.glob("*/setup.dat"):
            try:
                largest_copy = max(largest_copy, copy.stat().st_size)
            except OSError:
                pass
        time.sleep(0.01)
    code = run.wait(timeout=10)

    assert code == INVALID_DATA
    assert largest_copy <= 16 * 1024 * 1024 + 1, largest_copy
    log = (machine.c / "huge.txt").read_text(encoding="utf-8", errors="replace")
    assert "Copied no further than byte 16777217 of " in log, log
    assert "Signature check SETUP100" in log and ": INVALID" in log, log
