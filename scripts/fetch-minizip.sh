#!/usr/bin/env bash
# Fetches and unpacks Debian's minizip source package (with Debian's patches
# applied) into third_party/minizip, for both builds. apt is pointed at a
# private, temporary source list and state directory, so the system's apt
# configuration is left exactly as it was.
#
# One change of our own: minizip 1.1 tests the zip64 markers of a central
# record (sizes and offset of 0xFFFFFFFF) against (unsigned long)-1, which is
# that value where long has 32 bits (Win64) and never matches where it has
# 64 (Linux). The markers are compared as 32-bit values, so every build reads
# a zip64 entry's sizes the way the Windows program does.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dest="$root/third_party/minizip"

mark_zip64_as_32_bit() {
  sed -i 's/(unsigned long)-1/0xFFFFFFFFu/g' "$dest/unzip.c"
  if grep -q '(unsigned long)-1' "$dest/unzip.c"; then
    echo "fetch-minizip: zip64 markers still compared with (unsigned long)-1" >&2
    exit 1
  fi
}

if [ -f "$dest/unzip.c" ] && [ -f "$dest/ioapi.c" ] && [ -f "$dest/iowin32.c" ]; then
  mark_zip64_as_32_bit
  echo "fetch-minizip: already there"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/parts" "$work/archives/partial"

# Same mirrors as the system's own deb entries, as source entries.
sources=$(grep -h -E '^\s*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1 | awk '{print $2}')
[ -n "$sources" ] || sources=$(grep -h -E '^\s*deb\s' /etc/apt/sources.list 2>/dev/null | head -n1 | awk '{print $2}')
[ -n "$sources" ] || { echo "fetch-minizip: no Debian mirror configured" >&2; exit 1; }
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
cat > "$work/parts/minizip-src.sources" <<SRC
Types: deb-src
URIs: $sources
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC

opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/parts"
      -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::Archives=$work/archives"
      -o "APT::Sandbox::User=root")
apt-get "${opts[@]}" -qq update
(cd "$work" && apt-get "${opts[@]}" -qq source minizip >/dev/null)

srcdir=$(find "$work" -maxdepth 1 -type d -name 'minizip-*' | head -n1)
[ -n "$srcdir" ] || { echo "fetch-minizip: source package did not unpack" >&2; exit 1; }
# The package keeps the sources either at its top or under contrib/minizip.
file=$(find "$srcdir" -name unzip.c | head -n1)
[ -n "$file" ] || { echo "fetch-minizip: unzip.c not found" >&2; exit 1; }
mkdir -p "$dest"
cp "$(dirname "$file")"/*.c "$(dirname "$file")"/*.h "$dest"/
cp "$srcdir"/debian/copyright "$dest"/COPYRIGHT.debian 2>/dev/null || true
mark_zip64_as_32_bit
echo "fetch-minizip: unpacked $(basename "$srcdir") into third_party/minizip"
