#!/bin/sh
# Builds the Debian package twice from these sources with the release
# configuration, in two build folders of different names, one after the
# other (so at different times) and in different time zones, and holds the
# two packages to each other: the same bytes, or the first place where they
# differ (tests/compare_packages.sh). No folder of either build, nor of the
# sources, may be written into the program. Both builds run with umask 022,
# as dpkg-buildpackage sets it: cpack gives the members of a .deb the modes
# its files get on disk.
#   check_reproducible.sh CMAKE CPACK SOURCE_DIR WORK_DIR
# Exit status 77 means skipped (the reason is printed).
set -eu
cmake=$1 cpack=$2 src=$3 work=$4

command -v dpkg-shlibdeps >/dev/null 2>&1 || {
  echo "SKIPPED: dpkg-shlibdeps not found: not a Debian system with dpkg-dev"
  exit 77
}
# The package's times come from the last commit, not from the caller.
unset SOURCE_DATE_EPOCH

# package FOLDER TZ: the release build of the tool and its package.
package() {
  (
    umask 022
    export TZ="$2"
    rm -rf "$1"
    "$cmake" -S "$src" -B "$1" -DCMAKE_BUILD_TYPE=Release -DQUILLANTREX_TESTS=OFF \
      -DQUILLANTREX_SANITIZED=OFF >"$work/log" 2>&1 &&
      "$cmake" --build "$1" -j 2 >>"$work/log" 2>&1 &&
      "$cpack" -G DEB --config "$1/CPackConfig.cmake" -B "$1/package" >>"$work/log" 2>&1
  ) || {
    cat "$work/log"
    echo "FAILED: building the package in $1"
    exit 1
  }
}
mkdir -p "$work"
package "$work/first" UTC0
package "$work/second-build-folder" XYZ-14
set -- "$work"/first/package/quillantrex_*.deb
first=$1
second=$work/second-build-folder/package/$(basename "$first")

status=0
sh "$src/tests/compare_packages.sh" "$first" "$second" || status=1
for deb in "$first" "$second"; do
  rm -rf "$work/root" && dpkg-deb -x "$deb" "$work/root"
  for folder in "$src" "$work"; do
    if strings -a "$work/root/usr/bin/quillantrex" | grep -F "$folder"; then
      echo "the program in $deb holds the folder $folder"
      status=1
    fi
  done
done
[ "$status" = 0 ] && echo "two builds, one package: $(basename "$first"), byte for byte"
exit "$status"
