#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# The prefix is created on first use (serialised with a lock, since tests run
# in parallel). Without a display the program runs under a private Xvfb.
# NEROVA_WINE_LOCALE=xx_YY.UTF-8 selects a prefix of its own for that locale,
# because Wine takes the ANSI code page from the locale of the first process
# of a wineserver.
# NEROVA_WINE_DESKTOP=1 selects a prefix whose programs all run inside one
# Wine virtual desktop, with its taskbar and notification area: windows
# there show and hide at once (on a bare X server without a window manager
# Wine waits for X to confirm each one), and the shell's tray exists.
set -euo pipefail

prefix=$1; shift
if [ -n "${NEROVA_WINE_LOCALE:-}" ]; then
  prefix="$prefix-${NEROVA_WINE_LOCALE%%.*}"
  export LC_ALL=$NEROVA_WINE_LOCALE LANG=$NEROVA_WINE_LOCALE
fi
if [ -n "${NEROVA_WINE_DESKTOP:-}" ]; then
  prefix="$prefix-desktop"
fi
# NEROVA_WINE_VARIANT=NAME gives a test a prefix of its own (what it installs
# there, such as the virtual receiver, stays out of the other tests' way).
if [ -n "${NEROVA_WINE_VARIANT:-}" ]; then
  prefix="$prefix-$NEROVA_WINE_VARIANT"
fi
# NEROVA_WINE_DPI=N: a prefix of its own whose display has N dots per inch
# (144 is Windows' 150 % scaling).
if [ -n "${NEROVA_WINE_DPI:-}" ]; then
  prefix="$prefix-dpi$NEROVA_WINE_DPI"
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Gecko or Mono installer dialogs in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.nerova-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    if [ -n "${NEROVA_WINE_DPI:-}" ]; then
      wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$NEROVA_WINE_DPI" /f >/dev/null 2>&1 || true
    fi
    if [ -n "${NEROVA_WINE_DESKTOP:-}" ]; then
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 || true
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x800 /f >/dev/null 2>&1 || true
    fi
    wineserver -w || true
    touch "$prefix/.nerova-ready"
  fi
  # Wine's own Tahoma and Marlett (Debian's fonts-wine) are not copied into a
  # prefix by wineboot here; without them dialogs fall back to a wider font
  # and caption buttons show letters instead of their glyphs.
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$prefix/drive_c/windows/Fonts/tahoma.ttf" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
) 9>"$prefix.lock"

# A desktop prefix runs one program at a time, each on an X server of its
# own and with a wineserver of its own: its desktop window would otherwise
# cover the shared display and take the X focus from the windows of tests
# running beside it, and a desktop stays bound to the X server it started on.
if [ -n "${NEROVA_WINE_DESKTOP:-}" ]; then
  exec 8>"$prefix.run.lock"
  flock 8
  xvfb-run -a -s "-screen 0 1280x800x24" sh -c 'wine "$@"; rc=$?; wineserver -k 2>/dev/null; exit $rc' sh "$@"
  exit $?
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" wine "$@"
fi
exec wine "$@"
