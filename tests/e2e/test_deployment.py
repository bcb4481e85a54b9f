"""What deployment tools rely on: one run at a time, the silent modes, the switches an
administrator sets, exit codes by cause, exact releases, and the manifests of a release."""

import hashlib
import json
import shutil
import subprocess
import threading
import time

import pytest

from conftest import (DISK_FULL, EXIT_FAILURE, INVALID_DATA, UNINSTALL_KEY, UNKNOWN_SWITCH,
                      Answer, WindowDriver, make_product, publish, url_switch, wait_until)
from test_switches import log_lines

IDOK = 1
PROGRESS, LICENSE = "ProgressWindowClass", "EulaWindowClass"


def metric_events(test_host):
    return [json.loads(r["body"])["event"] for r in test_host.requests()
            if r["path"] == "/installers/metrics"]


def serve(test_host, product, gate=None):
    (test_host.files / "tessaryn.dat").write_bytes(product.dat.read_bytes())
    test_host.set_answer("/installers/tessaryn.pak",
                         Answer(body=product.pak.read_bytes(), gate=gate))


@pytest.mark.parametrize("second", ["setup", "uninstaller"])
def test_a_second_run_ends_at_once_and_changes_nothing(machine, test_host, tmp_path, second):
    first = make_product(tmp_path / "v1", "1.0")
    setup = machine.put_setup()
    if second == "uninstaller":
        serve(test_host, first)
        assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == 0
    # The first run waits for its package, held by the host, while the second is started.
    upgrade = make_product(tmp_path / "v2", "2.0")
    gate = threading.Event()
    serve(test_host, upgrade, gate)
    # Only the first run's own request for its package shows that it holds the run's mutex
    # (the earlier install asked for one too).
    test_host.clear_requests()
    running = machine.start_setup("/VERYSILENT", url_switch(test_host.base_url), r"/LOG=C:\first.txt")
    driver = WindowDriver(machine)
    try:
        assert wait_until(lambda: any(r["path"].endswith(".pak") for r in test_host.requests()),
                          timeout=60)
        asked = len(test_host.requests())
        exe = machine.install_dir / "unins000.exe" if second == "uninstaller" else setup
        # The whole exit code, through a Windows program: the shell would see 8 bits of it.
        code = driver.ask(f'run "{machine.windows_path(exe)}" /VERYSILENT '
                          f'{url_switch(test_host.base_url)} /LOG=C:\\second.txt')
        assert code == "1618"
        assert len(test_host.requests()) == asked, "the second run asked the host"
        lines = log_lines(machine.c / "second.txt")
        assert "Outcome: another setup is running, exit code 1618" in lines
        assert lines[-1] == "Exit code 1618"
        assert not any(line.startswith("Work files") for line in lines)
        gate.set()
        assert running.wait(timeout=120) == 0
    finally:
        gate.set()
        driver.close()
    machine.settle()
    assert machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")["DisplayVersion"] == ("REG_SZ", "2.0")
    # The mutex went with the first run: the next one is not held off.
    assert machine.run_setup("/VERYSILENT", url_switch(test_host.base_url)) == 0


@pytest.mark.parametrize("mode", ["/SILENT", "-SILENT", "/VERYSILENT"])
def test_silent_shows_only_progress_and_no_box(machine, test_host, tmp_path, mode):
    files = {f"data/part{i:02}.bin": bytes([i]) * 256 * 1024 for i in range(12)}
    product = make_product(tmp_path / "p", files=files)
    (test_host.files / "tessaryn.dat").write_bytes(product.dat.read_bytes())
    # Paced, so that the progress has time to be seen.
    test_host.set_answer("/installers/tessaryn.pak", Answer(body=product.pak.read_bytes(),
                                                            chunk_size=32768, chunk_delay=0.05))
    machine.put_setup()
    driver = WindowDriver(machine)
    try:
        running = machine.start_setup(mode, url_switch(test_host.base_url))
        seen = driver.ask(f"wait {PROGRESS} 60") == "ok"
        license_seen = driver.ask(f"wait {LICENSE} 0.2") == "ok"
        assert running.wait(timeout=120) == 0
        assert seen == (mode != "/VERYSILENT")
        assert not license_seen
        assert (machine.install_dir / "readme.txt").exists()

        # A failure is not asked about either: no box waits, the run ends by itself. The settings'
        # signature is broken (a damaged package would not be fetched: the installed files match).
        data = bytearray(product.dat.read_bytes())
        data[-1] ^= 0x40
        (test_host.files / "tessaryn.dat").write_bytes(bytes(data))
        running = machine.start_setup(mode, url_switch(test_host.base_url), "/ALLOWDOWNGRADE")
        assert running.wait(timeout=120) == INVALID_DATA
        assert driver.ask("waitbox Invalid_data_signature 0.2") != "ok"
    finally:
        driver.close()


