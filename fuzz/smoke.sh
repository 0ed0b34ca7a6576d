#!/bin/sh
# Builds the fuzzer with clang in a build directory of its own and fuzzes
# for a bounded time, starting from the seed exports and from what earlier
# runs in the same directory found.
#   smoke.sh SOURCE_DIR WORK_DIR SECONDS
# Without clang and its libFuzzer runtime the run is skipped (77), except in
# CI (CI=true), where it fails.
set -eu
src=$1
work=$2
seconds=$3

. "$src/tests/outside_check.sh"

cxx=$(command -v clang++-14 || command -v clang++ || true)
[ -n "$cxx" ] || missing "clang++ not found: cannot build the fuzzer"
mkdir -p "$work/corpus"
printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' \
  >"$work/probe.cc"
"$cxx" -fsanitize=fuzzer,address,undefined "$work/probe.cc" -o "$work/probe" 2>/dev/null ||
  missing "$cxx cannot link a libFuzzer target (libclang-rt missing?)"

cmake -S "$src" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLANTREX_FUZZ=ON -DQUILLANTREX_TESTS=OFF -DQUILLANTREX_SANITIZED=OFF >/dev/null
cmake --build "$work/build" --target quillantrex_fuzzer -j 2

exec "$work/build/fuzz/quillantrex_fuzzer" -max_total_time="$seconds" -max_len=512 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -dict="$src/fuzz/export.dict" \
  -artifact_prefix="$work/" "$work/corpus" "$src/fuzz/corpus"
