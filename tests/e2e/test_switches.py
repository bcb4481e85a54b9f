"""What administrators use: "/?", the run log of "/LOG", and the full uninstall record."""

import datetime
import math
import os
import re
import shutil

import pytest

from conftest import (NO_NETWORK, PROBE_EXE, UNINSTALL_KEY, WindowDriver, make_product,
                      url_switch)

IDOK = 1
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  ")


def log_folder(machine):
    """Where /LOG without a name writes: the Windows folder's Temp."""
    return machine.c / "windows" / "temp"


def log_lines(path):
    text = path.read_bytes().decode("utf-8")  # strict: the log is UTF-8
    lines = text.split("\r\n")
    assert lines[-1] == "", "the log ends with a whole line"
    assert all(STAMP.match(line) for line in lines[:-1]), text
    return [line[25:] for line in lines[:-1]]


def test_help_shows_switches_and_exit_codes_and_does_nothing_else(machine, test_host, driver):
    setup = machine.put_setup()
    # Silent: the text goes to the standard output only, no box.
    result = machine.wine(machine.windows_path(setup), "/VERYSILENT", "-?", "/LOG",
                          url_switch(test_host.base_url))
    assert result.returncode == 0
    printed = result.stdout.decode("utf-8")
    for part in ("/VERYSILENT", "/UPDATER", "/URL:host", "/LOG=\"file\"", "/?",
                 "\r\n0\t", "\r\n1\t", "\r\n-1\t"):
        assert part in printed, part

    # Interactive: the same text in a box; OK ends the run with 0.
    process = machine.start_setup("/help", url_switch(test_host.base_url))
    assert driver.ask("waitbox Tessaryn_Setup 60") == "ok"
    shown = driver.ask("boxtext Tessaryn_Setup")
    assert shown.replace("\\n", "\r\n") == printed
    assert driver.ask(f"boxclick Tessaryn_Setup {IDOK}") == "ok"
    assert process.wait(timeout=60) == 0

    assert test_host.requests() == [], "help fetched or reported something"
    temp = log_folder(machine)
    assert not (temp / "TessarynSetup").exists(), "help made a work folder"
    assert not list(temp.glob("Tessaryn Setup Log*")), "help wrote a log"


