#!/usr/bin/env bash
# Packs the built command-line tool into a Debian package:
#   make-deb.sh BUILD_DIR OUT_DIR VERSION
# BUILD_DIR is a configured and built linux-release preset (its
# app/cli/nerova-cli is packed); OUT_DIR receives nerova-cli_<VERSION>_amd64.deb
# and the package's line in OUT_DIR/SHA256SUMS, beside the lines of the
# Windows packages there. The package holds
#   /usr/bin/nerova-cli                              stripped
#   /lib/udev/rules.d/60-nerova-receiver.rules       the receiver's video nodes for group video
#   /usr/share/doc/nerova-cli/copyright
# and the maintainer scripts that have a running udev reload its rules.
# File times are SOURCE_DATE_EPOCH (by default the last commit's time), so
# the same build packs to the same bytes.
set -euo pipefail
umask 022
fail() { echo "make-deb: $*" >&2; exit 1; }
[ $# -eq 3 ] || { echo "usage: make-deb.sh BUILD_DIR OUT_DIR VERSION" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build_dir=$(cd "$1" && pwd)
mkdir -p "$2"
out_dir=$(cd "$2" && pwd)
version=$3

# Debian's upstream version: a digit first, then letters, digits and . + ~
[[ "$version" =~ ^[0-9][A-Za-z0-9.+~]*$ ]] || fail "'$version' is no package version"
program=$build_dir/app/cli/nerova-cli
[ -x "$program" ] || fail "$program is not built"
[[ "$(objdump -f "$program")" == *"file format elf64-x86-64"* ]] || fail "$program is not an x86-64 program"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export LC_ALL=C
package=nerova-cli
deb_name=${package}_${version}_amd64.deb
# The stage lies where Debian's tools expect a package's files:
# debian/<package> beside debian/control.
work=$build_dir/deb-work/$version
stage=$work/debian/$package
rm -rf "$work"
mkdir -p "$stage"

install -D -m 0755 "$program" "$stage/usr/bin/nerova-cli"
strip --strip-unneeded --remove-section=.comment "$stage/usr/bin/nerova-cli"
install -D -m 0644 "$here/linux/60-nerova-receiver.rules" "$stage/lib/udev/rules.d/60-nerova-receiver.rules"

# The copyright covers what the program holds: our code, minizip when the
# firmware package reader is compiled in (its unzip functions are there), and
# the shared libraries it links. One it does not know stops the packing.
doc=$stage/usr/share/doc/$package
install -D -m 0644 "$here/linux/copyright" "$doc/copyright"
needed=$(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }')
for library in $needed; do
  case $library in
    libc.so.6 | libm.so.6 | libstdc++.so.6 | libgcc_s.so.1 | ld-linux-x86-64.so.2) ;;
    libz.so.1)
      { echo; echo "It also links dynamically against zlib (Debian's zlib1g), whose licence is in"
        echo "/usr/share/doc/zlib1g/copyright."; } >>"$doc/copyright" ;;
    *) fail "the program links $library, whose licence release/linux/copyright does not name" ;;
  esac
done
symbols=$(nm --defined-only "$program")
[ -n "$symbols" ] || fail "$program has no symbols: what it contains cannot be told"
if grep -q -E ' T unzOpen(2_64)?$' <<<"$symbols"; then
  minizip_copyright=$root/third_party/minizip/COPYRIGHT.debian
  [ -f "$minizip_copyright" ] || fail "licence text $minizip_copyright is missing"
  printf '\nThe program contains minizip, compiled in; its copyright and licence:\n\n' >>"$doc/copyright"
  cat "$minizip_copyright" >>"$doc/copyright"
fi

# Depends from the libraries the program links, as Debian's tools compute it
# (dpkg-shlibdeps reads the source package's control file and finds the
# package's root by its DEBIAN folder).
mkdir -p "$stage/DEBIAN"
printf 'Source: %s\n\nPackage: %s\nArchitecture: amd64\n' "$package" "$package" >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O -edebian/$package/usr/bin/nerova-cli | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || fail "dpkg-shlibdeps found no dependencies for the program"

install -m 0755 "$here/linux/postinst" "$here/linux/postrm" "$stage/DEBIAN/"
installed_kb=$(du -s -k --exclude=DEBIAN "$stage" | cut -f1)
cat >"$stage/DEBIAN/control" <<EOF
Package: $package
Version: $version
Architecture: amd64
Maintainer: Nerova <support@nerova.example>
Installed-Size: $installed_kb
Depends: $depends
Section: utils
Priority: optional
Description: command-line tool for the Nerova wireless video receiver
 Shows and changes the settings of the Nerova USB wireless video receiver:
 the camera it receives (by model or by stream URL) and the camera's Wi-Fi
 name and password. It also shows the receiver's firmware version and
 watches the camera's signal strength.
 .
 A udev rule gives the receiver's video nodes to the group video and to the
 user at the seat, so the tool needs no root.
EOF
chmod 0644 "$stage/DEBIAN/control"
(cd "$stage" && find usr lib -type f | sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/md5sums"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +

dpkg-deb --root-owner-group --build "$stage" "$work/$deb_name" >/dev/null

# One sums file for the whole release: the other packages' lines stay.
rm -f "$out_dir"/${package}_*_amd64.deb
mv "$work/$deb_name" "$out_dir/"
sums=$out_dir/SHA256SUMS
{
  if [ -f "$sums" ]; then awk -v p="^[*]?${package}_.*_amd64[.]deb$" '$2 !~ p' "$sums"; fi
  (cd "$out_dir" && sha256sum "$deb_name")
} >"$sums.new"
mv "$sums.new" "$sums"

echo "make-deb: $out_dir/$deb_name"
echo "make-deb: $sums"
