#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent: packages
# that are already there are skipped, and apt is only asked when something is
# missing. Run it as root, or as a user who may use sudo.
set -euo pipefail

packages=(
  cmake make g++ ninja-build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev
  wine64 wine fonts-wine
  xvfb xauth x11-utils imagemagick xdotool
  fonts-dejavu-core
  zlib1g-dev
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  zip unzip dpkg-dev xz-utils python3
  wixl msitools osslsigncode openssl
  build-essential debhelper lintian fakeroot help2man man-db bash-completion appstream python3-yaml python3-jsonschema pkg-config
  qemu-system-x86 busybox-static cpio kmod libelf1
  nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

# apt needs root: run by root it is called directly, by anyone else through
# sudo, which a Debian installed with a root password does not have.
SUDO=
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || {
    echo "install-deps: ${missing[*]} missing; installing them needs root: run this as root" \
      "(su -c 'bash $0'), or install sudo and allow yourself to use it" >&2
    exit 1
  }
  SUDO=sudo
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
