#!/usr/bin/env bash
# The command-line tool's Debian package as a Debian user meets it:
#   deb_test.sh PROJECT_VERSION
# Builds nerova-cli with the linux-release preset and packs it
# (release/make-deb.sh) into a folder of the test's own, then checks the
# package's fields, its files with their owners and modes, the udev rule, the
# maintainer scripts with a working, a failing and no udevadm, and runs the
# packed program: --help, --version, and list where no receiver is attached.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
version=$1

fail() { echo "deb test: FAIL: $*" >&2; exit 1; }
step() { echo "deb test: $*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- The package ----------------------------------------------------------------
cd "$root"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target nerova-cli
bash release/make-deb.sh build/linux-release "$work/out" "$version"
deb=$work/out/nerova-cli_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"
(cd "$work/out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = nerova-cli ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for library in libc6 libstdc++6; do
  [[ ", $depends" == *", $library "* ]] || fail "Depends ($depends) lacks $library"
done

# Exactly these files, root's, with these modes; every folder root's and 0755.
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ { print $1, $2, $6 }' <<<"$listing" | sort)
expected=$(sort <<'EOF'
-rw-r--r-- root/root ./lib/udev/rules.d/60-nerova-receiver.rules
-rw-r--r-- root/root ./usr/share/doc/nerova-cli/copyright
-rwxr-xr-x root/root ./usr/bin/nerova-cli
EOF
)
[ "$files" = "$expected" ] || fail "files in the package:"$'\n'"$files"
odd_dirs=$(awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root")' <<<"$listing")
[ -z "$odd_dirs" ] || fail "folders not root's or not 0755:"$'\n'"$odd_dirs"

tree=$work/tree
dpkg-deb -x "$deb" "$tree"
program=$tree/usr/bin/nerova-cli
if readelf -S "$program" | grep -q '\.symtab'; then fail "the program is not stripped"; fi
grep -q 'Nerova' "$tree/usr/share/doc/nerova-cli/copyright" || fail "the copyright does not name Nerova"
rule=$(grep -v -e '^#' -e '^[[:space:]]*$' "$tree/lib/udev/rules.d/60-nerova-receiver.rules")
[ "$(wc -l <<<"$rule")" -eq 1 ] || fail "the udev rules file holds more than one rule"
for key in 'SUBSYSTEM=="video4linux"' 'ATTRS{idVendor}=="1d6b"' 'ATTRS{idProduct}=="010c"' \
           'GROUP="video"' 'MODE="0660"'; do
  [[ "$rule" == *"$key"* ]] || fail "the udev rule lacks $key: $rule"
done
step "fields, files and the udev rule are good"

# --- Maintainer scripts -----------------------------------------------------
# Fake udevadms that log their arguments: one that works, one whose control
# fails as where udev does not run; and a PATH without any.
control=$work/control
dpkg-deb -e "$deb" "$control"
for script in postinst postrm; do
  [ -x "$control/$script" ] || fail "$script is not executable"
done
mkdir "$work/udev-works" "$work/udev-fails" "$work/no-udev"
log=$work/udevadm.log
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$log" >"$work/udev-works/udevadm"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$log" >"$work/udev-fails/udevadm"
chmod 0755 "$work/udev-works/udevadm" "$work/udev-fails/udevadm"
reload_and_trigger=$'control --reload-rules\ntrigger --subsystem-match=video4linux'

# run_script BIN_DIR SCRIPT ARGUMENT: runs it with only BIN_DIR on PATH and
# sets `asked` to what udevadm was asked. The script failing fails the test.
run_script() {
  : >"$log"
  PATH=$1 "$control/$2" "$3" 2>/dev/null || fail "$2 $3 exited with $? (udevadm from $1)"
  asked=$(cat "$log")
}
run_script "$work/udev-works" postinst configure
[ "$asked" = "$reload_and_trigger" ] || fail "postinst asked udevadm: $asked"
run_script "$work/udev-fails" postinst configure
[ "$asked" = "control --reload-rules" ] || fail "postinst went on after udev refused to reload: $asked"
run_script "$work/no-udev" postinst configure
run_script "$work/udev-works" postrm remove
[ "$asked" = "$reload_and_trigger" ] || fail "postrm asked udevadm: $asked"
run_script "$work/udev-fails" postrm purge
run_script "$work/no-udev" postrm remove
step "postinst and postrm reload udev when it runs and never fail"

# --- The packed program ----------------------------------------------------
help_text=$(timeout 60 "$program" --help) || fail "--help exited with $?"
grep -q '^Usage: nerova-cli' <<<"$help_text" || fail "--help prints no usage line: $help_text"
program_version=$(timeout 60 "$program" --version) || fail "--version exited with $?"
[ "$program_version" = "nerova-cli $version" ] || fail "the program says '$program_version', the package $version"
step "the packed program prints its usage and the package's version"
# The receiver as sysfs shows a USB device; on a machine with one attached
# the answer for none cannot be asked for.
receiver_attached() {
  local device
  for device in /sys/bus/usb/devices/*; do
    [ "$(cat "$device/idVendor" 2>/dev/null)" = 1d6b ] && [ "$(cat "$device/idProduct" 2>/dev/null)" = 010c ] && return 0
  done
  return 1
}
if receiver_attached; then
  step "a receiver is attached: list without one is not checked"
else
  status=0
  list_output=$(timeout 60 "$program" list 2>&1) || status=$?
  [ "$status" -eq 3 ] || fail "list without a receiver exited with $status, not 3: $list_output"
  grep -qi 'no receiver' <<<"$list_output" || fail "list without a receiver says: $list_output"
  step "the packed program finds no receiver"
fi
echo "deb test: passed"
