#!/usr/bin/env bash
# The release as a Windows user meets it, under Wine:
#   release_test.sh BUILD_DIR PROJECT_VERSION
# Makes the packages twice (the project's version and the next patch
# version), checks their sums, signatures and the executables' versions in
# the MSI, then in a fresh prefix of its own: installs the older MSI
# silently as the README says, starts the program from its Start-menu
# shortcut and waits for its settings window, installs the newer MSI over it
# (one product left, the newer version), uninstalls silently, and looks for
# anything of ours left behind.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build_dir=$(cd "$1" && pwd)
old_version=$2
IFS=. read -r major minor patch <<<"$old_version"
new_version=$major.$minor.$((patch + 1))

work=$build_dir/release-test
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all
# No Gecko or Mono installers; no menu entries written into the host's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
caption="Nerova Wireless Receiver Setting V1.1"
product_name="Nerova Wireless Receiver Setting"

fail() { echo "release test: FAIL: $*" >&2; exit 1; }
step() { echo "release test: $*"; }
# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

stop_wine() {
  wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
}
cleanup() {
  stop_wine
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
stop_wine
rm -rf "$work"
mkdir -p "$work"

# --- The packages ----------------------------------------------------------
unset NEROVA_SIGN_CERT NEROVA_SIGN_KEY NEROVA_SIGN_PASS NEROVA_SIGN_TIMESTAMP_URL
NEROVA_RELEASE_VERSION= bash "$root/release/make-packages.sh" "$build_dir" "$work/old"
NEROVA_RELEASE_VERSION=$new_version bash "$root/release/make-packages.sh" "$build_dir" "$work/new"
. "$root/release/signing.sh"
ca=$(signing_test_certificate "$build_dir")
old_msi=$work/old/NerovaReceiverSetting-$old_version-x64.msi
new_msi=$work/new/NerovaReceiverSetting-$new_version-x64.msi
zip=$work/old/NerovaReceiverSetting-$old_version-x64-portable.zip

verify_signature() {
  osslsigncode verify -CAfile "$ca" -in "$1" >/dev/null 2>&1 || fail "no valid signature on $1"
}
msi_property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }

for dir in old new; do
  (cd "$work/$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of $dir do not match"
done
[ "$(msi_property "$old_msi" ProductVersion)" = "$old_version" ] || fail "old MSI's ProductVersion"
[ "$(msi_property "$new_msi" ProductVersion)" = "$new_version" ] || fail "new MSI's ProductVersion"
upgrade_code=$(msi_property "$old_msi" UpgradeCode)
[ -n "$upgrade_code" ] && [ "$upgrade_code" = "$(msi_property "$new_msi" UpgradeCode)" ] \
  || fail "the two MSIs do not share an UpgradeCode"
old_code=$(msi_property "$old_msi" ProductCode)
new_code=$(msi_property "$new_msi" ProductCode)
# Windows removes only the folders that the RemoveFile table names (Wine
# removes emptied ones by itself, so the uninstall below cannot tell): each
# folder holding a component of ours must be named there.
msi_rows() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
component_dirs=$(msi_rows "$old_msi" Component | cut -f3 | sort -u | tr "\n" " ")
removed_dirs=$(msi_rows "$old_msi" RemoveFile | awk -F'\t' '$3 == "" && $5 >= 2 { print $4 }' | sort -u | tr "\n" " ")
[ "$component_dirs" = "$removed_dirs" ] || fail "folders removed on uninstall: $removed_dirs; folders of ours: $component_dirs"
verify_signature "$old_msi"
verify_signature "$new_msi"
# Each executable's version is in the file table, as its version record has it.
for exe in NerovaReceiverSetting.exe nerova-cli.exe; do
  file_version=$(msi_rows "$old_msi" File | awk -F'\t' -v f="$exe" '{ sub(/^.*[|]/, "", $3) } $3 == f { print $5 }')
  [ "$file_version" = "$old_version.0" ] || fail "the MSI's file table gives $exe the version '$file_version'"
done

unzip -q "$zip" -d "$work/unzipped"
portable=$work/unzipped/NerovaReceiverSetting-$old_version-x64
for f in NerovaReceiverSetting.exe nerova-cli.exe nerova-cli.schema.json README.txt LICENSE-zlib.txt LICENSE-minizip.txt; do
  [ -s "$portable/$f" ] || fail "portable zip lacks $f"
done
schema_status=0
python3 "$here/json_schema_check.py" "$portable/nerova-cli.schema.json" || schema_status=$?
case $schema_status in
  0) ;;
  77) step "python3-jsonschema is missing: the JSON schema is not checked" ;;
  *) fail "the zip's nerova-cli.schema.json is not a valid JSON schema" ;;
