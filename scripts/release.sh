#!/usr/bin/env bash
# Builds the Windows program and makes its release in dist/: the signed
# per-user installer (.msi), the portable zip and SHA256SUMS
# (release/make-packages.sh). Signing uses NEROVA_SIGN_CERT and
# NEROVA_SIGN_KEY (PEM; NEROVA_SIGN_PASS if the key has a password); without
# them a throwaway test certificate signs, and the script says so loudly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target NerovaReceiverSetting
bash release/make-packages.sh build/windows dist