def test_log_and_record_of_a_silent_install_and_its_uninstall(machine, host, tmp_path):
    product = make_product(tmp_path / "p", settings={
        "publisher": "Corvalis Ltd", "help": "https://tessaryn.example/help"})
    host.publish(product)
    machine.put_setup()
    logs = machine.c / "Admin Logs é"
    logs.mkdir()

    # A name with spaces: Wine quotes the whole argument, as PowerShell does. The switch in
    # lower case is part of a first day.
    code = machine.run_setup("/VERYSILENT", url_switch(host.base_url).replace("/URL:", "/url:"),
                             r"/LOG=C:\Admin Logs é\setup run.txt")

    assert code == 0
    lines = log_lines(logs / "setup run.txt")
    text = "\n".join(lines)
    base = host.base_url
    for expected in (
            "Command line: ", "System: Windows ",
            "Mode: install, per-machine, very silent",
            f"Setup information address: {base}/installers/tessaryn.dat",
            f"Package address: {base}/installers/tessaryn.pak",
            f"Events address: {base}/installers/metrics",
            "Signature check SETUP100 of ", "Signature check SETUPPAK of ",
            r"Install folder: C:\Program Files\Tessaryn" + "\\",
            "Command ended with exit code 0: echo init>init-ran.txt",
            "Event 9 sent; answer: ",
            # Phase ends that scripts/bench-install times.
            "Staging folder made", "Uninstaller copied\n", "Run ended\nExit code 0"):
        assert expected in text, expected
    assert [line for line in lines if line.startswith("Signature check")] == [
        line for line in lines if line.startswith("Signature check") and line.endswith(": valid")]
    for name in ("tessaryn.dat", "tessaryn.pak"):
        size = (host.files / name).stat().st_size
        assert re.search(rf"GET {re.escape(base)}/installers/{name}: HTTP 200, {size} bytes "
                         r"from byte 0 in \d+\.\d+ s", text), name
    unpacked = [line for line in lines if line.startswith("Unpacked: ")]
    tree = [p for p in product.tree.rglob("*") if p.is_file()]
    assert unpacked == [f"Unpacked: {len(tree)} files, {sum(p.stat().st_size for p in tree)} bytes"]
    assert "  data\\nested\\values.bin (300000 bytes)" in lines
    assert "  unins000.exe (" in text
    assert lines[-1] == "Exit code 0"

    # The record, as the "Installed apps" page and package managers read it.
    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    exe = r"C:\Program Files\Tessaryn\unins000.exe"
    assert values["UninstallString"] == ("REG_SZ", f'"{exe}"')
    assert values["QuietUninstallString"] == ("REG_SZ", f'"{exe}" /VERYSILENT')
    assert values["InstallLocation"] == ("REG_SZ", r"C:\Program Files\Tessaryn")
    assert values["Publisher"] == ("REG_SZ", "Corvalis Ltd")
    assert values["HelpLink"] == ("REG_SZ", "https://tessaryn.example/help")
    # Counted when the record was written: after the uninstaller and its information file,
    # before the product wrote its start marker.
    counted = [p for p in machine.install_dir.rglob("*")
               if p.is_file() and p.name != "launched.txt"]
    assert values["EstimatedSize"][0] == "REG_DWORD"
    assert int(values["EstimatedSize"][1], 0) == math.ceil(
        sum(p.stat().st_size for p in counted) / 1024)

    # The quiet command as Windows starts it: a program planted at "C:\Program.exe" is where an
    # unquoted path with spaces would lead.
    shutil.copyfile(PROBE_EXE, machine.c / "Program.exe")
    quiet = values["QuietUninstallString"][1] + r" /LOG=C:\uninstall.txt"
    driver = WindowDriver(machine)  # started now: settling waits for every process of the prefix
    try:
        assert driver.ask("run " + quiet) == "0"
    finally:
        driver.close()
    machine.settle()
    assert not (machine.c / "launched.txt").exists(), "C:\\Program.exe was started"
    assert not machine.install_dir.exists()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn") is None
    lines = log_lines(machine.c / "uninstall.txt")
    assert "Mode: uninstall, per-machine, very silent" in lines
    assert "Signature check SETUP100 of " in "\n".join(lines)
    assert lines[-1].startswith("Exit code 0 (a clean-up script removes C:\\Program Files\\")


def test_record_without_publisher_and_help_has_neither(machine, host, product):
    host.publish(product)
    machine.put_setup()
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0
    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    assert "Publisher" not in values and "HelpLink" not in values
    assert not list(log_folder(machine).glob("Tessaryn Setup Log*")), "a log without /LOG"


def test_log_files_are_never_reused_or_followed(machine):
    """The default name is new every run; a planted link or hard link is never written through."""
    machine.put_setup()
    temp = log_folder(machine)
    today = datetime.date.today().isoformat()
    earlier = temp / f"Tessaryn Setup Log {today} #001.txt"
    earlier.write_bytes(b"an earlier run")
    victim = machine.c / "victim.txt"
    victim.write_bytes(b"not the setup's to write")
    os.symlink(victim, temp / f"Tessaryn Setup Log {today} #002.txt")
    (machine.c / "logs").mkdir()
    os.link(victim, machine.c / "logs" / "named.txt")
    failing = url_switch("http://127.0.0.1:9")  # nothing listens: the download fails

    assert machine.run_setup("/VERYSILENT", failing, "/LOG") == NO_NETWORK
    assert machine.run_setup("/VERYSILENT", failing, r"/LOG=C:\logs\named.txt") == NO_NETWORK

    if datetime.date.today().isoformat() != today:
        pytest.skip("the date changed during the run")
    assert earlier.read_bytes() == b"an earlier run"
    assert victim.read_bytes() == b"not the setup's to write"
    lines = log_lines(temp / f"Tessaryn Setup Log {today} #003.txt")
    assert lines[-1] == "Exit code 6"
    assert any(line.startswith("Message (Error): Download failed!") for line in lines)
