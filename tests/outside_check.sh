# shellcheck shell=sh disable=SC2154,SC2034
# Shared by the checks that need tools beyond the compiler and build the
# tool again (tests/cross_check.sh, tests/windows_check.sh, fuzz/smoke.sh).
# Sourced; they set `src` (the source tree) and `work` (their own folder).

# Skips the check (77) for want of a tool, or fails it in CI (CI=true),
# where every tool it needs is installed.
missing() {
  echo "$1"
  [ "${CI:-}" = true ] && exit 1
  exit 77
}

# build_and_test ARGUMENTS...: configures $work/build with the cmake
# arguments given, builds it and runs its tests; a failing test sets
# status=1.
build_and_test() {
  cmake "$@" -S "$src" -B "$work/build" >/dev/null
  cmake --build "$work/build" -j 2
  ctest --test-dir "$work/build" -j 2 --output-on-failure || status=1
}

# same_pages HOST_TOOL WHOSE COMMAND...: converts the example and the
# fuzzer's seed exports with HOST_TOOL and with COMMAND; a page that differs
# is named and sets status=1.
same_pages() {
  host=$1
  whose=$2
  shift 2
  pages="$work/pages"
  for export in "$src/examples/contacts.csv" "$src"/fuzz/corpus/*; do
    rm -rf "$pages" && mkdir -p "$pages/host" "$pages/other"
    (cd "$pages/host" && "$host" "$export" >/dev/null) || true
    (cd "$pages/other" && "$@" "$export" >/dev/null) || true
    if ! cmp "$pages/host/carnet.htm" "$pages/other/carnet.htm"; then
      echo "page differs from $whose: $export"
      status=1
    fi
  done
  rm -rf "$pages"
}