esac
grep -q "Jean-loup Gailly" "$portable/LICENSE-zlib.txt" || fail "zlib licence text"
grep -q "Gilles Vollant" "$portable/LICENSE-minizip.txt" || fail "minizip licence text"
verify_signature "$portable/NerovaReceiverSetting.exe"
verify_signature "$portable/nerova-cli.exe"
step "packages, sums and signatures are good"

# The winget manifests: each kind's required fields, one package and version
# throughout, and installers that are the release's files, by URL and sum.
NEROVA_RELEASE_URL=https://example.test/r/ bash "$root/release/make-winget-manifests.sh" "$work/old" "$old_version"
python3 - "$work/old" "$old_version" "$old_code" "$upgrade_code" <<'PY' || fail "the winget manifests"
import glob, hashlib, os, sys, yaml, zipfile
folder, version, product_code, upgrade_code = sys.argv[1:]
required = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                      "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}
manifests = {}
for path in glob.glob(os.path.join(folder, "winget", "*.yaml")):
    manifest = yaml.safe_load(open(path, encoding="utf-8"))
    kind = manifest.get("ManifestType")
    assert kind in required and kind not in manifests, f"{path}: manifest type {kind}"
    missing = [field for field in required[kind] if not manifest.get(field)]
    assert not missing, f"{path} lacks {missing}"
    manifests[kind] = manifest
assert set(manifests) == set(required), f"manifests: {sorted(manifests)}"
assert len({(m["PackageIdentifier"], str(m["PackageVersion"]), m["ManifestVersion"]) for m in manifests.values()}) == 1
assert str(manifests["version"]["PackageVersion"]) == version
assert manifests["version"]["DefaultLocale"] == manifests["defaultLocale"]["PackageLocale"]
installers = {i["InstallerType"]: i for i in manifests["installer"]["Installers"]}
assert sorted(installers) == ["msi", "zip"], f"installer types {sorted(installers)}"
for installer in installers.values():
    for field in ("Architecture", "InstallerUrl", "InstallerSha256"):
        assert installer.get(field), f"{installer['InstallerType']} installer lacks {field}"
    url = installer["InstallerUrl"]
    assert url.startswith("https://example.test/r/") and "//" not in url[len("https://"):], f"URL {url}"
    file = os.path.join(folder, os.path.basename(url))
    digest = hashlib.sha256(open(file, "rb").read()).hexdigest()
    assert installer["InstallerSha256"].lower() == digest, f"{url}: sum is not {digest}"
msi, portable = installers["msi"], installers["zip"]
assert msi["Scope"] == "user" and msi["ProductCode"] == product_code, f"MSI installer {msi}"
assert msi["AppsAndFeaturesEntries"][0]["UpgradeCode"] == upgrade_code
assert portable["NestedInstallerType"] == "portable"
nested, = portable["NestedInstallerFiles"]
assert nested["PortableCommandAlias"] == "nerova-cli", f"alias {nested}"
names = zipfile.ZipFile(os.path.join(folder, os.path.basename(portable["InstallerUrl"]))).namelist()
assert nested["RelativeFilePath"].replace("\\", "/") in names, f"{nested['RelativeFilePath']} is not in the zip"
PY
step "winget manifests name the release's files with their sums"

