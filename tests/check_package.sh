#!/bin/sh
# Builds the Debian package from the build folder, looks inside it and has
# lintian check it: no error and no warning (without lintian this is skipped,
# except in CI, where it fails). With --hardening, it instead has
# hardening-check look at the packaged program (skipped without it, except
# in CI). With --install, and only in CI (CI=true) as root, it instead
# installs the package with dpkg, converts the example with the installed
# command, compares the page with the one the freshly built tool makes, and
# removes the package.
#
# Usage: check_package.sh [--install|--hardening] CPACK BUILD_DIR BUILT_TOOL EXAMPLE
# Exit status 77 means skipped (the reason is printed).
set -eu
mode=lintian
case $1 in
  --install | --hardening)
    mode=${1#--}
    shift
    ;;
esac
cpack=$1 build=$2 built_tool=$3 example=$4

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  exit 1
}

command -v dpkg-deb >/dev/null 2>&1 || skip "dpkg-deb not found: not a Debian system"

work=$(mktemp -d)
installed=no
cleanup() {
  if [ "$installed" = yes ]; then dpkg -r quillantrex >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
set -- "$work"/package/quillantrex_*.deb
[ -f "$1" ] || fail "no quillantrex_*.deb in cpack's output"
deb=$1
echo "built $(basename "$deb")"

for field in Package Version Maintainer Section Depends Description; do
  value=$(dpkg-deb -f "$deb" "$field")
  [ -n "$value" ] || fail "the package has no $field field"
  echo "  $field: $(echo "$value" | head -n 1)"
done
contents=$(dpkg-deb -c "$deb")
doc=./usr/share/doc/quillantrex
for file in ./usr/bin/quillantrex ./usr/share/man/man1/quillantrex.1.gz $doc/copyright \
  $doc/changelog.Debian.gz $doc/README.md; do
  echo "$contents" | grep -q " $file\$" || fail "$file is not in the package"
done
# The licence is there as Debian's copyright file only.
! echo "$contents" | grep -q " $doc/LICENSE\$" || fail "$doc/LICENSE is in the package"
# The newest changelog entry is this package's version.
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - $doc/changelog.Debian.gz | gzip -dc >"$work/changelog"
version=$(dpkg-deb -f "$deb" Version)
head -n 1 "$work/changelog" | grep -q "^quillantrex ($version) " ||
  fail "packaging/debian/changelog has no entry for $version on top"

# needs COMMAND PACKAGE: skips without COMMAND, or fails in CI.
needs() {
  command -v "$1" >/dev/null 2>&1 && return
  [ "${CI:-}" = true ] && fail "$1 not found (Debian: $2)"
  skip "$1 not found (Debian: $2)"
}

if [ "$mode" = hardening ]; then
  needs hardening-check devscripts
  dpkg-deb -x "$deb" "$work/root"
  program=$work/root/usr/bin/quillantrex
  # hardening-check sees stack clash protection only in functions whose
  # frames need probing, and this program has none: the flag is sought in
  # the switches the compiler recorded, where the build kept them.
  if readelf --debug-dump=info "$built_tool" 2>/dev/null | grep 'DW_AT_producer' |
    grep -v -e -fstack-clash-protection | grep -q 'GNU C++'; then
    fail "parts of $built_tool were compiled without -fstack-clash-protection"
  fi
  # On x86, control-flow protection is marked in the program for shadow
  # stacks (CMakeLists.txt), and for indirect branch tracking only where
  # the C library's start files carry that mark too: Debian 12's do not.
  options=
  case $(dpkg-deb -f "$deb" Architecture) in
    amd64 | i386)
      readelf -n "$program" | grep 'x86 feature:.*SHSTK' ||
        fail "the program is not marked for shadow stacks"
      readelf -n "$program" | grep -q 'x86 feature: IBT' || options=--nocfprotection
      ;;
    *) options=--nocfprotection ;;
  esac
  hardening-check $options "$program" || fail "hardening-check finds protection missing"
  echo "hardening-check: every protection it can see is there"
  exit 0
fi

if [ "$mode" = lintian ]; then
  needs lintian lintian
  # Informational tags are shown but allowed, except those that say the
  # program lacks hardening or is stripped by half.
  lintian --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1 || {
    cat "$work/lintian.log"
    fail "lintian reports errors or warnings"
  }
  cat "$work/lintian.log"
  ! grep -E "hardening-|binary-has-unneeded-section" "$work/lintian.log" >/dev/null ||
    fail "lintian finds the program not hardened or not stripped as Debian does"
  echo "lintian: no error, no warning"
  exit 0
fi
[ "$(id -u)" = 0 ] || skip "installing the package needs root"
[ "${CI:-}" = true ] || skip "installing the package only runs in CI (CI=true)"
is_installed() {
  [ "$(dpkg-query -W -f='${Status}' quillantrex 2>/dev/null)" = "install ok installed" ]
}
if is_installed; then
  skip "quillantrex is already installed on this machine; leaving it alone"
fi

# Another package manager may hold the dpkg lock for a while.
tries=0
until dpkg -i "$deb" >"$work/dpkg.log" 2>&1; do
  tries=$((tries + 1))
  if grep -q "lock" "$work/dpkg.log" && [ $tries -lt 60 ]; then
    sleep 5
    continue
  fi
  cat "$work/dpkg.log"
  fail "dpkg -i"
done
installed=yes
echo "installed with dpkg -i"

[ -x /usr/bin/quillantrex ] || fail "/usr/bin/quillantrex is missing after dpkg -i"
if command -v man >/dev/null 2>&1; then
  [ "$(man -w quillantrex 2>/dev/null)" = /usr/share/man/man1/quillantrex.1.gz ] ||
    fail "man does not find the installed manual page"
fi

mkdir "$work/installed" "$work/built"
(cd "$work/installed" && /usr/bin/quillantrex "$example" >console.txt) ||
  fail "the installed quillantrex exited with status $?"
grep -q '^Done!$' "$work/installed/console.txt" || fail "the installed quillantrex did not say Done!"
(cd "$work/built" && "$built_tool" "$example" >console.txt) || fail "the built quillantrex failed"
page=$work/installed/carnet.htm
head -c 6 "$page" | grep -q '^<html>$' || fail "the page does not start with <html>"
grep -q 'href="mailto:' "$page" || fail "the page has no e-mail link"
cmp "$page" "$work/built/carnet.htm" || fail "the installed tool's page differs from the built tool's"
echo "the installed quillantrex converted the example; the page is the expected one"

dpkg -r quillantrex >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
installed=no
! is_installed || fail "dpkg still lists quillantrex as installed after dpkg -r"
[ ! -e /usr/bin/quillantrex ] || fail "/usr/bin/quillantrex is still there after dpkg -r"
[ ! -e /usr/share/man/man1/quillantrex.1.gz ] || fail "the manual page is still there after dpkg -r"
echo "removed with dpkg -r"
