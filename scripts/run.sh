#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine, against the receiver
# substitute. For now the program is the console settings dump.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target settings_dump
bash scripts/wine-run.sh "$root/build/windows/wineprefix" "$root/build/windows/app/settings_dump.exe"
