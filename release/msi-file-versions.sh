#!/usr/bin/env bash
# Gives each executable in an MSI that wixl built from release/product.wxs
# its file version in the File table, read from the version record of the
# staged executable, as WiX does (wixl leaves the column empty, and has no
# DefaultVersion):
#   msi-file-versions.sh MSI STAGE_DIR
# Windows Installer then knows the installed files by version, and tools
# that read the package see which program it carries. An executable without
# a version record stops the release.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: msi-file-versions.sh MSI STAGE_DIR" >&2; exit 2; }
msi=$1
stage=$2

# file_version EXE: the four numbers of the fixed part of its version record.
file_version() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
# VS_FIXEDFILEINFO: its signature, the structure's version, then the file
# version as two 32-bit halves, most significant first.
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit(f"msi-file-versions: {sys.argv[1]} has no version record")
high, low = struct.unpack_from("<II", data, at + 8)
print(f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")
PY
}

# The File table's rows: key and file name ("SHORT~1.EXE|Long name.exe" or
# the long name alone).
rows=$(msiinfo export "$msi" File | tr -d '\r' | tail -n +4 | cut -f1,3)
found=0
while IFS=$'\t' read -r key name; do
  name=${name#*|}
  [[ ${name,,} == *.exe ]] || continue
  version=$(file_version "$stage/$name")
  msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$version' WHERE \`File\` = '$key'"
  found=$((found + 1))
done <<<"$rows"
[ "$found" -gt 0 ] || { echo "msi-file-versions: $msi holds no executable" >&2; exit 1; }
