#!/usr/bin/env bash
# Builds the start-up benchmark of the Windows build and runs it under Wine
# (under a private Xvfb without a display):
#   bench-startup.sh [ROUNDS]
# The settings program and a bare Win32 window start the same way, one after
# the other, against the virtual receiver; it prints when each showed a
# window, and when the settings window filled in, against the bare window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset windows >/dev/null
cmake --build --preset windows --target startup_bench >/dev/null
NEROVA_WINE_DESKTOP=1 NEROVA_WINE_VARIANT=bench bash scripts/wine-run.sh "$root/build/windows/wineprefix" \
  "$root/build/windows/bench/app/startup_bench.exe" "$@" 2>/dev/null | tr -d '\r'
