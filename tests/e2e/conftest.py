"""End-to-end runs of the built setup program under Wine, as a user would run it.

Every test gets a fresh Wine prefix (a copy of one made per session), a folder of its own as
"download folder" beside the setup, and, when it asks for one, a web host on 127.0.0.1: the
project's reference host (files and recorded events) or the scriptable test host (faults).
"""

import hashlib
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
from web_host import Answer, WebHost  # noqa: E402

WINDOWS_BUILD = Path(os.environ.get("TESSARYN_WINDOWS_BUILD", ROOT / "build" / "windows"))
NATIVE_BUILD = Path(os.environ.get("TESSARYN_NATIVE_BUILD", ROOT / "build" / "native"))
DEV_KEY = ROOT / "build" / "dev-key"
ANSWERS_KEY = DEV_KEY / "answers.key"  # the hosts sign their answers with it
ARTIFACTS = ROOT / "build" / "artifacts"

SETUP_EXE = WINDOWS_BUILD / "app" / "TessarynSetup.exe"


def built_with(option: str) -> bool:
    """Whether the Windows build was configured with the CMake option on."""
    cache = WINDOWS_BUILD / "CMakeCache.txt"
    return cache.exists() and f"{option}:BOOL=ON" in cache.read_text(errors="replace")

# The same setup built with -DTESSARYN_RELEASE_FLOOR=2.0 (scripts/test builds it).
FLOOR_SETUP_EXE = Path(os.environ.get("TESSARYN_FLOOR_BUILD", ROOT / "build" / "windows-floor")) \
    / "app" / "TessarynSetup.exe"
# The same setup built with -DTESSARYN_PRODUCT_NAME=Brightpad (scripts/test builds it).
OWN_PRODUCT_SETUP_EXE = Path(os.environ.get("TESSARYN_OWN_PRODUCT_BUILD",
                                            ROOT / "build" / "windows-brightpad")) / "app" / "TessarynSetup.exe"
DRIVER_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_window_driver.exe"
LINK_READER_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_link_reader.exe"
PROBE_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_launch_probe.exe"
PLANTED_DLL = WINDOWS_BUILD / "tests" / "e2e" / "e2e_planted_library.dll"
PLANTED_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_planted_program.exe"
ACCESS_READER_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_access_reader.exe"
MARKER_EXE = WINDOWS_BUILD / "tests" / "e2e" / "e2e_marker_program.exe"
PUBLISH = NATIVE_BUILD / "tools" / "tessaryn-publish"
SIGN_RAW = NATIVE_BUILD / "tests" / "e2e" / "e2e_sign_raw"

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
EXIT_FAILURE = 255  # -1 as the shell sees it
# The other documented codes as the shell sees them (8 bits: 1618 is 82; the window driver's
# "run" reads whole codes).
FILES_IN_USE, NO_NETWORK, INVALID_DATA, UNKNOWN_SWITCH, DISK_FULL = 5, 6, 7, 87, 112


def wine_env(prefix: Path) -> dict:
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    return env


@pytest.fixture(scope="session")
def built():
    for path in (SETUP_EXE, DRIVER_EXE, LINK_READER_EXE, PROBE_EXE, PLANTED_DLL, PLANTED_EXE,
                 MARKER_EXE, ACCESS_READER_EXE, PUBLISH, SIGN_RAW, DEV_KEY / "tessaryn.key", ANSWERS_KEY):
        assert path.exists(), f"{path} is missing: build both presets first (scripts/test)"
    ARTIFACTS.mkdir(parents=True, exist_ok=True)


@pytest.fixture(scope="session")
def template_prefix(built, tmp_path_factory):
    prefix = tmp_path_factory.mktemp("wine") / "template"
    env = wine_env(prefix)
    env["HOME"] = str(prefix.parent / "home")  # never link the prefix to the real home folder
    Path(env["HOME"]).mkdir()
    subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
    subprocess.run(["wineserver", "-w"], env=env, timeout=300)
    assert (prefix / "system.reg").exists(), "wineboot made no prefix"
    return prefix


def detach_user_folders(prefix: Path):
    """Each test machine gets user folders of its own, never links to the real home folder."""
    subprocess.run([str(ROOT / "scripts" / "wine-detach-home"), str(prefix)], check=True)


