#!/usr/bin/env bash
# Builds both presets and runs every test: the portable core natively (with
# ASan and UBSan, fuzz smoke run included) and the Windows build under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1
bash scripts/fetch-minizip.sh || exit 1

. scripts/xvfb-session.sh

status=0
summary=()

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" || return 1
  echo "=== $preset: test"
  local log="build/$preset-ctest.log"
  ctest --preset "$preset" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  summary+=("$preset: ${line:-no summary}")
  return "$rc"
}

run_preset native || status=1
nerova_ensure_display || exit 1
run_preset windows || status=1
wineserver_bin=$(command -v wineserver || true)
[ -n "$wineserver_bin" ] && WINEPREFIX="$root/build/windows/wineprefix" "$wineserver_bin" -k 2>/dev/null || true

passed=0; failed=0
for s in "${summary[@]}"; do
  echo "$s"
  total=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$s")
  bad=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$s")
  [ -n "$total" ] && passed=$((passed + total - bad)) && failed=$((failed + bad))
done
[ ${#summary[@]} -eq 2 ] || status=1
echo "tests: $passed passed, $failed failed"
exit $status
