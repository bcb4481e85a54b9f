#!/usr/bin/env bash
# The uninstaller's self-removal, watched from outside: a copy of the probe in a folder of its
# own removes itself; afterwards its file, the folder (read-only file included) and the script
# are gone. The folder name is not plain ASCII, as a product folder may not be.
# Usage: self_remove_check.sh WINE_RUN PROBE_EXE
set -euo pipefail
wine_run=$1 probe=$2
export WINEPREFIX=${WINEPREFIX:-${TESSARYN_WINEPREFIX:?}}
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 # makes the prefix when it is new
drive_c=$WINEPREFIX/drive_c
folder=$drive_c/tessaryn-self-remové
rm -rf "$folder"
mkdir -p "$folder/sub"
cp "$probe" "$folder/unins000.exe"
echo data >"$folder/sub/data.txt"
chmod a-w "$folder/sub/data.txt"
# The script lands in the prefix's temporary folder.
temp=$("$wine_run" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
script=$("$wine_run" winepath -u "$temp\\cleanup.bat" 2>/dev/null)

set +e
"$wine_run" "C:\\tessaryn-self-remové\\unins000.exe" "C:\\tessaryn-self-remové"
code=$?
set -e
[ "$code" -eq 0 ] || { echo "exit code $code, expected 0"; exit 1; }

for _ in $(seq 1 300); do
  [ ! -e "$folder" ] && [ ! -e "$script" ] && break
  sleep 0.1
done
fail=0
[ -e "$folder/unins000.exe" ] && { echo "program file still there"; fail=1; }
[ -e "$folder" ] && { echo "folder still there"; ls -lR "$folder"; fail=1; }
[ -e "$script" ] && { echo "script still there: $script"; cat "$script"; fail=1; }
[ $fail -eq 0 ] && echo "self-removal complete"
exit $fail
