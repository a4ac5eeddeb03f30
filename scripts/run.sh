#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine: the demo build, whose
# receiver is the substitute, so the settings window opens populated.
#   NEROVA_RUN_BUILD=real   runs the DirectShow build instead (Wine has no
#                           receiver: the window opens without one)
# With a display the program simply runs. Without one it runs under a private
# Xvfb inside a Wine desktop (so the window gets its frame), a screenshot of
# the window is saved to build/screenshots/, and the program is closed again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/fetch-minizip.sh

build=${NEROVA_RUN_BUILD:-demo}
case "$build" in
  demo) target=NerovaReceiverSettingDemo ;;
  real) target=NerovaReceiverSetting ;;
  *) echo "NEROVA_RUN_BUILD must be demo or real" >&2; exit 2 ;;
esac

cmake --preset windows >/dev/null
cmake --build --preset windows --target "$target"
exe="$root/build/windows/app/$target.exe"
prefix="$root/build/windows/wineprefix"
caption="Nerova Wireless Receiver Setting V1.1"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ -z "${NEROVA_RUN_SCREENSHOT:-}" ]; then
  exec bash scripts/wine-run.sh "$prefix" "$exe"
fi

. scripts/xvfb-session.sh
nerova_ensure_display
shots="$root/build/screenshots"
mkdir -p "$shots"

bash scripts/wine-run.sh "$prefix" explorer /desktop=nerova,1024x640 "$exe" &
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

# The window shows once its start-up load is done; give it one paint, then
# let the poll timer tick once so the signal picture is current.
sleep 3
shot="$shots/$build.png"
import -window root "$shot"
echo "run: screenshot saved to $shot"

# Close it as a user would (Escape is the window's Cancel), then wait for Wine.
xdotool windowactivate --sync "$window" key Escape 2>/dev/null || true
for _ in $(seq 1 40); do
  kill -0 "$wine_pid" 2>/dev/null || break
  sleep 0.5
done
if kill -0 "$wine_pid" 2>/dev/null; then
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
fi
wait "$wine_pid" 2>/dev/null || true
