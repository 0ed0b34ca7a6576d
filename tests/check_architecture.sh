#!/bin/sh
# ARCHITECTURE.md names files, types and functions so that a reader can
# search for them. Each path it names must exist, and each name must still be
# found in the sources, so that the map fails the build when the house
# changes under it. Names with a space in them are commands, not names; a
# name written outside backticks is not checked.
#   check_architecture.sh SOURCE_DIR
set -uf
src=$1
map="$src/ARCHITECTURE.md"
[ -f "$map" ] || { echo "ARCHITECTURE.md is missing"; exit 1; }
status=0
missing() {
  echo "ARCHITECTURE.md names $1, which $2"
  status=1
}
# The source files that hold the word $1, listed; false if none does.
holding() {
  grep -rlwF -- "$1" "$src/src" "$src/tests" "$src/fuzz" "$src/bench" \
    "$src/CMakeLists.txt" "$src/CMakePresets.json"
}
# A span broken across two lines would pair the wrong backticks.
# shellcheck disable=SC2016
awk '{ if (gsub(/`/, "`") % 2) { print FILENAME ":" NR ": a `...` span across lines"; bad = 1 } }
  END { exit !bad }' "$map" && status=1
# Every `...` span, one a line.
# shellcheck disable=SC2016
names=$(grep -o '`[^`]*`' "$map" | tr -d '`' | sort -u)
IFS='
'
for name in $names; do
  case $name in
    *" "*) ;;  # a command
    */*) [ -e "$src/${name%/}" ] || missing "$name" "is not in the tree" ;;
    *.cc | *.h | *.md | *.sh | *.py | *.json | *.txt | *.1)
      [ -n "$(find "$src" -path "$src/build" -prune -o -name "$name" -print)" ] ||
        missing "$name" "is not in the tree"
      ;;
    *::*)
      # Type::member as written, or the member in the code of a file that
      # names the type (a method declared in its class).
      word=${name%"()"}
      holding "$word" >/dev/null || holding "${word%%::*}" |
        xargs grep -hwF -- "${word##*::}" | grep -qEv '^[[:space:]]*(//|#)' ||
        missing "$name" "no source file holds"
      ;;
    *) holding "${name%"()"}" >/dev/null || missing "$name" "no source file holds" ;;
  esac
done
exit $status
