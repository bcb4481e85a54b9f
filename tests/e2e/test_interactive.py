"""Interactive runs: the license window and the questions, worked through Win32 messages."""

import pytest

from conftest import url_switch, wait_until

LICENSE = "EulaWindowClass"
ACCEPT, DECLINE, NEXT, CANCEL = 1002, 1003, 1004, 1005
IDOK, IDYES, IDNO = 1, 6, 7


def start_interactive(machine, host, product, light: bool):
    machine.set_light_theme(light)
    host.publish(product)
    machine.put_setup()
    return machine.start_setup(url_switch(host.base_url))


@pytest.mark.parametrize("light", [True, False], ids=["light", "dark"])
def test_license_must_be_accepted_before_next(machine, host, product, driver, light):
    setup = start_interactive(machine, host, product, light)
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    machine.screenshot(f"license-{'light' if light else 'dark'}")

    assert driver.ask(f"checked {LICENSE} {DECLINE}") == "1"
    assert driver.ask(f"enabled {LICENSE} {NEXT}") == "0"
    driver.ask(f"click {LICENSE} {ACCEPT}")
    assert driver.ask(f"enabled {LICENSE} {NEXT}") == "1"
    driver.ask(f"click {LICENSE} {DECLINE}")
    assert driver.ask(f"enabled {LICENSE} {NEXT}") == "0"

    # Cancel, then No: the window stays as it was.
    driver.ask(f"click {LICENSE} {CANCEL}")
    assert "Exit Setup?" in wait_for_box(driver, "Exit Setup")
    assert driver.ask(f"boxclick Exit_Setup {IDNO}") == "ok"
    assert driver.ask(f"wait {LICENSE} 10") == "ok"
    assert driver.ask(f"checked {LICENSE} {DECLINE}") == "1"

    driver.ask(f"click {LICENSE} {ACCEPT}")
    driver.ask(f"click {LICENSE} {NEXT}")
    assert driver.ask(f"gone {LICENSE} 20") == "ok"
    assert setup.wait(timeout=240) == 0
    driver.close()
    machine.settle()
    assert (machine.install_dir / "launched.txt").exists()
    assert sorted(host.events()) == [0, 5, 9]


def wait_for_box(driver, title):
    """Waits for a message box and returns its text (the driver reads `_` in titles as blanks)."""
    quoted = title.replace(" ", "_")
    assert driver.ask(f"waitbox {quoted} 20") == "ok", f"no box titled {title}"
    return driver.ask(f"boxtext {quoted}").replace("\\n", "\n")


def test_cancel_then_yes_exits_with_1_after_event_6(machine, host, product, driver):
    setup = start_interactive(machine, host, product, light=False)
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    driver.ask(f"close {LICENSE}")  # the close box asks the same question as Cancel
    text = wait_for_box(driver, "Exit Setup")
    assert text.startswith("Setup is not complete.  If you exit now")
    driver.ask("boxclick Exit_Setup 7")
    assert driver.ask(f"wait {LICENSE} 10") == "ok"
    driver.ask(f"click {LICENSE} {CANCEL}")
    wait_for_box(driver, "Exit Setup")
    assert driver.ask(f"boxclick Exit_Setup {IDYES}") == "ok"

    assert setup.wait(timeout=60) == 1
    assert host.events() == [6]
    assert not machine.install_dir.exists()
    # The declined run's work folder went too.
    assert not [p for p in (machine.c / "windows" / "temp").iterdir() if len(p.name) == 32]


def test_license_loop_ended_without_acceptance_exits_with_1(machine, host, product, driver):
    setup = start_interactive(machine, host, product, light=True)
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    assert driver.ask(f"quit-thread {LICENSE}") == "ok"

    assert setup.wait(timeout=60) == 1
    assert not machine.install_dir.exists()
    assert host.events() == []  # nothing was accepted, so nothing started


def test_uninstall_question_answered_no(machine, host, product, driver):
    host.publish(product)
    machine.put_setup()
    # The driver runs in the prefix meanwhile, so the run cannot wait for an idle prefix.
    assert machine.run_setup("/VERYSILENT", url_switch(host.base_url), settle=False) == 0

    uninstall = machine.start_setup(exe=machine.install_dir / "unins000.exe")
    text = wait_for_box(driver, "Uninstall")
    assert text == "Would you like to uninstall Tessaryn?"
    machine.screenshot("uninstall-question")
    assert driver.ask(f"boxclick Uninstall {IDNO}") == "ok"

    assert uninstall.wait(timeout=60) == 1
    assert wait_until(lambda: (machine.install_dir / "unins000.exe").exists(), 5)
    assert (machine.install_dir / "readme.txt").exists()


FOR_ME_ONLY = 1007


def test_install_for_me_only_from_the_license_window(machine, host, product, driver, tmp_path):
    setup = start_interactive(machine, host, product, True)
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    assert driver.ask(f"checked {LICENSE} {FOR_ME_ONLY}") == "0"
    driver.ask(f"click {LICENSE} {FOR_ME_ONLY}")
    driver.ask(f"click {LICENSE} {ACCEPT}")
    driver.ask(f"click {LICENSE} {NEXT}")
    assert driver.ask(f"gone {LICENSE} 20") == "ok"
    assert setup.wait(timeout=240) == 0
    driver.close()
    machine.settle()
    own = machine.user_desktop.parent / "AppData" / "Local" / "Programs" / "Tessaryn"
    assert (own / "launched.txt").exists()
    assert not machine.install_dir.exists()
    values = machine.registry_values(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaryn")
    assert values and values["InstallLocation"][1] == machine.windows_path(own)
