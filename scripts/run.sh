#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine, the very executable that
# ships, against the virtual receiver (installed first into the prefix of
# this command), so the settings window opens populated.
# With a display the program simply runs. Without one it runs under a private
# Xvfb inside a Wine desktop (so the window gets its frame), a screenshot of
# the window is saved to build/screenshots/, and the program is closed again.
# `wine build/windows/sim/virtual/virtual-receiver.exe show` (with
# WINEPREFIX=build/windows/wineprefix-run) then tells what the receiver holds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target NerovaReceiverSetting NerovaVirtualReceiver virtual_receiver_controller
exe="$root/build/windows/app/NerovaReceiverSetting.exe"
controller="$root/build/windows/sim/virtual/virtual-receiver.exe"
prefix="$root/build/windows/wineprefix-run"
caption="Nerova Wireless Receiver Setting V1.1"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ -z "${NEROVA_RUN_SCREENSHOT:-}" ]; then
  bash scripts/wine-run.sh "$prefix" "$controller" install
  exec bash scripts/wine-run.sh "$prefix" "$exe"
fi

. scripts/xvfb-session.sh
nerova_ensure_display
bash scripts/wine-run.sh "$prefix" "$controller" install

shots="$root/build/screenshots"
mkdir -p "$shots"

desktop_width=1024 desktop_height=640
bash scripts/wine-run.sh "$prefix" explorer /desktop=nerova,${desktop_width}x${desktop_height} "$exe" &
wine_pid=$!

window=""
for _ in $(seq 1 240); do
  window=$(xdotool search --name "^$caption\$" 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  if ! kill -0 "$wine_pid" 2>/dev/null; then
    echo "run: the program ended before its window appeared" >&2
    exit 1
  fi
  sleep 0.5
done
if [ -z "$window" ]; then
  echo "run: no settings window within 120 s" >&2
  kill "$wine_pid" 2>/dev/null || true
  exit 1
fi

# The window shows at once and fills in when its first load has read the
# receiver (about a second); give it that, then let the poll timer tick once
# so the signal picture is current.
sleep 4
shot="$shots/program.png"
import -window root "$shot"
echo "run: screenshot saved to $shot"

ended() { ! kill -0 "$wine_pid" 2>/dev/null; }
wait_for_end() {
  for _ in $(seq 1 "$1"); do
    ended && return 0
    sleep 0.5
  done
  return 1
}

# The tray icon is the only one in the notification area, at the right end
# of the desktop's taskbar. A right click opens its menu, which the screen's
# edge pushes to the left of the cursor; a click on its one item ends the
# program.
xdotool mousemove $((desktop_width - 11)) $((desktop_height - 10)) click 3 2>/dev/null || true
sleep 1.5
menu_shot="$shots/program-tray-menu.png"
import -window root "$menu_shot"
echo "run: screenshot of the tray menu saved to $menu_shot"
xdotool mousemove $((desktop_width - 35)) $((desktop_height - 12)) click 1 2>/dev/null || true

# If that did not end it, close the window as a user would (Escape is its
# Cancel), then wait for Wine.
if ! wait_for_end 20; then
  echo "run: the tray menu's Exit did not end the program; closing its window" >&2
  xdotool windowactivate --sync "$window" key Escape 2>/dev/null || true
  wait_for_end 40 || true
fi
if kill -0 "$wine_pid" 2>/dev/null; then
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
fi
wait "$wine_pid" 2>/dev/null || true
