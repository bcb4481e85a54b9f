"""The texts gate: every shipped language complete and consistent, and each fault it exists for
(a missing or unknown id, other placeholders, a second accelerator of one letter in one window)
refused in a copy of the files."""
import pathlib
import shutil
import subprocess
import sys

import pytest

STRINGS = pathlib.Path(__file__).resolve().parents[2] / "resources" / "strings"


def gate(folder):
    return subprocess.run([sys.executable, str(STRINGS / "make_texts.py"), str(folder), "--check"],
                          capture_output=True, text=True)


def test_every_shipped_language_passes():
    result = gate(STRINGS)
    assert result.returncode == 0, result.stdout
    assert len(list(STRINGS.glob("*.txt"))) >= 25


@pytest.mark.parametrize("english, german, problem", [
    (None, lambda t: t.replace("eula_next = Weiter\n", ""), "de.txt: eula_next missing"),
    (None, lambda t: t.replace("eula_next = Weiter", "eula_next = "), "de.txt: eula_next empty"),
    (None, lambda t: t + "eula_nxet = Weiter\n", "eula_nxet is no id of en.txt"),
    (None, lambda t: t + "eula_next = Weiter\n", "eula_next given twice"),
    (None, lambda t: t.replace("Möchten Sie {} deinstallieren?", "Möchten Sie deinstallieren?"),
     "uninstall_question has other placeholders than English"),
    (None, lambda t: t.replace("{1} von {2} Dateien\n", "{1} von {1} Dateien\n"),
     "progress_files_of has other placeholders than English"),
    (None, lambda t: t.replace("Aktualisierung: {1} von {2}", "Aktualisierung: {1} von"),
     "progress_updating has other placeholders than English"),
    (None, lambda t: t.replace("= {1} % - {2} KB/s", "= {} % - {2} KB/s"),
     "progress_percent has other placeholders than English"),
    (None, lambda t: t.replace("= Weiter", "= &Weiter"),
     "eula_next has another number of accelerators"),
    (lambda t: t.replace("= Next", "= &Next").replace("= Cancel", "= &Cancel"),
     lambda t: t.replace("= Weiter", "= &Weiter").replace("= Abbrechen", "= &Wegklicken"),
     "accelerator 'w' twice in eula: eula_next, eula_cancel"),
])
def test_each_fault_is_refused(tmp_path, english, german, problem):
    folder = tmp_path / "strings"
    shutil.copytree(STRINGS, folder)
    for name, change in (("en.txt", english), ("de.txt", german)):
        if change:
            path = folder / name
            path.write_text(change(path.read_text(encoding="utf-8")), encoding="utf-8")
    result = gate(folder)
    assert result.returncode == 1
    assert problem in result.stdout


def test_numbered_placeholders_may_change_places(tmp_path):
    folder = tmp_path / "strings"
    shutil.copytree(STRINGS, folder)
    german = folder / "de.txt"
    text = german.read_text(encoding="utf-8")
    assert "= {1} von {2} Dateien\n" in text
    german.write_text(text.replace("= {1} von {2} Dateien\n", "= Dateien: {2}, davon {1}\n"),
                      encoding="utf-8")
    result = gate(folder)
    assert result.returncode == 0, result.stdout
