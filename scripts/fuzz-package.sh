#!/usr/bin/env bash
# Builds the package reader's fuzzer with clang and libFuzzer (ASan, UBSan)
# into build/fuzz and runs it:
#   fuzz-package.sh [SECONDS] [libFuzzer options...]
# SECONDS defaults to 60 (the smoke run of the test command). First every
# input of the committed corpus (fuzz/package/corpus: packages that found
# faults or reach far) and every seed is replayed; then the fuzzer runs over
# them and build/fuzz/corpus, which grows from run to run. Seeds come from
# the archives the tests build (fuzz/package/make_seeds.cpp). minizip is compiled with the
# same instrumentation from third_party/minizip (scripts/fetch-minizip.sh),
# the sources both builds use.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
out="$root/build/fuzz"
mkdir -p "$out/obj" "$out/seeds" "$out/corpus"

cxx=${CXX_FUZZ:-clang++}
cc=${CC_FUZZ:-clang}
sanitize=(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
common=(-g -O1 -I"$root")

sources=("$root"/update/package_archive.cpp "$root"/update/package_directories.cpp
         "$root"/update/package_metadata.cpp "$root"/update/package_names.cpp
         "$root"/update/package_source.cpp "$root"/update/package_time.cpp
         "$root"/update/package_platform_posix.cpp "$root"/link/utf8_codec.cpp
         "$root"/fuzz/package/package_fuzzer.cpp)
minizip_dir="$root/third_party/minizip"
bash "$root/scripts/fetch-minizip.sh" >/dev/null
minizip_include=(-I"$minizip_dir")
minizip_sources=("$minizip_dir/unzip.c" "$minizip_dir/ioapi.c")
minizip_libs=(-lz)

# Rebuilds only when a source or header is newer than the fuzzer.
fuzzer="$out/package_fuzzer"
newer() {
  local target=$1; shift
  [ -f "$target" ] || return 0
  [ -n "$(find "$@" -newer "$target" -print -quit 2>/dev/null)" ]
}
if newer "$fuzzer" "$root/update" "$root/fuzz/package" "$0" "${minizip_sources[@]}"; then
  echo "fuzz-package: building $fuzzer"
  objects=()
  for c in "${minizip_sources[@]}"; do
    o="$out/obj/$(basename "$c" .c).o"
    "$cc" "${common[@]}" "${sanitize[@]}" -fsanitize=fuzzer-no-link -w -c "$c" -o "$o"
    objects+=("$o")
  done
  for s in "${sources[@]}"; do
    o="$out/obj/$(basename "$s" .cpp).o"
    "$cxx" -std=c++20 -Wall -Wextra "${common[@]}" "${minizip_include[@]}" "${sanitize[@]}" \
      -fsanitize=fuzzer-no-link -c "$s" -o "$o"
    objects+=("$o")
  done
  "$cxx" "${sanitize[@]}" -fsanitize=fuzzer "${objects[@]}" "${minizip_libs[@]}" -o "$fuzzer"
fi

seeder="$out/make_seeds"
if newer "$seeder" "$root/fuzz/package/make_seeds.cpp" "$root/tests/package/zip_builder.cpp" \
     "$root/tests/package/zip_builder.h"; then
  "$cxx" -std=c++20 -O1 -I"$root" "$root/fuzz/package/make_seeds.cpp" "$root/tests/package/zip_builder.cpp" \
    -lz -o "$seeder"
fi
"$seeder" "$out/seeds"

committed="$root/fuzz/package/corpus"
cd "$out"
echo "fuzz-package: replaying the committed corpus and the seeds"
mapfile -t inputs < <(find "$committed" "$out/seeds" -type f | sort)
[ ${#inputs[@]} -gt 0 ] || { echo "fuzz-package: nothing to replay" >&2; exit 1; }
"$fuzzer" -runs=1 "${inputs[@]}" >"$out/replay.log" 2>&1 || { cat "$out/replay.log" >&2; exit 1; }
echo "fuzz-package: ${#inputs[@]} inputs replayed; running for $seconds s"
exec "$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -dict="$root/fuzz/package/zip.dict" -print_final_stats=1 "$@" "$out/corpus" "$committed" "$out/seeds"
