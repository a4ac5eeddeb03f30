#!/usr/bin/env bash
# Writes the release's manifests for winget, the Windows package manager:
#   make-winget-manifests.sh OUT_DIR VERSION
# OUT_DIR holds the release's MSI and portable zip; OUT_DIR/winget receives
# the version, installer and default-locale manifests (multi-file manifest,
# schema 1.12.0): the MSI as a per-user installer, the zip as a portable
# nerova-cli, each with its SHA-256. The files are where
# NEROVA_RELEASE_URL says a release's files lie (by default the download
# site's folder of VERSION); `winget install --manifest OUT_DIR/winget`
# installs from them.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: make-winget-manifests.sh OUT_DIR VERSION" >&2; exit 2; }
out_dir=$1
version=$2
release_url=${NEROVA_RELEASE_URL:-https://downloads.nerova.example/receiver-setting/$version}
[[ "$release_url" =~ ^https?://[^[:space:]]+$ ]] || { echo "winget: NEROVA_RELEASE_URL '$release_url' is no http(s) URL" >&2; exit 1; }
release_url=${release_url%/}

identifier=Nerova.ReceiverSetting
schema=1.12.0
name=NerovaReceiverSetting-$version-x64
msi=$out_dir/$name.msi
zip=$out_dir/$name-portable.zip
for file in "$msi" "$zip"; do
  [ -f "$file" ] || { echo "winget: $file is missing" >&2; exit 1; }
done
sha256() { sha256sum "$1" | cut -d' ' -f1 | tr a-f A-F; }
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
product_code=$(msi_property "$msi" ProductCode)
upgrade_code=$(msi_property "$msi" UpgradeCode)
[ -n "$product_code" ] && [ -n "$upgrade_code" ] || { echo "winget: $msi has no product or upgrade code" >&2; exit 1; }
# The folder the zip unpacks to, as its entries name it.
unzip -l "$zip" "$name/nerova-cli.exe" >/dev/null || { echo "winget: $zip holds no $name/nerova-cli.exe" >&2; exit 1; }

dir=$out_dir/winget
rm -rf "$dir"
mkdir -p "$dir"
header() { echo "# yaml-language-server: \$schema=https://aka.ms/winget-manifest.$1.$schema.schema.json"; echo; }

{ header version
  cat <<EOF2
PackageIdentifier: $identifier
PackageVersion: $version
DefaultLocale: en-US
ManifestType: version
ManifestVersion: $schema
EOF2
} >"$dir/$identifier.yaml"

{ header installer
  cat <<EOF2
PackageIdentifier: $identifier
PackageVersion: $version
MinimumOSVersion: 10.0.0.0
Installers:
  - Architecture: x64
    InstallerType: msi
    Scope: user
    InstallerUrl: $release_url/$name.msi
    InstallerSha256: $(sha256 "$msi")
    ProductCode: '$product_code'
    AppsAndFeaturesEntries:
      - UpgradeCode: '$upgrade_code'
    Commands:
      - nerova-cli
  - Architecture: x64
    InstallerType: zip
    NestedInstallerType: portable
    NestedInstallerFiles:
      - RelativeFilePath: $name\\nerova-cli.exe
        PortableCommandAlias: nerova-cli
    InstallerUrl: $release_url/$name-portable.zip
    InstallerSha256: $(sha256 "$zip")
    Commands:
      - nerova-cli
ManifestType: installer
ManifestVersion: $schema
EOF2
} >"$dir/$identifier.installer.yaml"

{ header defaultLocale
  cat <<EOF2
PackageIdentifier: $identifier
PackageVersion: $version
PackageLocale: en-US
Publisher: Nerova
PackageName: Nerova Wireless Receiver Setting
Moniker: nerova-cli
License: Proprietary
ShortDescription: Sets up the Nerova USB wireless video receiver, in a window or with nerova-cli.
Description: |-
  Sets up the Nerova USB wireless video receiver: which camera it receives
  (by camera model or by stream URL), the camera's Wi-Fi name and password,
  and the receiver's firmware. The window shows the camera's signal
  strength; nerova-cli does the same from a terminal or a script.
Tags:
  - camera
  - receiver
  - usb
  - wireless
ManifestType: defaultLocale
ManifestVersion: $schema
EOF2
} >"$dir/$identifier.locale.en-US.yaml"
echo "release: $dir"