@pytest.mark.parametrize("switches, launched, icons, events", [
    (["/VERYSILENT"], True, True, True),
    (["/VERYSILENT", "/NOLAUNCH", "/NOICONS"], False, False, True),
    (["-VERYSILENT", "-NOMETRICS", "-nolaunch"], False, True, False),
])
def test_what_an_administrator_switches_off(machine, test_host, product, switches, launched,
                                           icons, events):
    serve(test_host, product)
    machine.put_setup()

    assert machine.run_setup(*switches, url_switch(test_host.base_url)) == 0

    assert (machine.install_dir / "readme.txt").exists()
    assert (machine.install_dir / "launched.txt").exists() == launched
    assert (machine.desktop / "Tessaryn.lnk").exists() == icons
    assert bool(list(machine.start_menu.rglob("Tessaryn*"))) == icons
    assert bool(metric_events(test_host)) == events


def test_an_unknown_switch_ends_the_run_at_once(machine, test_host, product, driver):
    serve(test_host, product)
    setup = machine.put_setup()

    # With a silent switch beside the typo: no box, only the console and the log.
    result = machine.wine(machine.windows_path(setup), "/VERYSLIENT", "/SILENT",
                          url_switch(test_host.base_url), r"/LOG=C:\typo.txt", "-NOLAUNCH")
    assert result.returncode == UNKNOWN_SWITCH
    assert "Unknown switch: /VERYSLIENT" in result.stdout.decode("utf-8")
    lines = log_lines(machine.c / "typo.txt")
    assert "Outcome: unknown switch, exit code 87" in lines
    assert test_host.requests() == []

    # Not silent: said in a box, which ends the run once answered.
    running = machine.start_setup("-VERYSILENTT", url_switch(test_host.base_url))
    assert driver.ask("waitbox Setup 60") == "ok"
    assert driver.ask("boxtext Setup").startswith("Unknown switch: -VERYSILENTT")
    assert driver.ask(f"boxclick Setup {IDOK}") == "ok"
    assert running.wait(timeout=60) == UNKNOWN_SWITCH
    assert test_host.requests() == [] and not machine.install_dir.exists()


def test_a_log_that_cannot_be_written_is_said_on_the_console(machine):
    setup = machine.put_setup()
    result = machine.wine(machine.windows_path(setup), "/VERYSILENT",
                          url_switch("http://127.0.0.1:9"), r"/LOG=C:\no such folder\run.txt")
    out = result.stdout.decode("utf-8")
    assert result.returncode == 6  # no network
    assert "The log cannot be written to C:\\no such folder\\run.txt (" in out, out
    assert "Exit code 6; no log was written to C:\\no such folder\\run.txt." in out, out
    assert not (machine.c / "no such folder").exists()


def test_not_enough_disk_space_ends_with_its_code(machine, test_host, tmp_path):
    # Program Files on a volume of 2 MiB; the product unpacks to 6 MiB (it packs to little).
    product = make_product(tmp_path / "p", files={"big.bin": b"\0" * (6 << 20)})
    serve(test_host, product)
    machine.put_setup()
    folder = machine.program_files
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", str(folder)], check=True)
    try:
        code = machine.run_setup("/VERYSILENT", url_switch(test_host.base_url), r"/LOG=C:\full.txt")
        assert code == DISK_FULL
        assert list(folder.iterdir()) == []
    finally:
        subprocess.run(["wineserver", "-k"], env=machine.env, capture_output=True)
        subprocess.run(["umount", str(folder)], check=True)
    text = "\n".join(log_lines(machine.c / "full.txt"))
    assert ("Message (Not enough disk space): There is not enough free disk space on the drive "
            "of C:\\Program Files\\Tessaryn to install Tessaryn: 7 MB are needed") in text, text
    assert "Outcome: not enough disk space, exit code 112" in text


def keep(host_files, product, version):
    shutil.copyfile(product.dat, host_files / f"tessaryn-{version}.dat")
    shutil.copyfile(product.pak, host_files / f"tessaryn-{version}.pak")


@pytest.mark.parametrize("case", ["kept", "kept, another version beside", "missing",
                                  "kept under the wrong name", "older than installed"])
def test_version_installs_exactly_the_release_asked_for(machine, host, tmp_path, case):
    current = make_product(tmp_path / "v3", "3.0")
    wanted = make_product(tmp_path / "v2", "2.0")
    host.publish(current)
    if case != "missing":
        keep(host.files, current if case == "kept under the wrong name" else wanted, "2.0")
    machine.put_setup()
    if case == "kept, another version beside":
        shutil.copyfile(current.dat, machine.downloads / "Tessaryn-setup.dat")
        shutil.copyfile(current.pak, machine.downloads / "Tessaryn-setup.pak")
    if case == "older than installed":
        assert machine.run_setup("/VERYSILENT", url_switch(host.base_url)) == 0

    code = machine.run_setup("/VERYSILENT", "/VERSION=2.0", url_switch(host.base_url),
                             r"/LOG=C:\v.txt")

    expected = {"kept": 0, "kept, another version beside": 0, "missing": EXIT_FAILURE,
                "kept under the wrong name": INVALID_DATA, "older than installed": 3}[case]
    text = "\n".join(log_lines(machine.c / "v.txt"))
    assert code == expected, text
    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    installed = values and values["DisplayVersion"][1]
    assert installed == {0: "2.0", 3: "3.0"}.get(code)
    assert f"Setup information address: {host.base_url}/installers/tessaryn-2.0.dat" in text
    if case == "kept under the wrong name":
        assert "names version 3.0, not version 2.0 that was asked for with /VERSION" in text


