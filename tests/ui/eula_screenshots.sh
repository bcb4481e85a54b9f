#!/usr/bin/env bash
# Runs the license window's screenshot case under Wine and turns its bitmaps into PNG files.
# Usage: eula_screenshots.sh <eula_window_tests.exe> <wine-run> <output folder>
set -euo pipefail
exe=$1 wine_run=$2 out=$3
mkdir -p "$out"
rm -f "$out"/eula-light.* "$out"/eula-dark.*
TESSARYN_SCREENSHOT_DIR="Z:$out" \
  "$(dirname "$0")/eula_prefix_run.sh" "$wine_run" "$exe" --gtest_filter='EulaWindowTest.Screenshots'
for look in light dark; do
  test -s "$out/eula-$look.bmp" || { echo "no $look screenshot" >&2; exit 1; }
  convert "$out/eula-$look.bmp" "$out/eula-$look.png"
  rm "$out/eula-$look.bmp"
done
echo "screenshots in $out"
