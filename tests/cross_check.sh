#!/bin/sh
# Builds the tool and its tests with the preset NAME (armhf, aarch64, s390x:
# another processor, run under qemu-user; libcxx: clang with libc++) in a
# build folder of its own, runs the tests, then holds the tool to this
# build: the same page, byte for byte, for the example and the fuzzer's seed
# exports.
#   cross_check.sh NAME SOURCE_DIR WORK_DIR HOST_TOOL
# Without the compiler or qemu the check is skipped (77), except in CI
# (CI=true), where it fails.
set -eu
name=$1
src=$2
work=$3
host_tool=$4

missing() {
  echo "$1"
  [ "${CI:-}" = true ] && exit 1
  exit 77
}

case $name in
  armhf) compiler=arm-linux-gnueabihf-g++ qemu=qemu-arm package=g++-arm-linux-gnueabihf ;;
  aarch64) compiler=aarch64-linux-gnu-g++ qemu=qemu-aarch64 package=g++-aarch64-linux-gnu ;;
  s390x) compiler=s390x-linux-gnu-g++ qemu=qemu-s390x package=g++-s390x-linux-gnu ;;
  libcxx) compiler=clang++-14 qemu= package="clang-14 libc++-14-dev libc++abi-14-dev" ;;
  *) echo "unknown build: $name" && exit 2 ;;
esac
command -v "$compiler" >/dev/null || missing "$compiler not found (Debian: $package)"
run=
if [ -n "$qemu" ]; then
  run=$(command -v "$qemu" || command -v "$qemu-static") || missing "$qemu not found (Debian: qemu-user)"
elif ! echo "#include <vector>" | "$compiler" -stdlib=libc++ -x c++ -fsyntax-only - 2>/dev/null; then
  missing "libc++ not found (Debian: $package)"
fi

mkdir -p "$work"
cmake --preset "$name" -S "$src" -B "$work/build" >/dev/null
cmake --build "$work/build" -j 2
status=0
ctest --test-dir "$work/build" -j 2 --output-on-failure || status=1

# The same page as this build.
pages="$work/pages"
for export in "$src/examples/contacts.csv" "$src"/fuzz/corpus/*; do
  rm -rf "$pages" && mkdir -p "$pages/host" "$pages/$name"
  (cd "$pages/host" && "$host_tool" "$export" >/dev/null) || true
  (cd "$pages/$name" && $run "$work/build/quillantrex" "$export" >/dev/null) || true
  if ! cmp "$pages/host/carnet.htm" "$pages/$name/carnet.htm"; then
    echo "page differs from this build's: $export"
    status=1
  fi
done
rm -rf "$pages"

[ "$status" = 0 ] && echo "$name: tests passed, pages as in this build"
exit "$status"