def read_manifest(path):
    """The block form the generator writes: mappings and lists two spaces deep, every string
    double-quoted (so JSON reads each value). Read here without a YAML library, which the
    project does not depend on."""
    lines = [(len(line) - len(line.lstrip(" ")), line.strip())
             for line in path.read_text("utf-8").splitlines()
             if line.strip() and not line.lstrip().startswith("#")]

    def block(i, indent):
        if lines[i][1].startswith("- "):
            items = []
            while i < len(lines) and lines[i][0] == indent and lines[i][1].startswith("- "):
                rest = lines[i][1][2:]
                if rest.startswith('"'):
                    items.append(json.loads(rest))
                    i += 1
                else:  # a mapping: its first key on the dash's line, the others below it
                    lines[i] = (indent + 2, rest)
                    item, i = block(i, indent + 2)
                    items.append(item)
            return items, i
        mapping = {}
        while i < len(lines) and lines[i][0] == indent and not lines[i][1].startswith("- "):
            key, _, value = lines[i][1].partition(":")
            i += 1
            if value.strip():
                mapping[key] = json.loads(value.strip())
            else:
                mapping[key], i = block(i, lines[i][0])
        assert i == len(lines) or lines[i][0] < indent, f"unexpected line {lines[i]}"
        return mapping, i

    return block(0, 0)[0]


def test_winget_manifests_match_what_the_setup_records(machine, host, tmp_path):
    product = make_product(tmp_path / "p", "2.1", settings={
        "publisher": "Corvalis Ltd", "help": "https://tessaryn.example/help"})
    host.publish(product)
    keep(host.files, product, "2.1")
    setup = machine.put_setup()
    out = tmp_path / "manifests"
    made = publish("winget", product.dat, "--setup", setup, "--url",
                   "https://downloads.example/TessarynSetup.exe", "--id", "Corvalis.Tessaryn",
                   "-o", out)
    assert made.returncode == 0, made.stderr
    installer = read_manifest(out / "Corvalis.Tessaryn.installer.yaml")
    custom = installer["InstallerSwitches"]["Custom"]
    assert custom == "/VERSION=2.1"

    # Installed the way a package manager does it: the silent switch and the custom one.
    assert machine.run_setup(installer["InstallerSwitches"]["Silent"], custom,
                             url_switch(host.base_url)) == 0

    values = machine.registry_values(UNINSTALL_KEY + r"\Tessaryn")
    [entry] = installer["AppsAndFeaturesEntries"]
    assert entry.pop("ProductCode") == "Tessaryn"  # the name of the key read just now
    assert entry == {name: values[name][1] for name in ("DisplayName", "Publisher", "DisplayVersion")}
    [package] = installer["Installers"]
    assert package["InstallerSha256"] == hashlib.sha256(setup.read_bytes()).hexdigest().upper()
    assert package["InstallerUrl"] == "https://downloads.example/TessarynSetup.exe"
    assert {c["InstallerReturnCode"]: c["ReturnResponse"] for c in installer["ExpectedReturnCodes"]} == {
        1: "cancelledByUser", 2: "custom", 3: "downgrade", 4: "contactSupport", 5: "packageInUse",
        6: "noNetwork", 7: "contactSupport", 8: "custom", 9: "blockedByPolicy",
        87: "invalidParameter", 112: "diskFull", 1618: "installInProgress"}
    for key, value in {"PackageIdentifier": "Corvalis.Tessaryn", "PackageVersion": "2.1",
                       "InstallerType": "exe", "Scope": "machine", "UpgradeBehavior": "install",
                       "ElevationRequirement": "elevatesSelf", "ManifestType": "installer",
                       "ManifestVersion": "1.10.0"}.items():
        assert installer[key] == value, key
    assert installer["InstallerSwitches"] == {"Silent": "/VERYSILENT", "SilentWithProgress": "/SILENT",
                                              "Log": '/LOG="<LOGPATH>"', "Custom": "/VERSION=2.1"}
    locale = read_manifest(out / "Corvalis.Tessaryn.locale.en-US.yaml")
    assert (locale["Publisher"], locale["PackageName"], locale["PackageVersion"]) == (
        values["Publisher"][1], values["DisplayName"][1], values["DisplayVersion"][1])
    assert locale["PublisherSupportUrl"] == values["HelpLink"][1]
    version = read_manifest(out / "Corvalis.Tessaryn.yaml")
    assert (version["DefaultLocale"], version["ManifestType"]) == ("en-US", "version")

