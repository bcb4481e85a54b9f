#!/usr/bin/env bash
# The uninstaller's self-removal, watched from outside: a copy of the probe in a folder of its
# own removes itself; afterwards its file (read-only, as from read-only media), the folder
# (read-only file included) and the work folder with the script are gone, and nothing else in the
# temporary folder was touched. The folder's name holds "%OS%", "&" and a letter that no OEM code
# page shares with Latin ones: the script must read it literally.
# Usage: self_remove_check.sh WINE_RUN PROBE_EXE
set -euo pipefail
wine_run=$1 probe=$2
export WINEPREFIX=${WINEPREFIX:-${TESSARYN_WINEPREFIX:?}}
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 # makes the prefix when it is new
drive_c=$WINEPREFIX/drive_c
name='tessaryn-self-remové %OS% & Ж'
folder=$drive_c/$name
rm -rf "$folder"
mkdir -p "$folder/sub"
cp "$probe" "$folder/unins000.exe"
chmod a-w "$folder/unins000.exe"
echo data >"$folder/sub/data.txt"
chmod a-w "$folder/sub/data.txt"
temp_win=$("$wine_run" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$("$wine_run" winepath -u "$temp_win" 2>/dev/null)
before=$(ls -a "$temp")

set +e
"$wine_run" "C:\\$name\\unins000.exe" "C:\\$name"
code=$?
set -e
[ "$code" -eq 0 ] || { echo "exit code $code, expected 0"; exit 1; }

for _ in $(seq 1 300); do
  [ ! -e "$folder" ] && [ "$(ls -a "$temp")" = "$before" ] && break
  sleep 0.1
done
fail=0
[ -e "$folder/unins000.exe" ] && { echo "program file still there"; fail=1; }
[ -e "$folder" ] && { echo "folder still there"; ls -lR "$folder"; fail=1; }
[ "$(ls -a "$temp")" = "$before" ] || { echo "temporary folder changed:"; ls -la "$temp"; fail=1; }
[ $fail -eq 0 ] && echo "self-removal complete"
exit $fail