class Machine:
    """One throw-away Windows machine: a Wine prefix with a download folder on drive C."""

    def __init__(self, prefix: Path):
        self.prefix = prefix
        self.env = wine_env(prefix)
        self.c = prefix / "drive_c"
        self.downloads = self.c / "dl"
        self.downloads.mkdir(parents=True, exist_ok=True)
        self.program_files = self.c / "Program Files"
        self.install_dir = self.program_files / "Tessaryn"
        self.start_menu = self.c / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs"
        self.runs: list[subprocess.CompletedProcess] = []  # shown when a test fails

    @property
    def desktop(self) -> Path:
        """The all-users desktop, where the setup puts its link."""
        return self.c / "users" / "Public" / "Desktop"

    @property
    def user_desktop(self) -> Path:
        users = [p for p in (self.c / "users").iterdir() if p.name not in ("Public", "public")]
        return users[0] / "Desktop"

    def wine(self, *args, timeout=180, check=False):
        """Runs a Windows program; its output goes through files, not pipes, because Wine's
        service processes started along the way inherit them and would hold pipes open."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=timeout, check=check)
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(result.args, result.returncode, out.read(), err.read())
            self.runs.append(done)
            return done

    def settle(self, timeout=120):
        """Waits until every process of the prefix has ended (clean-up scripts included)."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)

    def put_setup(self, name="TessarynSetup.exe") -> Path:
        target = self.downloads / name
        shutil.copyfile(SETUP_EXE, target)
        return target

    def run_setup(self, *args, exe: Path | None = None, timeout=240, settle=True) -> int:
        exe = exe or self.downloads / "TessarynSetup.exe"
        result = self.wine(self.windows_path(exe), *args, timeout=timeout)
        if settle:
            self.settle()
        return result.returncode

    def start_setup(self, *args, exe: Path | None = None) -> subprocess.Popen:
        exe = exe or self.downloads / "TessarynSetup.exe"
        return subprocess.Popen(["wine", self.windows_path(exe), *args], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def windows_path(self, path: Path) -> str:
        relative = Path(os.path.abspath(path)).relative_to(os.path.abspath(self.c))
        return "C:\\" + str(relative).replace("/", "\\")

    def registry_values(self, key: str) -> dict | None:
        """Values of a registry key as {name: (type, data)}, read with Wine's reg.exe."""
        result = self.wine("reg", "query", key)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def uninstaller_list(self) -> str:
        return self.wine("uninstaller", "--list").stdout.decode("utf-8", "replace")

    def read_link(self, link: Path) -> dict:
        reader = self.downloads / "link_reader.exe"
        if not reader.exists():
            shutil.copyfile(LINK_READER_EXE, reader)
        result = self.wine(self.windows_path(reader), self.windows_path(link))
        assert result.returncode == 0, f"cannot read {link}"
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        return dict(line.split("=", 1) for line in lines if "=" in line)

    def read_access(self, *paths: Path) -> list[str]:
        """The access list of each path (SDDL), read back through GetNamedSecurityInfoW."""
        reader = self.downloads / "access_reader.exe"
        if not reader.exists():
            shutil.copyfile(ACCESS_READER_EXE, reader)
        result = self.wine(self.windows_path(reader), *map(self.windows_path, paths))
        return result.stdout.decode("utf-8", "replace").splitlines()

    def screenshot(self, name: str):
        display = os.environ.get("DISPLAY")
        if display and shutil.which("import"):
            subprocess.run(["import", "-window", "root", str(ARTIFACTS / f"{name}.png")],
                           capture_output=True, timeout=30)

    def set_light_theme(self, light: bool):
        self.wine("reg", "add",
                  r"HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize",
                  "/v", "AppsUseLightTheme", "/t", "REG_DWORD", "/d", "1" if light else "0", "/f")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test shows what its machine ran and what its host recorded: a run that fails
    once in many leaves nothing else to go by."""
    outcome = yield
    report = outcome.get_result()
    if report.when != "call" or not report.failed:
        return
    machine = item.funcargs.get("machine")
    if isinstance(machine, Machine):
        lines = [f"{r.returncode:4} {' '.join(map(str, r.args[1:]))}\n"
                 f"{r.stderr.decode('utf-8', 'replace')[-1500:]}" for r in machine.runs]
        report.sections.append(("wine runs", "\n".join(lines)))
    host = item.funcargs.get("host")
    if isinstance(host, ReferenceHost):
        report.sections.append(("host events", "\n".join(map(str, host.event_rows()))))
        report.sections.append(("host log", host.log.read_text("utf-8", "replace")[-4000:]))


@pytest.fixture
def machine(template_prefix, tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cp", "-a", str(template_prefix), str(prefix)], check=True)
    detach_user_folders(prefix)
    m = Machine(prefix)
    yield m
    subprocess.run(["wineserver", "-k"], env=m.env, capture_output=True)
    # A prefix is about 700 MB: kept for every test, a whole run would fill the disk.
    shutil.rmtree(prefix, ignore_errors=True)


@dataclass
class Product:
    """A packed and signed product: the tree, its package and its setup information file."""
    tree: Path
    pak: Path
    dat: Path
    settings: dict = field(default_factory=dict)


def publish(*args, check=True) -> subprocess.CompletedProcess:
    return subprocess.run([str(PUBLISH), *map(str, args)], capture_output=True, text=True,
                          check=check)


def make_product(folder: Path, version="1.0", settings=None, files=None, expires=None) -> Product:
    """Builds a product tree (the launch probe as tessaryn.exe plus data files), packs and signs
    it with the development key; the settings name the package (sign --package)."""
    tree = folder / "tree"
    (tree / "data" / "nested").mkdir(parents=True)
    shutil.copyfile(PROBE_EXE, tree / "tessaryn.exe")
    (tree / "readme.txt").write_text(f"Tessaryn {version}\n")
    (tree / "data" / "nested" / "values.bin").write_bytes(os.urandom(300_000))
    (tree / "data" / "empty.txt").write_bytes(b"")
    for name, content in (files or {}).items():
        path = tree / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    base = {
        "prod": "Tessaryn", "ver": version, "eula": "License of Tessaryn\nLine two\n",
        "www": "https://tessaryn.example/", "init": ["echo init>init-ran.txt"],
        "post": ["echo post %CD%>>\"%ProgramFiles%\\post-ran.txt\""], "desk": True, "metric": True,
    }
    base.update(settings or {})
    base = {k: v for k, v in base.items() if v is not None}
    settings_file = folder / "settings.json"
    settings_file.write_text(json.dumps(base))
    pak = folder / "tessaryn.pak"
    dat = folder / "tessaryn.dat"
    key = DEV_KEY / "tessaryn.key"
    publish("pack", tree, "--key", key, "-o", pak, "--version", version, "--allow-no-main")
    more = ["--expires", expires] if expires else []
    # Small blocks, so that even a small package has several.
    signed = publish("sign", settings_file, "--key", key, "--package", pak, "-o", dat, *more,
                     "--block-size", 65536, check=False)
    if signed.returncode != 0:
        # The tool refuses unusable settings; tests of such files sign the bytes themselves.
        raise RuntimeError(signed.stderr)
    return Product(tree, pak, dat, base)


def package_binding(pak: Path) -> dict:
    """The "package" value naming this file, computed here independently of the tool."""
    data = pak.read_bytes()
    return {"size": len(data), "sha256": hashlib.sha256(data).hexdigest()}


def sign_settings(settings: dict, folder: Path) -> bytes:
    """Signs settings exactly as given (keys the tool would refuse or rewrite included)."""
    return sign_raw(json.dumps(settings).encode("utf-8"), folder, "SETUP100")


def sign_raw(payload: bytes, folder: Path, context: str) -> bytes:
    """Signs arbitrary bytes as the setup expects (used for files the tool refuses to sign)."""
    source = folder / "raw-payload"
    source.write_bytes(payload)
    out = folder / "raw-signed"
    subprocess.run([str(SIGN_RAW), str(DEV_KEY / "tessaryn.key"), context, str(source), str(out)],
                   check=True, capture_output=True)
    return out.read_bytes()


class ReferenceHost:
    """The project's own web host, serving a folder and recording events in SQLite."""

    def __init__(self, folder: Path, extra_args=()):
        self.files = folder / "installers"
        self.files.mkdir(parents=True)
        self.db = folder / "events.sqlite3"
        self.log = folder / "host.log"  # its request lines, shown when a test fails
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                [sys.executable, str(ROOT / "tools" / "webhost" / "tessaryn_host.py"), "--port",
                 "0", "--files", str(self.files), "--db", str(self.db), "--allow-empty",
                 "--answers-key", str(ANSWERS_KEY), *extra_args],
                stdout=subprocess.PIPE, stderr=log, text=True)
        line = self.process.stdout.readline()
        assert line.startswith("listening on "), line
        self.base_url = line.split("listening on ", 1)[1].strip()

    def publish(self, product: Product):
        shutil.copyfile(product.pak, self.files / "tessaryn.pak")
        shutil.copyfile(product.dat, self.files / "tessaryn.dat")

    def events(self) -> list[int]:
        if not self.db.exists():
            return []
        with sqlite3.connect(self.db) as db:
            return [row[0] for row in db.execute("SELECT event FROM events ORDER BY id")]

    def event_rows(self) -> list[dict]:
        if not self.db.exists():
            return []
        with sqlite3.connect(self.db) as db:
            db.row_factory = sqlite3.Row
            return [dict(r) for r in db.execute("SELECT * FROM events ORDER BY id")]

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


@pytest.fixture
def host(tmp_path):
    h = ReferenceHost(tmp_path / "host")
    yield h
    h.stop()


@pytest.fixture
def test_host(tmp_path):
    root = tmp_path / "served"
    (root / "installers").mkdir(parents=True)
    with WebHost(root=root, answers_key=ANSWERS_KEY) as h:
        h.files = root / "installers"
        yield h


@pytest.fixture
def product(tmp_path, built) -> Product:
    return make_product(tmp_path / "product")


def url_switch(base_url: str) -> str:
    return "/URL:" + base_url


def wait_until(predicate, timeout=30.0, interval=0.2):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def tree_files(root: Path) -> dict:
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


class WindowDriver:
    """The Windows-side driver of tests/e2e/window_driver.cpp, one command per line."""

    def __init__(self, machine: Machine):
        exe = machine.downloads / "driver.exe"
        shutil.copyfile(DRIVER_EXE, exe)
        self.process = subprocess.Popen(["wine", machine.windows_path(exe)], env=machine.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def ask(self, line: str) -> str:
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def close(self):
        try:
            self.ask("quit")
        except (BrokenPipeError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


@pytest.fixture
def driver(machine):
    d = WindowDriver(machine)
    yield d
    d.close()
