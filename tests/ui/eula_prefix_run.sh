#!/usr/bin/env bash
# Runs a test program in the license window tests' own Wine prefix (WINEPREFIX), with windows
# that no window manager handles: under Xvfb there is none, and Wine would otherwise wait two
# seconds for one each time a window is hidden or destroyed.
# Usage: eula_prefix_run.sh <wine-run> <program> [arguments...]
set -euo pipefail
wine_run=$1
shift
"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
exec "$wine_run" "$@"
