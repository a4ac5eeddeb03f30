#!/usr/bin/env bash
# The command-line tool's Debian package as Debian's tools and a Debian user
# meet it:
#   deb_test.sh PROJECT_VERSION
# Builds the package with dpkg-buildpackage (release/build-deb.sh) into a
# folder of the test's own and has lintian check it (any error or warning
# fails), then checks its fields, its files with their owners and modes, the
# udev rule, the AppStream record that names the receiver and the JSON
# schema, the maintainer scripts with a working, a failing and no udevadm,
# the manual page against the packed program's --help, the bash completion,
# and runs the packed program: --help, --version, and list (text and JSON,
# against the schema) where no receiver is attached.
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
changelog_version=$(dpkg-parsechangelog -S Version)
[ "$changelog_version" = "$version" ] || fail "debian/changelog is at $changelog_version, the project at $version"
bash release/build-deb.sh "$work/out"
deb=$work/out/nerova-cli_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"
(cd "$work/out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
lintian_status=0
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$work/lintian.txt" || true
[ "$lintian_status" -eq 0 ] || fail "lintian exited with $lintian_status: errors or warnings (above)"
step "lintian has no error or warning"

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
-rw-r--r-- root/root ./usr/share/bash-completion/completions/nerova-cli
-rw-r--r-- root/root ./usr/share/doc/nerova-cli/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/nerova-cli/copyright
-rw-r--r-- root/root ./usr/share/man/man1/nerova-cli.1.gz
-rw-r--r-- root/root ./usr/share/metainfo/com.nerova.nerova_cli.metainfo.xml
-rw-r--r-- root/root ./usr/share/nerova-cli/nerova-cli.schema.json
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
copyright=$tree/usr/share/doc/nerova-cli/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" ||
  fail "the copyright is not machine-readable"
grep -q '^Copyright: .*Nerova' "$copyright" || fail "the copyright does not name Nerova"
# Each library package the program depends on (dpkg-shlibdeps found them
# from what it links) is named there.
for library in $(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends"); do
  grep -q -w -F "$library" "$copyright" || fail "the copyright does not name $library, which the program links"
done
rule=$(grep -v -e '^#' -e '^[[:space:]]*$' "$tree/lib/udev/rules.d/60-nerova-receiver.rules")
[ "$(wc -l <<<"$rule")" -eq 1 ] || fail "the udev rules file holds more than one rule"
for key in 'SUBSYSTEM=="video4linux"' 'ATTRS{idVendor}=="1d6b"' 'ATTRS{idProduct}=="010c"' \
           'GROUP="video"' 'MODE="0660"'; do
  [[ "$rule" == *"$key"* ]] || fail "the udev rule lacks $key: $rule"
done
metainfo=$tree/usr/share/metainfo/com.nerova.nerova_cli.metainfo.xml
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "the AppStream record is not valid"
grep -q -F '<modalias>usb:v1D6Bp010Cd*</modalias>' "$metainfo" ||
  fail "the AppStream record does not provide the receiver's modalias"
schema=$tree/usr/share/nerova-cli/nerova-cli.schema.json
# check_json SCHEMA-CHECK-ARGUMENTS...: false when the check fails; without
# python3-jsonschema it says so and passes.
check_json() {
  local status=0
  python3 "$here/json_schema_check.py" "$@" || status=$?
  [ "$status" -eq 77 ] && { step "python3-jsonschema is missing: JSON not checked against the schema"; return 0; }
  return "$status"
}
check_json "$schema" || fail "the JSON schema is not a valid schema"
step "fields, files, the udev rule, the AppStream record and the JSON schema are good"

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
  list_output=$(timeout 60 "$program" list 2>"$work/list.err") || status=$?
  [ "$status" -eq 0 ] || fail "list without a receiver exited with $status, not 0: $(cat "$work/list.err")"
  [ -z "$list_output" ] || fail "list without a receiver printed: $list_output"
  grep -q -F 'No receiver is attached.' "$work/list.err" || fail "list without a receiver says: $(cat "$work/list.err")"
  list_json=$(timeout 60 "$program" list --json 2>/dev/null) || fail "list --json without a receiver exited with $?"
  check_json "$schema" list - <<<"$list_json" || fail "list --json without a receiver: $list_json"
  python3 -c 'import json, sys; sys.exit(json.load(sys.stdin)["receivers"] != [])' <<<"$list_json" ||
    fail "list --json without a receiver lists: $list_json"
  step "the packed program finds no receiver, and says so in the schema's terms"
fi

# --- The manual page ---------------------------------------------------------
# Every line of --help is in the page, compared as words the way the page
# sets them: "Usage:" becomes the synopsis, a heading such as "Options:" a
# section such as OPTIONS. The page's own notes come besides.
page=$tree/usr/share/man/man1/nerova-cli.1.gz
words_of() { tr -s ' \t\n' ' ' | sed 's/^ //; s/ $//'; }
page_text=$(zcat "$page" | groff -man -Tascii -rHY=0 -rLL=400n -P-cbou 2>/dev/null | words_of)
[ -n "$page_text" ] || fail "the manual page renders to nothing"
while IFS= read -r line; do
  line=$(sed 's/^Usage: //; s/^\([A-Z][a-z]*\( [a-z]*\)*\):$/\1/' <<<"$line" | words_of)
  [ -n "$line" ] || continue
  grep -q -i -F -e "$line" <<<"$page_text" || fail "the manual page lacks this line of --help: $line"
done <<<"$help_text"
for section in 'CODE PAGES' PERMISSIONS 'JSON OUTPUT' FILES; do
  grep -q -F -e "$section" <<<"$page_text" || fail "the manual page has no section $section"
done
grep -q -F "nerova-cli $version" <<<"$page_text" || fail "the manual page is not the one of version $version"
step "the manual page says all that --help says, and its notes"

# --- Bash completion -------------------------------------------------------
completion=$tree/usr/share/bash-completion/completions/nerova-cli
[ "$(pkg-config --variable=completionsdir bash-completion)" = /usr/share/bash-completion/completions ] ||
  fail "bash-completion looks for completions elsewhere"
# A stand-in for the program whose "list --json" shows two receivers, one
# without a serial number.
cat >"$work/list.json" <<'EOF'
{"format":1,"receivers":[{"number":1,"name":"usb#vid_1d6b&pid_010c&mi_00#1-1","serial":"NRV20260001","port":"1-1","firmwareVersion":"V1.2","state":"ready"},
{"number":2,"name":"usb#vid_1d6b&pid_010c&mi_00#1-2","serial":null,"port":"1-2","firmwareVersion":null,"state":"not-answering"}]}
EOF
check_json "$schema" list "$work/list.json" || fail "the stand-in's list is not what the schema describes"
stand_in=$work/nerova-cli
{ echo '#!/bin/sh'
  echo "[ \"\$1 \$2\" = 'list --json' ] || exec \"$program\" \"\$@\""
  echo "cat \"$work/list.json\""
} >"$stand_in"
chmod 0755 "$stand_in"
# offered LINE: what Tab offers at the end of LINE, one a line, sorted.
offered() {
  bash -c '. /usr/share/bash-completion/bash_completion; . "$1"
    read -ra COMP_WORDS <<<"$2"; [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_LINE=$2; COMP_POINT=${#2}; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _nerova_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$1"
}
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z]*\).*/\1/p' <<<"$help_text" | sort)
[ -n "$commands" ] || fail "--help lists no commands"
[ "$(offered "$stand_in ")" = "$commands" ] || fail "Tab after the program offers: $(offered "$stand_in ")"
models=$(sed -n 's/^Camera models: \(.*\)[.]$/\1/p' <<<"$help_text" | sed 's/, /\n/g' | sort)
[ -n "$models" ] || fail "--help lists no camera models"
[ "$(offered "$stand_in apply --model ")" = "$models" ] || fail "Tab after --model offers: $(offered "$stand_in apply --model ")"
[ "$(offered "$stand_in apply --mo")" = --model ] || fail "--mo completes to: $(offered "$stand_in apply --mo")"
show_options=$(offered "$stand_in show --")
grep -q -x -e --json <<<"$show_options" && grep -q -x -e --device <<<"$show_options" &&
  ! grep -q -x -e --model <<<"$show_options" || fail "Tab after show -- offers: $show_options"
devices=$(printf '%s\n' 1 2 NRV20260001 1-1 1-2 'usb#vid_1d6b\&pid_010c\&mi_00#1-1' 'usb#vid_1d6b\&pid_010c\&mi_00#1-2' | sort)
[ "$(offered "$stand_in --device ")" = "$devices" ] || fail "Tab after --device offers: $(offered "$stand_in --device ")"
# provision takes apply's values besides its own options; files are offered
# for a FILE.
provision_options=$(offered "$stand_in provision --")
grep -q -x -e --model <<<"$provision_options" && grep -q -x -e --table <<<"$provision_options" &&
  ! grep -q -x -e --count <<<"$provision_options" || fail "Tab after provision -- offers: $provision_options"
mkdir "$work/files"
touch "$work/files/fleet.csv" "$work/files/fleet.json"
from_files=$(cd "$work/files" && offered "$stand_in apply --from ")
[ "$from_files" = $'fleet.csv\nfleet.json' ] || fail "Tab after --from offers: $from_files"
step "bash completes commands, options, models, files and the receivers that list shows"
echo "deb test: passed"
