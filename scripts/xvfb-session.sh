#!/usr/bin/env bash
# Sourced by the test and run scripts: makes sure a display exists. Starts a
# private Xvfb when there is none and stops it when the shell exits.
nerova_ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    NEROVA_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
    if xdpyinfo >/dev/null 2>&1; then
      trap 'kill $NEROVA_XVFB_PID 2>/dev/null || true' EXIT
      NEROVA_OWN_XVFB=1
      return 0
    fi
    kill "$NEROVA_XVFB_PID" 2>/dev/null || true
  done
  echo "no display could be started" >&2
  return 1
}
