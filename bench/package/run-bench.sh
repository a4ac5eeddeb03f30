#!/usr/bin/env bash
# Builds the package benchmark without sanitizers in build/bench and runs it:
#   run-bench.sh [ROUNDS]
# The 64 MiB package is written once to build/bench/package-work and reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DNEROVA_SANITIZE=OFF \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build "$root/build/bench" --target package_bench -j2 >/dev/null
exec "$root/build/bench/bench/package/package_bench" "$root/build/bench/package-work" "${1:-5}"
