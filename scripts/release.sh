#!/usr/bin/env bash
# Builds the Windows program and makes its release in dist/: the signed
# per-user installer (.msi), the portable zip, SHA256SUMS and the winget
# manifests (release/make-packages.sh). Signing uses NEROVA_SIGN_CERT and
# NEROVA_SIGN_KEY (PEM; NEROVA_SIGN_PASS if the key has a password); without
# them a throwaway test certificate signs, and the script says so loudly.
# NEROVA_RELEASE_URL is where the release's files will lie for download
# (the manifests' installer URLs).
# Then builds the command-line tool's Debian package with dpkg-buildpackage
# (release/build-deb.sh, from debian/) and adds it to dist/ and its line to
# SHA256SUMS.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target NerovaReceiverSetting nerova-cli
bash release/make-packages.sh build/windows dist

bash release/build-deb.sh dist
