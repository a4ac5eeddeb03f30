#!/usr/bin/env bash
# nerova-cli against Debian 12's own kernel and its uvcvideo driver, in a
# QEMU guest (TCG), with receivers played as USB devices by receiver-gadget
# through raw-gadget on dummy_hcd's device controllers:
#   run_guest_test.sh WORK_DIR NEROVA_CLI RECEIVER_GADGET
#
# The kernel is the package linux-image-amd64 depends on today, fetched with
# apt-get download through a private apt state (the system's apt is left as
# it was) and unpacked with dpkg -x, never installed. Debian's kernel lacks
# raw-gadget: the module is built from linux-source-6.1's raw_gadget.c
# against that kernel's linux-headers packages, fetched and unpacked the
# same way. Kernel, modules and raw-gadget are kept under WORK_DIR/kernel
# and fetched again only when that is gone. The initramfs (busybox, the
# modules with their dependencies, the two programs with their shared
# libraries, guest_init.sh as /init) is rebuilt whenever one of its inputs
# changed. The guest's console goes to WORK_DIR/guest/console.log, the
# gadgets' request logs to WORK_DIR/guest/requests*.log and each step's
# output to WORK_DIR/guest/steps/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
cli=$2
gadget=$3

# The modules the guest loads from Debian's kernel; their dependencies come
# along. raw_gadget is built beside them.
modules=(dummy_hcd uvcvideo)
guest_timeout_s=300

fail() { echo "guest test: FAIL: $*" >&2; exit 1; }
say() { echo "guest test: $*"; }

# --- The kernel ----------------------------------------------------------------
kernel_dir=$work/kernel

apt_options() {
  local state=$1
  apt_opts=(-o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache"
            -o "Dir::Cache::Archives=$state/archives" -o "Debug::NoLocking=1")
  [ "$(id -u)" -ne 0 ] || apt_opts+=(-o "APT::Sandbox::User=root")
}

# The version of PACKAGE apt has that is the kernel's own (WANTED), else the
# newest: the security archive moves some 6.1 packages on ahead of the
# kernel, and a module's source from one 6.1.y builds against another's
# headers.
version_of() {
  if apt-cache "${apt_opts[@]}" madison "$1" | awk -F'|' '{ gsub(/ /, "", $2); print $2 }' | grep -qxF "$2"; then
    echo "$2"
    return
  fi
  apt-cache "${apt_opts[@]}" policy "$1" | sed -n 's/^ *Candidate: //p'
}

# Builds raw_gadget.ko for kernel VERSION (Debian version DEBIAN_VERSION)
# into the module tree at DEST: from linux-source-6.1 only raw_gadget.c and
# its uapi header (which the headers packages lack) are unpacked.
build_raw_gadget() {
  local version=$1 debian_version=$2 dest=$3
  local build=$kernel_dir.new/raw-gadget
  mkdir -p "$build/debs" "$build/root" "$build/src"
  local kbuild source
  kbuild=$(version_of linux-kbuild-6.1 "$debian_version")
  source=$(version_of linux-source-6.1 "$debian_version")
  if [ -z "$kbuild" ] || [ -z "$source" ]; then fail "apt has no linux-kbuild-6.1 or linux-source-6.1"; fi
  say "downloading linux-headers-$version (kbuild $kbuild) and linux-source-6.1 $source"
  (cd "$build/debs" && apt-get "${apt_opts[@]}" -qq download "linux-headers-$version" \
     "linux-headers-${version%-amd64}-common" "linux-kbuild-6.1=$kbuild" "linux-source-6.1=$source")
  local deb
  for deb in "$build"/debs/linux-headers-*.deb "$build"/debs/linux-kbuild-*.deb; do dpkg -x "$deb" "$build/root"; done
  local headers=$build/root/usr/src/linux-headers-$version
  [ -f "$headers/Makefile" ] || fail "linux-headers-$version holds no Makefile"
  # The headers' Makefile includes its common part by the installed path.
  sed -i "s|^include /usr/src/|include $build/root/usr/src/|" "$headers/Makefile"
  local inside=linux-source-6.1
  dpkg-deb --fsys-tarfile "$build"/debs/linux-source-6.1_*.deb | tar -xO ./usr/src/linux-source-6.1.tar.xz |
    xz -dc | tar -x -C "$build/src" "$inside/drivers/usb/gadget/legacy/raw_gadget.c" \
                                    "$inside/include/uapi/linux/usb/raw_gadget.h"
  local module=$build/module
  mkdir -p "$module/include/uapi/linux/usb"
  cp "$build/src/$inside/drivers/usb/gadget/legacy/raw_gadget.c" "$module/"
  cp "$build/src/$inside/include/uapi/linux/usb/raw_gadget.h" "$module/include/uapi/linux/usb/"
  # shellcheck disable=SC2016  # $(src) is kbuild's
  printf 'obj-m := raw_gadget.o\nccflags-y := -I$(src)/include\n' >"$module/Kbuild"
  make -C "$headers" M="$module" modules >"$build/make.log" 2>&1 || { cat "$build/make.log"; fail "raw_gadget did not build"; }
  mkdir -p "$dest/lib/modules/$version/extra"
  strip --strip-debug -o "$dest/lib/modules/$version/extra/raw_gadget.ko" "$module/raw_gadget.ko"
  echo "linux-source-6.1 $source, linux-kbuild-6.1 $kbuild" >"$kernel_dir.new/raw-gadget-from"
  rm -rf "$build"
}

