#!/usr/bin/env bash
# Runs the progress window tests in their own Wine prefix (WINEPREFIX): they switch the app theme
# in the prefix's registry, and no window manager handles their windows (under Xvfb there is
# none, and Wine would otherwise wait two seconds for one whenever a window goes away). The
# screenshots the tests save as BMP are turned into PNG in the artifacts folder.
# Usage: progress_window_run.sh <wine-run> <program> <artifacts folder>
set -euo pipefail
wine_run=$1 program=$2 artifacts=$3
mkdir -p "$artifacts"
"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
TESSARYN_ARTIFACTS="Z:$artifacts" "$wine_run" "$program"
for shot in "$artifacts"/progress-window-*.bmp; do
  [ -e "$shot" ] || continue
  convert "$shot" "${shot%.bmp}.png"
  rm -f "$shot"
done
