"""The setup speaks the display language, or the one /LANG names, read back from its running
windows: the texts through WM_GETTEXT, the mirrored layout from the extended style."""

import os
import re
import time

import pytest

from conftest import WindowDriver, make_product, url_switch

LICENSE, PROGRESS = "EulaWindowClass", "ProgressWindowClass"
STATUS = 0  # the progress window's status line: its first child
WINDOW, ACCEPT, NEXT, CANCEL = -1, 1002, 1004, 1005
IDYES = 6
WS_EX_LAYOUTRTL = 0x400000


# Windows links the fonts of other scripts to Segoe UI. Wine falls back to DejaVu, which has Arabic
# and Hebrew, and of a link list it used only the first font: the Chinese and Japanese runs link
# the font the bootstrap installs for them.
FONT_LINK = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"


def start(machine, host, product, *switches, locale=None, cjk=False):
    if cjk:
        machine.wine("reg", "add", FONT_LINK, "/v", "Segoe UI", "/t", "REG_MULTI_SZ", "/d",
                     "wqy-microhei.ttc,WenQuanYi Micro Hei", "/f")
    if locale:
        machine.env.update(LANG=locale, LC_ALL=locale)
    host.publish(product)
    machine.put_setup()
    return machine.start_setup(url_switch(host.base_url), "/LOG=C:\\language-log.txt", *switches)


def log_of(machine) -> str:
    return (machine.c / "language-log.txt").read_text(encoding="utf-8")


def test_a_german_system_shows_german_windows_and_an_english_log(machine, host, product, driver):
    setup = start(machine, host, product, locale="de_DE.UTF-8")
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    machine.screenshot("language-de")
    assert driver.ask(f"text {LICENSE} {ACCEPT}") == "Ich akzeptiere die Vereinbarung"
    assert driver.ask(f"text {LICENSE} {NEXT}") == "Weiter"
    assert driver.ask(f"text {LICENSE} {WINDOW}").endswith("Setup - Lizenzvereinbarung")
    assert int(driver.ask(f"exstyle {LICENSE} {WINDOW}"), 16) & WS_EX_LAYOUTRTL == 0

    driver.ask(f"click {LICENSE} {CANCEL}")
    assert driver.ask("waitbox Setup_beenden 20") == "ok"
    assert driver.ask("boxtext Setup_beenden").startswith("Das Setup ist nicht abgeschlossen.")
    assert driver.ask(f"boxclick Setup_beenden {IDYES}") == "ok"
    assert setup.wait(timeout=60) == 1
    log = log_of(machine)
    assert "Language: de (display language); display de-DE" in log
    assert "Outcome: declined, exit code 1" in log


@pytest.mark.parametrize("tag, accept, mirrored", [
    ("ar", "أوافق على الاتفاقية", True),
    ("JA", "同意する", False),
    ("zh-cn", "我接受该协议", False),
])
def test_lang_wins_over_the_display_language(machine, host, product, driver, tag, accept,
                                             mirrored):
    setup = start(machine, host, product, f"/LANG={tag}", locale="de_DE.UTF-8",
                  cjk=tag.lower() in ("ja", "zh-cn"))
    assert driver.ask(f"wait {LICENSE} 90") == "ok"
    machine.screenshot(f"language-{tag.lower()}")
    assert driver.ask(f"text {LICENSE} {ACCEPT}") == accept
    for control in (WINDOW, ACCEPT, NEXT):
        layout = int(driver.ask(f"exstyle {LICENSE} {control}"), 16) & WS_EX_LAYOUTRTL
        assert bool(layout) == mirrored, control
    assert driver.ask(f"quit-thread {LICENSE}") == "ok"
    assert setup.wait(timeout=60) == 1
    assert f"(/LANG={tag}); display de-DE" in log_of(machine)


def test_a_german_run_shows_its_waits_and_figures_in_german_and_logs_them_in_english(
        machine, test_host, tmp_path):
    files = {f"data/part{i}.bin": os.urandom(256 * 1024) for i in range(6)}
    product = make_product(tmp_path / "p", files=files)
    (test_host.files / "tessaryn.dat").write_bytes(product.dat.read_bytes())
    # Busy once (a wait of 3 s to read), then paced, so that the figures have time to be seen.
    test_host.set_fault_file("/installers/tessaryn.pak", product.pak.read_bytes(),
                             [{"status": 503, "retry_after": 3}, {"trickle": [32768, 0.05]}])
    machine.put_setup()
    driver = WindowDriver(machine)
    try:
        setup = machine.start_setup("/SILENT", "/LANG=de", url_switch(test_host.base_url),
                                    "/LOG=C:\\language-log.txt")
        assert driver.ask(f"wait {PROGRESS} 90") == "ok"
        seen = set()
        end = time.monotonic() + 90
        while setup.poll() is None and time.monotonic() < end:
            seen.add(driver.ask(f"text {PROGRESS} {STATUS}"))
            time.sleep(0.05)
        assert setup.wait(timeout=60) == 0
    finally:
        driver.close()
    assert ("Der Server ist ausgelastet (HTTP 503). Neuer Versuch in 3 s (Versuch 2 von 5)..."
            in seen), seen
    figures = re.compile(r"(Setup-Dateien werden heruntergeladen|Wird heruntergeladen und "
                         r"installiert)\.\.\. \d{1,3} % - \d+ KB/s(, [\d.]+( von [\d.]+)? Dateien)?")
    assert any(figures.fullmatch(line) for line in seen), seen
    assert not any("Retrying" in line or "files" in line for line in seen), seen
    log = log_of(machine)
    assert "The server is busy (HTTP 503). Retrying in 3 s (try 2 of 5)..." in log
    assert "Neuer Versuch" not in log and "ausgelastet" not in log