# --- A fresh prefix on an X server of the test's own -----------------------
# (the settings window is found by its caption, which other tests' windows
# on a shared display carry too)
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for 30 test -s "$work/display" || fail "no X server"
export DISPLAY=:$(cat "$work/display")
wineboot -i >/dev/null 2>&1 || true
# known_folder VARIABLE: where %VARIABLE% of the prefix's user lies.
known_folder() { winepath -u "$(wine cmd /c echo "%$1%" | tr -d '\r')"; }
install_dir="$(known_folder LOCALAPPDATA)/Programs/Nerova Receiver Setting"
menu_dir="$(known_folder APPDATA)/Microsoft/Windows/Start Menu/Programs/Nerova Receiver Setting"
shortcut="$menu_dir/$product_name.lnk"

# Keys of the installed-programs list whose DisplayName is ours (Wine keeps
# per-user products there under HKLM; Windows under HKCU).
arp_keys() {
  local hive
  for hive in HKCU HKLM; do
    wine reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null | tr -d '\r' |
      awk -v name="$product_name" '/^HKEY_/ { key = $0 }
        $1 == "DisplayName" { value = $0; sub(/^ *[^ ]+ +[^ ]+ +/, "", value); if (value == name) print key }' || true
  done
}
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v v="$2" '$1 == v { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print; exit }'
}
installed_exe_ok() { [ -f "$install_dir/NerovaReceiverSetting.exe" ]; }
# The user's PATH as the registry holds it, one entry a line, and whether a
# new process (a command prompt started afresh) finds nerova-cli.
user_path_entries() { reg_value 'HKCU\Environment' PATH | tr ';' '\n'; }
install_dir_windows="$(winepath -w "$install_dir")"
path_entries_of_ours() { user_path_entries | grep -c -i -F -x -e "$install_dir_windows" -e "$install_dir_windows\\" || true; }
new_terminal_finds_cli() { (cd "$work" && wine cmd /c "nerova-cli --version" 2>/dev/null | tr -d '\r' | grep -q '^nerova-cli '); }
# The user's PATH has an entry of someone else's, which must stay.
wine reg add 'HKCU\Environment' /v PATH /t REG_SZ /d 'C:\tools' /f >/dev/null 2>&1 || fail "could not set the user's PATH"

# msiexec_silently ACTION MSI: the silent install (/i) or uninstall (/x) as
# the README gives it, in the folder that holds the MSI.
msiexec_silently() { (cd "$(dirname "$2")" && wine msiexec "$1" "$(basename "$2")" /qn); }

# --- Install -----------------------------------------------------------------
msiexec_silently /i "$old_msi" || fail "msiexec /i of $old_version returned $?"
installed_exe_ok || fail "no program in $install_dir"
[ -f "$shortcut" ] || fail "no Start-menu shortcut $shortcut"
for f in nerova-cli.exe nerova-cli.schema.json README.txt LICENSE-zlib.txt LICENSE-minizip.txt; do
  [ -f "$install_dir/$f" ] || fail "$f not installed"
done
verify_signature "$install_dir/NerovaReceiverSetting.exe"
wine "$install_dir/nerova-cli.exe" --help 2>/dev/null | grep -q '^Usage: nerova-cli' ||
  fail "the installed nerova-cli.exe does not run"
