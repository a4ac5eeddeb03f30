#!/usr/bin/env bash
# Builds the Windows program and makes its release in dist/: the signed
# per-user installer (.msi), the portable zip and SHA256SUMS
# (release/make-packages.sh). Signing uses NEROVA_SIGN_CERT and
# NEROVA_SIGN_KEY (PEM; NEROVA_SIGN_PASS if the key has a password); without
# them a throwaway test certificate signs, and the script says so loudly.
# Then builds the command-line tool natively (linux-release preset) and adds
# its Debian package to dist/ and its line to SHA256SUMS (release/make-deb.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target NerovaReceiverSetting nerova-cli
bash release/make-packages.sh build/windows dist

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target nerova-cli
version=${NEROVA_RELEASE_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux-release/CMakeCache.txt)}
bash release/make-deb.sh build/linux-release dist "$version"
