"""The README's table of the elevated run's inputs names every call on an input that the
product's sources make: a source gaining such a call without a row fails here."""
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
ELEVATED = ("app", "net", "package", "ui", "system", "telemetry")
# Calls that read or change an input of the run; an A/W suffix, "Ex" or "2" may follow.
CALLS = ["GetEnvironmentVariable", "SetEnvironmentVariable", "getenv", "ExpandEnvironmentStrings",
         "GetTempPath", "SHGetFolderPath", "SHGetKnownFolderPath", "GetWindowsDirectory",
         "GetSystemWindowsDirectory", "GetSystemDirectory", "CreateFile", "NtCreateFile",
         "DeleteFile", "MoveFileEx", "CreateDirectory", "FindFirstFile", "CreateProcess",
         "ShellExecute", "LoadLibrary", "InternetOpen", "InternetConnect", "GetCommandLine",
         "GetModuleFileName", "DeviceIoControl", "GetComputerName", "CreateMutex"]
KEYS = ["HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"]
PATTERN = re.compile(r"\b(?:_w?)?(%s)(?:Ex)?2?[AW]?\s*\(|\b(%s)\b"
                     % ("|".join(CALLS), "|".join(KEYS)))


def calls_in_code() -> set:
    found = set()
    for folder in ELEVATED:
        for path in sorted((ROOT / folder).rglob("*.c*")):
            if path.suffix not in (".c", ".cpp") or path.stem.endswith("_posix"):
                continue
            for line in path.read_text(encoding="utf-8").splitlines():
                code = line.split("//", 1)[0]
                for match in PATTERN.finditer(code):
                    found.add((path.relative_to(ROOT).as_posix(), match.group(1) or match.group(2)))
    return found


def calls_in_table() -> set:
    """The second column of the inventory: "`file` Call, Call; `file` Call"."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    section = text.split("## What the setup guards against", 1)[1].split("\n## ", 1)[0]
    rows = [line for line in section.splitlines() if line.startswith("| ")]
    assert rows and rows[0].startswith("| Input | Code |"), "no inventory table"
    named = set()
    for row in rows[1:]:
        for part in row.split("|")[2].split(";"):
            source = re.match(r"\s*`([\w/.]+)`(.*)", part)
            if source:
                for call in re.findall(r"\w+", source.group(2)):
                    assert call in CALLS + KEYS, f"{call} in the table is no call the scan knows"
                    named.add((source.group(1), call))
    return named


def test_every_call_on_an_input_has_its_row():
    code, table = calls_in_code(), calls_in_table()
    assert sorted(code - table) == [], "calls without a row in the README's inventory"
    assert sorted(table - code) == [], "rows for calls the code no longer makes"


def defined_tests() -> tuple[set, set]:
    """pytest functions and GoogleTest cases (as "Suite.Name") defined under tests/."""
    functions, cases = set(), set()
    for path in (ROOT / "tests").rglob("*.py"):
        functions |= set(re.findall(r"^\s*def (test_\w+)", path.read_text(encoding="utf-8"), re.M))
    for path in (ROOT / "tests").rglob("*.cpp"):
        for suite, name in re.findall(r"\bTEST(?:_F|_P)?\(\s*(\w+),\s*(\w+)\)",
                                      path.read_text(encoding="utf-8")):
            cases.add(f"{suite}.{name}")
    return functions, cases


def test_every_test_a_row_names_exists():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    section = text.split("## What the setup guards against", 1)[1].split("\n## ", 1)[0]
    rows = [line for line in section.splitlines() if line.startswith("| ")][2:]
    functions, cases = defined_tests()
    missing = []
    for row in rows:
        for name in re.findall(r"`([\w.*]+)`", row.split("|")[-2]):
            if name.startswith("test_"):
                found = name in functions
            elif "." in name:
                suite, case = name.split(".", 1)
                found = any(c.startswith(suite + ".") for c in cases) if case == "*" else name in cases
            else:
                continue  # a target name, not a test
            if not found:
                missing.append(name)
    assert missing == [], "rows name tests that do not exist"
