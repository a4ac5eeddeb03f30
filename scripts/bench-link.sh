#!/usr/bin/env bash
# Builds the Windows build's link benchmark and runs it under Wine: the CPU
# share the settings thread spends in 20 RSSI reads with their 100 ms waits,
# with PumpWait and, for scale, with a spinning wait.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset windows >/dev/null
cmake --build --preset windows --target link_rssi_cpu_bench >/dev/null
bash scripts/wine-run.sh "$root/build/windows/wineprefix" \
  "$root/build/windows/bench/link/link_rssi_cpu_bench.exe" "$@" 2>/dev/null | tr -d '\r'
