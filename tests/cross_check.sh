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

. "$src/tests/outside_check.sh"

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
status=0
build_and_test --preset "$name"
# $run, the emulator, is empty for a build this processor runs itself.
# shellcheck disable=SC2086
same_pages "$host_tool" "this build's" $run "$work/build/quillantrex"

[ "$status" = 0 ] && echo "$name: tests passed, pages as in this build"
exit "$status"
