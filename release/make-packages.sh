#!/usr/bin/env bash
# Packs a built Windows program into its release:
#   make-packages.sh BUILD_DIR OUT_DIR
# BUILD_DIR is a configured and built Windows preset (its
# app/NerovaReceiverSetting.exe and app/cli/nerova-cli.exe are packed); OUT_DIR receives
#   NerovaReceiverSetting-<version>-x64.msi            per-user installer
#   NerovaReceiverSetting-<version>-x64-portable.zip   programs, JSON schema, read-me, licences
#   SHA256SUMS
#   winget/                                            manifests for winget
# The program is signed before it is packed, then the installer is signed
# (release/signing.sh says with which certificate).
# The version is the CMake project version; NEROVA_RELEASE_VERSION overrides
# it for the packages only (the release test uses it to make an upgrade).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build_dir=$(cd "$1" && pwd)
mkdir -p "$2"
out_dir=$(cd "$2" && pwd)
. "$here/signing.sh"

version=${NEROVA_RELEASE_VERSION:-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")}
# An MSI product version is three numbers; the first two below 256.
if ! [[ "$version" =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}$ ]]; then
  echo "release: no usable version (got '$version')" >&2
  exit 1
fi
name=NerovaReceiverSetting-$version-x64

program=$build_dir/app/NerovaReceiverSetting.exe
cli=$build_dir/app/cli/nerova-cli.exe
for built in "$program" "$cli"; do
  [ -f "$built" ] || { echo "release: $built is not built" >&2; exit 1; }
done
# What goes beside the program: the user's read-me and the licences of what
# it links statically (mingw-w64's runtime includes winpthreads).
licences=(
  "LICENSE-zlib.txt=/usr/share/doc/libz-mingw-w64-dev/copyright"
  "LICENSE-minizip.txt=$root/third_party/minizip/COPYRIGHT.debian"
  "LICENSE-mingw-w64.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright"
)

# The staging folder holds exactly what the install folder and the zip hold.
work=$build_dir/release-work/$version
stage=$work/stage
rm -rf "$work"
mkdir -p "$stage"

signing_setup "$build_dir"
cp "$program" "$cli" "$stage/"
sign_file "$stage/NerovaReceiverSetting.exe"
sign_file "$stage/nerova-cli.exe"
# The JSON Schema of nerova-cli's --json output, beside the program.
cp "$root/app/cli/nerova-cli.schema.json" "$stage/"

# Texts with Windows line ends, so every editor shows them as meant.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$here/README.txt" "$stage/README.txt"
for entry in "${licences[@]}"; do
  source_file=${entry#*=}
  [ -f "$source_file" ] || { echo "release: licence text $source_file is missing" >&2; exit 1; }
  crlf "$source_file" "$stage/${entry%%=*}"
done

# wixl takes source paths relative to where it runs.
cp "$root/resources/pictures/app.ico" "$work/app.ico"
size_kb=$(du -sk "$stage" | cut -f1)
(cd "$work" && wixl --arch x64 -D Version="$version" -D StageDir=stage -D IconFile=app.ico \
  -D SizeKB="$size_kb" -o "$name.msi" "$here/product.wxs")
bash "$here/msi-file-versions.sh" "$work/$name.msi" "$work/stage"
bash "$here/msi-user-path.sh" "$work/$name.msi"
sign_file "$work/$name.msi"

mkdir -p "$work/zip/$name"
cp "$stage"/* "$work/zip/$name/"
(cd "$work/zip" && zip -q -X -r "$work/$name-portable.zip" "$name")

rm -f "$out_dir"/NerovaReceiverSetting-*-x64.msi "$out_dir"/NerovaReceiverSetting-*-x64-portable.zip "$out_dir/SHA256SUMS"
mv "$work/$name.msi" "$work/$name-portable.zip" "$out_dir/"
(cd "$out_dir" && sha256sum "$name.msi" "$name-portable.zip" >SHA256SUMS)
bash "$here/make-winget-manifests.sh" "$out_dir" "$version"

echo "release: $out_dir/$name.msi"
echo "release: $out_dir/$name-portable.zip"
echo "release: $out_dir/SHA256SUMS"
signing_warn_if_test
