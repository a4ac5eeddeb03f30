#!/usr/bin/env bash
# Builds the command-line tool's Debian package with Debian's own tooling
# (dpkg-buildpackage and debhelper, from debian/):
#   build-deb.sh OUT_DIR
# The project's source (what git tracks, as it is in the worktree, and the
# fetched minizip) is copied into build/deb/, where the package is built
# from scratch, so that neither the worktree nor its parent folder gets
# Debian's build products. OUT_DIR receives nerova-cli_<version>_<arch>.deb
# and the package's line in OUT_DIR/SHA256SUMS, beside the lines of the
# Windows packages there. The version is debian/changelog's, which the
# package build checks against the program's. File times are
# SOURCE_DATE_EPOCH (by default the last commit's time), so the same source
# builds to the same bytes.
set -euo pipefail
umask 022
fail() { echo "build-deb: $*" >&2; exit 1; }
[ $# -eq 1 ] || { echo "usage: build-deb.sh OUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out_dir=$(cd "$1" && pwd)
[ -f "$root/third_party/minizip/unzip.c" ] || fail "minizip is not fetched: run scripts/fetch-minizip.sh"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export LC_ALL=C.UTF-8
package=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Source)
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
deb_name=${package}_${version}_${arch}.deb

work=$root/build/deb
source_dir=$work/$package-$version
rm -rf "$work"
mkdir -p "$source_dir"
# Tracked and new files as they are now (deleted ones left out), then minizip.
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -f "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf -) | tar -C "$source_dir" -xf -
mkdir -p "$source_dir/third_party"
cp -a "$root/third_party/minizip" "$source_dir/third_party/"

(cd "$source_dir" && dpkg-buildpackage -b --no-sign -J2) >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; fail "dpkg-buildpackage failed; the whole log is $work/build.log"; }
[ -f "$work/$deb_name" ] || fail "dpkg-buildpackage made no $deb_name"

# One sums file for the whole release: the other packages' lines stay.
rm -f "$out_dir/${package}_"*.deb
cp "$work/$deb_name" "$out_dir/"
sums=$out_dir/SHA256SUMS
{
  if [ -f "$sums" ]; then awk -v p="^[*]?${package}_.*[.]deb$" '$2 !~ p' "$sums"; fi
  (cd "$out_dir" && sha256sum "$deb_name")
} >"$sums.new"
mv "$sums.new" "$sums"

echo "build-deb: $out_dir/$deb_name"
echo "build-deb: $sums"
