#!/usr/bin/env bash
# The uninstall record as Wine's own uninstaller lists it: present after registration, gone after
# the key is removed. Usage: uninstall_list_check.sh WINE_RUN PROBE_EXE
set -euo pipefail
wine_run=$1 probe=$2
name="Tessaryn List Check"
"$wine_run" "$probe" remove "$name" >/dev/null 2>&1 || true

"$wine_run" "$probe" add "$name" 'C:\Program Files\Tessaryn List Check\unins000.exe' \
  'C:\Program Files\Tessaryn List Check' "Corvalis" "3.1.4" "https://tessaryn.example/" \
  "https://tessaryn.example/help" "" 2048 || { echo "registration failed"; exit 1; }
listing=$("$wine_run" uninstaller --list 2>/dev/null | tr -d '\r')
# Wine prints one "key|||DisplayName" line per entry.
echo "$listing" | grep -Fx "$name|||$name" >/dev/null || {
  echo "not listed:"; echo "$listing"; exit 1; }
record=$("$wine_run" reg query \
  "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name" 2>/dev/null | tr -d '\r')
for expected in 'DisplayVersion +REG_SZ +3\.1\.4' \
    'UninstallString +REG_SZ +"C:\\Program Files\\Tessaryn List Check\\unins000\.exe"$' \
    'QuietUninstallString +REG_SZ +"C:\\Program Files\\Tessaryn List Check\\unins000\.exe" /VERYSILENT$' \
    'InstallLocation +REG_SZ +C:\\Program Files\\Tessaryn List Check$' \
    'Publisher +REG_SZ +Corvalis$' 'HelpLink +REG_SZ +https://tessaryn\.example/help$' \
    'EstimatedSize +REG_DWORD +0x800$'; do
  echo "$record" | grep -E "^ *$expected" >/dev/null || {
    echo "reg query lacks /$expected/:"; echo "$record"; exit 1; }
done

"$wine_run" "$probe" remove "$name"
if "$wine_run" uninstaller --list 2>/dev/null | grep -F "$name" >/dev/null; then
  echo "still listed after removal"; exit 1
fi
echo "listed and removed"