mapfile -t keys < <(arp_keys)
[ "${#keys[@]}" -eq 1 ] || fail "${#keys[@]} installed-programs entries after the install"
[ "$(reg_value "${keys[0]}" DisplayVersion)" = "$old_version" ] || fail "installed version is not $old_version"
[ "$(reg_value "${keys[0]}" Publisher)" = "Nerova" ] || fail "publisher is not Nerova"
[ "$(reg_value "${keys[0]}" Size)" -gt 0 ] 2>/dev/null || fail "no size in the installed-programs entry"
[ "$(path_entries_of_ours)" -eq 1 ] || fail "the user's PATH ($(reg_value 'HKCU\Environment' PATH)) lacks $install_dir_windows"
user_path_entries | grep -q -x -F 'C:\tools' || fail "the install lost the user's own PATH entry"
if reg_value 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' PATH | grep -q -i -F "$install_dir_windows"; then
  fail "the install changed the machine's PATH"
fi
new_terminal_finds_cli || fail "a new command prompt does not find nerova-cli"
step "$old_version installed, on the user's PATH"

# --- The installed program starts from its shortcut --------------------------
settings_window() { xdotool search --name "^$caption\$" 2>/dev/null | head -n1; }
window_shows() { [ -n "$(settings_window)" ]; }
# In the background: start waits for whatever the shortcut opens when that
# is no program of ours.
wine start /unix "$shortcut" >/dev/null 2>&1 &
wait_for 120 window_shows || fail "no settings window within 120 s"
pid=$(xdotool getwindowpid "$(settings_window)")
tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q 'Programs\\Nerova Receiver Setting\\NerovaReceiverSetting.exe' \
  || fail "the window belongs to $(tr '\0' ' ' <"/proc/$pid/cmdline"), not the installed program"
stop_wine
step "the installed program shows its settings window"

# --- Upgrade in place --------------------------------------------------------
msiexec_silently /i "$new_msi" || fail "msiexec /i of $new_version returned $?"
mapfile -t keys < <(arp_keys)
[ "${#keys[@]}" -eq 1 ] || fail "${#keys[@]} installed-programs entries after the upgrade"
[ "$(reg_value "${keys[0]}" DisplayVersion)" = "$new_version" ] || fail "upgraded version is not $new_version"
[[ "${keys[0]}" == *"$new_code" ]] || fail "the remaining entry is not the new product"
installed_exe_ok || fail "the upgrade lost the program"
[ -f "$shortcut" ] || fail "the upgrade lost the shortcut"
[ "$(path_entries_of_ours)" -eq 1 ] || fail "after the upgrade the user's PATH is $(reg_value 'HKCU\Environment' PATH)"
step "$new_version replaced $old_version"

# --- Uninstall leaves nothing of ours -----------------------------------------
msiexec_silently /x "$new_msi" || fail "msiexec /x returned $?"
[ ! -e "$install_dir" ] || fail "$install_dir is left"
[ ! -e "$menu_dir" ] || fail "$menu_dir is left"
[ "$(arp_keys | wc -l)" -eq 0 ] || fail "installed-programs entry is left"
if wine reg query 'HKCU\Software\Nerova' >/dev/null 2>&1; then fail "HKCU\\Software\\Nerova is left"; fi
[ "$(path_entries_of_ours)" -eq 0 ] || fail "the user's PATH still holds the folder: $(reg_value 'HKCU\Environment' PATH)"
user_path_entries | grep -q -x -F 'C:\tools' || fail "the uninstall took the user's own PATH entry"
if new_terminal_finds_cli; then fail "a new command prompt still finds nerova-cli"; fi
# Then anything at all, in files or registry, that names us or our products,
# and the installer's cached copy of the package (it has a random name).
# (the registry files are current once the prefix's wineserver has ended)
stop_wine
leftovers=$( (find "$WINEPREFIX/drive_c" | grep -i -e nerova -e "${old_code//[\{\}]/}" -e "${new_code//[\{\}]/}";
              grep -i -e nerova -e "${old_code//[\{\}]/}" -e "${new_code//[\{\}]/}" "$WINEPREFIX"/*.reg;
              find "$WINEPREFIX/drive_c/windows/Installer" -name '*.msi' 2>/dev/null) || true)
[ -z "$leftovers" ] || fail "left behind: $leftovers"
step "uninstall left nothing behind"
echo "release test: passed"