fetch_kernel() {
  local state=$work/apt
  rm -rf "$state" "$kernel_dir.new"
  mkdir -p "$state/lists/partial" "$state/cache" "$state/archives/partial" "$kernel_dir.new"
  apt_options "$state"
  say "fetching the package lists (private apt state)"
  apt-get "${apt_opts[@]}" -qq update
  local package
  package=$(apt-cache "${apt_opts[@]}" depends linux-image-amd64 |
            sed -nE 's/^ *Depends: (linux-image-[0-9][^ ]*)$/\1/p' | head -n1)
  [ -n "$package" ] || fail "linux-image-amd64 names no kernel package"
  say "downloading $package"
  (cd "$kernel_dir.new" && apt-get "${apt_opts[@]}" -qq download "$package")
  local deb
  deb=$(find "$kernel_dir.new" -maxdepth 1 -name "${package}_*.deb" | head -n1)
  [ -n "$deb" ] || fail "apt-get download left no $package package"

  # Only the kernel image and the modules the guest needs are kept.
  local tree=$kernel_dir.new/tree
  dpkg -x "$deb" "$tree"
  local vmlinuz version
  vmlinuz=$(find "$tree/boot" -maxdepth 1 -name 'vmlinuz-*' | head -n1)
  [ -n "$vmlinuz" ] || fail "$package holds no boot/vmlinuz-*"
  version=${vmlinuz##*/vmlinuz-}
  cp "$vmlinuz" "$kernel_dir.new/vmlinuz"
  echo "$version" >"$kernel_dir.new/version"
  echo "$package" >"$kernel_dir.new/package"
  depmod -b "$tree" "$version"
  local line path
  while read -r line; do
    case $line in
      insmod\ *) path=${line#insmod }; path=${path%% *} ;;
      *) continue ;;
    esac
    mkdir -p "$kernel_dir.new/modules/$(dirname "${path#"$tree"/}")"
    cp "$path" "$kernel_dir.new/modules/${path#"$tree"/}"
  done < <(for module in "${modules[@]}"; do modprobe -d "$tree" -S "$version" --show-depends "$module"; done)
  cp "$tree/lib/modules/$version"/modules.{order,builtin,builtin.modinfo} \
     "$kernel_dir.new/modules/lib/modules/$version/"
  build_raw_gadget "$version" "$(dpkg-deb -f "$deb" Version)" "$kernel_dir.new/modules"
  rm -rf "$tree" "$deb" "$state"
  echo "${modules[*]} raw_gadget" >"$kernel_dir.new/for-modules"
  rm -rf "$kernel_dir"
  mv "$kernel_dir.new" "$kernel_dir"
}

if [ ! -f "$kernel_dir/vmlinuz" ] ||
   [ "$(cat "$kernel_dir/for-modules" 2>/dev/null)" != "${modules[*]} raw_gadget" ]; then
  fetch_kernel
fi
version=$(cat "$kernel_dir/version")
say "kernel $(cat "$kernel_dir/package") ($version); raw_gadget from $(cat "$kernel_dir/raw-gadget-from")"

# --- The initramfs -------------------------------------------------------------
initramfs=$work/initramfs.cpio.gz
busybox=/bin/busybox
for input in "$cli" "$gadget" "$busybox"; do [ -f "$input" ] || fail "$input is missing"; done
shared_libraries() { ldd "$cli" "$gadget" | awk '/=> \// {print $3} /^[[:space:]]*\/lib/ {print $1}' | sort -u; }
# shellcheck disable=SC2046  # one path a word
inputs_stamp=$(sha256sum "$cli" "$gadget" "$here/guest_init.sh" "$0" "$busybox" "$kernel_dir/vmlinuz" \
                 $(shared_libraries) | awk '{print $1}' | sha256sum | awk '{print $1}')

build_initramfs() {
  local root=$work/initramfs.root
  rm -rf "$root"
  mkdir -p "$root"/{bin,sbin,usr/bin,etc,proc,sys,dev,tmp,run}
  cp "$busybox" "$root/bin/busybox"
  ln -s busybox "$root/bin/sh"
  cp "$here/guest_init.sh" "$root/init"
  chmod 0755 "$root/init"
  cp "$cli" "$root/usr/bin/nerova-cli"
  cp "$gadget" "$root/usr/bin/receiver-gadget"
  # The programs are the native build's, with ASan and UBSan, so that a
  # memory error met only against the real driver fails its step; their
  # runtimes come along with the other shared libraries, at the places the
  # dynamic loader looks for them.
  local library
  for library in $(shared_libraries); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
  # Texts go through iconv in the code page of the locale's language (1252
  # in the C locale, 1251 for Russian), which glibc loads as gconv modules.
  local gconv
  gconv=$(dirname "$(find /usr/lib -path '*/gconv/CP1252.so' | head -n1)")
  [ -d "$gconv" ] || fail "glibc's gconv modules are not installed"
  mkdir -p "$root$gconv"
  cp -r "$gconv/gconv-modules" "$gconv/CP1252.so" "$gconv/CP1251.so" "$root$gconv/"
  [ ! -d "$gconv/gconv-modules.d" ] || cp -r "$gconv/gconv-modules.d" "$root$gconv/"
  cp -r "$kernel_dir/modules/lib" "$root/"
  depmod -b "$root" "$version"
  # A user outside the group 'video', for the node the udev rule would give to it.
  printf 'root:x:0:0:root:/:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$root/etc/passwd"
  printf 'root:x:0:\nvideo:x:44:\ntester:x:1000:\n' >"$root/etc/group"
  (cd "$root" && find . -print0 | cpio --null -o -H newc --quiet | gzip -1) >"$initramfs.new"
  mv "$initramfs.new" "$initramfs"
  echo "$inputs_stamp" >"$initramfs.stamp"
  rm -rf "$root"
}

if [ ! -f "$initramfs" ] || [ "$(cat "$initramfs.stamp" 2>/dev/null)" != "$inputs_stamp" ]; then
  say "building the initramfs"
  build_initramfs
fi

# --- The guest -----------------------------------------------------------------
guest=$work/guest
rm -rf "$guest"
mkdir -p "$guest/steps"
console=$guest/console.log
say "booting the guest (console: $console)"
status=0
timeout "$guest_timeout_s" qemu-system-x86_64 -machine q35 -accel tcg -m 768 -smp 1 \
  -display none -serial "file:$console" -monitor none -no-reboot \
  -kernel "$kernel_dir/vmlinuz" -initrd "$initramfs" \
  -append "console=ttyS0 panic=-1 edd=off quiet loglevel=4" || status=$?
[ "$status" -ne 124 ] || say "the guest did not finish within $guest_timeout_s s"

# The guest prints its files between markers: "=== FILE name" ... "=== END".
tr -d '\r' <"$console" | awk -v dir="$guest" '
  /^=== FILE / { file = dir "/" $3; printf "" > file; next }
  /^=== END$/ { if (file) close(file); file = ""; next }
  file { print > file }'

# What the real driver gave, held to the published schema: show --json, the
# list of both receivers, and each provision record.
check_against_schema() {
  local checker=$here/../release/json_schema_check.py schema=$here/../../app/cli/nerova-cli.schema.json
  local rc=0
  python3 "$checker" "$schema" "" "$guest/steps/show-json.out" || rc=$?
  [ "$rc" -ne 77 ] || { say "no python3-jsonschema: the JSON is not checked against the schema"; return 0; }
  [ "$rc" -eq 0 ] || return 1
  python3 "$checker" "$schema" list "$guest/steps/two-list-json.out" || return 1
  local record
  while IFS= read -r record; do
    printf '%s' "$record" | python3 "$checker" "$schema" record - || return 1
  done <"$guest/steps/provision.records"
}

if grep -q '^SCENARIO PASSED$' <(tr -d '\r' <"$console"); then
  check_against_schema || fail "the guest's JSON does not follow nerova-cli.schema.json"
  say "every step passed and its JSON follows the schema (logs in $guest)"
  exit 0
fi
echo "--- what the guest printed (its files are in $guest) ---"
tr -d '\r' <"$console" | awk '/^=== FILE / { inside = 1; next } /^=== END$/ { inside = 0; next } !inside'
fail "the scenario did not pass (qemu exit $status); logs in $guest"
