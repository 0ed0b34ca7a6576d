#!/bin/sh
# Cross-builds the Windows program and its tests with MinGW-w64, runs the
# tests under Wine, then holds the program to the Linux build: the same page,
# byte for byte, for the example and the fuzzer's seed exports, and a write
# failure reported as one. Last, the program must need no DLL beyond the
# system's and be hardened, and the zip must hold it with its README, manual
# and licence, and be the same, byte for byte, when the program is built
# again in another folder.
#   windows_check.sh SOURCE_DIR WORK_DIR LINUX_TOOL
# Without MinGW-w64 or Wine the check is skipped (77), except in CI
# (CI=true), where it fails.
set -eu
src=$1
work=$2
linux_tool=$3

. "$src/tests/outside_check.sh"

command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  missing "x86_64-w64-mingw32-g++-posix not found (Debian: g++-mingw-w64-x86-64-posix)"
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || missing "wine64 not found"

# A Wine prefix of the build's own, made once; the user's stays untouched.
export WINEPREFIX="$work/wine"
wine="$src/cmake/wine-run.sh"
mkdir -p "$work"
# Made before the build, whose test discovery runs the tests under Wine and
# would otherwise wait for the prefix within its timeout.
[ -d "$WINEPREFIX" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
status=0
build_and_test --toolchain "$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLANTREX_SANITIZED=OFF
same_pages "$linux_tool" "the Linux build's" "$wine" "$work/build/quillantrex.exe"

# A page that cannot be written is an error, not "Done!".
run="$work/run"
rm -rf "$run" && mkdir -p "$run"
cp "$src/examples/contacts.csv" "$run/c.csv"
ln -s /dev/full "$run/carnet.htm"
code=0
(cd "$run" && "$wine" "$work/build/quillantrex.exe" c.csv >console) || code=$?
if [ "$code" != 255 ] || ! grep -q "Error while writing the destination file: carnet.htm" \
  "$run/console" || grep -q "Done!" "$run/console"; then
  echo "write failure not reported (exit $code):" && cat "$run/console"
  status=1
fi
rm -rf "$run"

# Built with the C++ runtime inside: MinGW's own DLLs are not on a user's
# machine.
exe="$work/build/quillantrex.exe"
if x86_64-w64-mingw32-objdump -p "$exe" | grep -i "DLL Name" | grep -Ei "lib(stdc|gcc|winpthread)"; then
  echo "quillantrex.exe needs MinGW's DLLs"
  status=1
fi
# Protected stack frames, and loaded at a random address, high-entropy
# included, with its data not executable.
x86_64-w64-mingw32-nm "$exe" | grep -q " __stack_chk_fail\$" ||
  { echo "quillantrex.exe is built without the stack protector" && status=1; }
for feature in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
  x86_64-w64-mingw32-objdump -p "$exe" | grep -q "^[[:space:]]*$feature\$" ||
    { echo "quillantrex.exe lacks $feature" && status=1; }
done
(cd "$work/build" && cpack -G ZIP >/dev/null)
zip=$(echo "$work/build"/quillantrex-*-win64.zip)
contents=$(cmake -E tar tf "$zip")
for file in quillantrex.exe README.txt quillantrex-manual.txt LICENSE.txt; do
  echo "$contents" | grep -q "/$file\$" || { echo "the zip lacks $file" && status=1; }
done
# The program alone, without its tests, built again in a folder of another
# name and at another time, and packed: the same zip.
cmake --toolchain "$src/cmake/mingw-w64-x86_64.cmake" -S "$src" -B "$work/again" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLANTREX_SANITIZED=OFF -DQUILLANTREX_TESTS=OFF >/dev/null
if (cd "$work/again" && cpack -G ZIP >"$work/again.log" 2>&1); then
  sh "$src/tests/compare_packages.sh" "$zip" "$work/again/$(basename "$zip")" || status=1
else
  cat "$work/again.log" && echo "the second build's zip failed" && status=1
fi

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
"$wineserver" -w 2>/dev/null || true
[ "$status" = 0 ] && echo "Windows program: tests passed under Wine, pages as on Linux"
exit "$status"
