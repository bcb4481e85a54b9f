#!/usr/bin/env bash
# The uninstall record as Wine's own uninstaller lists it: present after registration, gone after
# the key is removed. Usage: uninstall_list_check.sh WINE_RUN PROBE_EXE
set -euo pipefail
wine_run=$1 probe=$2
name="Tessaryn List Check"
"$wine_run" "$probe" remove "$name" >/dev/null 2>&1 || true

"$wine_run" "$probe" add "$name" 'C:\Program Files\Tessaryn List Check\unins000.exe' \
  "Corvalis" "3.1.4" "https://tessaryn.example/" "" || { echo "registration failed"; exit 1; }
listing=$("$wine_run" uninstaller --list 2>/dev/null | tr -d '\r')
# Wine prints one "key|||DisplayName" line per entry.
echo "$listing" | grep -Fx "$name|||$name" >/dev/null || {
  echo "not listed:"; echo "$listing"; exit 1; }
version=$("$wine_run" reg query \
  "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name" /v DisplayVersion \
  2>/dev/null | tr -d '\r')
echo "$version" | grep -E 'DisplayVersion +REG_SZ +3\.1\.4' >/dev/null || {
  echo "reg query shows no version:"; echo "$version"; exit 1; }

"$wine_run" "$probe" remove "$name"
if "$wine_run" uninstaller --list 2>/dev/null | grep -F "$name" >/dev/null; then
  echo "still listed after removal"; exit 1
fi
echo "listed and removed"
