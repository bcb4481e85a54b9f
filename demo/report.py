#!/usr/bin/env python3
"""Prints what a demo run left behind: the installed files, the uninstall record, the shortcuts,
the product's window, the events the web host recorded and its funnel. Reads the Wine prefix from
the Linux side, the registry through Wine's own tools and the events straight from the database.

Exit code 0 when the machine is in the state the run should have left (installed, or after
--uninstall everything gone), 1 otherwise, with the reasons printed last.
"""

import argparse
import json
import os
import sqlite3
import subprocess
import sys
import urllib.request
from pathlib import Path

PRODUCT = "Tessaryn"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT


def wine(*args):
    result = subprocess.run(["wine", *args], capture_output=True, timeout=120)
    return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", "")


class Machine:
    def __init__(self, prefix: Path):
        self.c = prefix / "drive_c"
        self.install_dir = self.c / "Program Files" / PRODUCT
        self.menu = self.c / "ProgramData/Microsoft/Windows/Start Menu/Programs" / PRODUCT
        # The setup's link goes to the all-users desktop.
        self.desktop = self.c / "users" / "Public" / "Desktop"

    def windows_path(self, path: Path) -> str:
        return "C:\\" + str(path.relative_to(self.c)).replace("/", "\\")

    def shortcuts(self):
        return [self.desktop / f"{PRODUCT}.lnk", self.menu / f"{PRODUCT}.lnk",
                self.menu / f"{PRODUCT} on the Web.url"]


def section(title):
    print(f"\n-- {title}")


def print_files(machine, problems, expect_installed):
    section(f"Installed files in {machine.windows_path(machine.install_dir)}")
    if not machine.install_dir.exists():
        print("   (folder absent)")
        if expect_installed:
            problems.append("the install folder is missing")
        return
    files = sorted(p for p in machine.install_dir.rglob("*") if p.is_file())
    total = 0
    for path in files:
        size = path.stat().st_size
        total += size
        print(f"   {size:>10}  {path.relative_to(machine.install_dir).as_posix()}")
    print(f"   {total:>10}  total in {len(files)} files")
    if not expect_installed:
        problems.append("the install folder is still there")
    elif not (machine.install_dir / "unins000.exe").is_file():
        problems.append("unins000.exe is missing")


def print_registry(problems, expect_installed):
    section(f"Uninstall record (wine reg query {UNINSTALL_KEY})")
    code, out = wine("reg", "query", UNINSTALL_KEY)
    lines = [line for line in out.splitlines() if line.strip()]
    if code == 0 and lines:
        for line in lines:
            print("   " + line.strip())
    else:
        print("   (no record)")
    if (code == 0) != expect_installed:
        problems.append("the uninstall record is " + ("missing" if expect_installed else "still there"))

    section("Installed programs (wine uninstaller --list)")
    _, listing = wine("uninstaller", "--list")
    ours = [line for line in listing.splitlines() if PRODUCT in line]
    for line in ours or ["(no entry for Tessaryn)"]:
        print("   " + line.strip())
    if bool(ours) != expect_installed:
        problems.append("the list of installed programs " +
                        ("lacks Tessaryn" if expect_installed else "still shows Tessaryn"))


def print_shortcuts(machine, problems, expect_installed):
    section("Shortcuts")
    for link in machine.shortcuts():
        present = link.is_file()
        print(f"   {'present' if present else 'absent '}  {machine.windows_path(link)}")
        if present != expect_installed:
            problems.append(f"{machine.windows_path(link)} is " +
                            ("missing" if expect_installed else "still there"))
    if not expect_installed and machine.menu.exists():
        problems.append("the Start-menu folder is still there")


def print_window(title, problems, expect_installed):
    if not expect_installed:
        return
    section("Product started")
    print(f"   window \"{title}\"" if title else "   (no product window was seen)")
    if not title:
        problems.append("the product did not open its window")


def event_rows(db: Path, since_id: int):
    if not db.exists():
        return []
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as conn:
        has_table = conn.execute(
            "SELECT 1 FROM sqlite_master WHERE type='table' AND name='events'").fetchone()
        if not has_table:
            return []
        return conn.execute("SELECT id, time, event, product FROM events WHERE id > ? ORDER BY id",
                            (since_id,)).fetchall()


def fetch_funnel(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return json.load(answer)


def print_events(db, since_id, funnel, problems, expected_events):
    names = {}
    for product in funnel.get("products", []):
        names.update({e["code"]: e["name"] for e in product["events"]})
    section(f"Events recorded in this run ({db})")
    rows = event_rows(db, since_id)
    for _, time, code, product in rows:
        print(f"   {time}  {code:>2}  {names.get(code, 'event ' + str(code)):<26}  {product}")
    if not rows:
        print("   (none)")
    missing = [e for e in expected_events if e not in [row[2] for row in rows]]
    if missing:
        problems.append("events not recorded: " + ", ".join(map(str, missing)))


def print_funnel(url, funnel):
    section(f"Funnel ({url})")
    print(f"   period {funnel.get('from')} to {funnel.get('to')}")
    for product in funnel.get("products", []):
        rate = product.get("completion_rate")
        shown = "n/a" if rate is None else f"{rate * 100:.0f}%"
        print(f"   {product['product']}: started {product['started']}, "
              f"completed {product['completed']}, completion {shown}")
        for event in product["events"]:
            if event["count"]:
                print(f"      {event['code']:>2}  {event['name']:<26}  {event['count']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", type=Path, required=True)
    parser.add_argument("--db", type=Path, required=True)
    parser.add_argument("--since-id", type=int, default=0)
    parser.add_argument("--base-url", required=True)
    parser.add_argument("--uninstalled", action="store_true")
    parser.add_argument("--window-title", default="")
    parser.add_argument("--expect-events", default="", help="comma-separated event codes")
    args = parser.parse_args()

    os.environ["WINEPREFIX"] = str(args.prefix)
    machine = Machine(args.prefix)
    installed = not args.uninstalled
    problems = []
    print_files(machine, problems, installed)
    print_registry(problems, installed)
    print_shortcuts(machine, problems, installed)
    print_window(args.window_title, problems, installed)
    funnel_url = args.base_url + "/funnel.json"
    try:
        funnel = fetch_funnel(funnel_url)
    except (OSError, ValueError) as error:
        funnel = {}
        problems.append(f"cannot read {funnel_url}: {error}")
    expected = [int(e) for e in args.expect_events.split(",") if e.strip()]
    print_events(args.db, args.since_id, funnel, problems, expected)
    if funnel:
        print_funnel(funnel_url, funnel)
    print()
    if problems:
        for problem in problems:
            print(f"demo: FAILED: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
