#!/bin/sh
# ARCHITECTURE.md names files, types and functions so that a reader can
# search for them. Each path it names must exist, and each name must still be
# found in the sources, so that the map fails the build when the house
# changes under it. Names with a space in them are commands, not names.
#   check_architecture.sh SOURCE_DIR
set -u
src=$1
map="$src/ARCHITECTURE.md"
[ -f "$map" ] || { echo "ARCHITECTURE.md is missing"; exit 1; }
status=0
# Every `...` span, one a line.
names=$(grep -o '`[^`]*`' "$map" | tr -d '`' | sort -u)
old_ifs=$IFS
IFS='
'
for name in $names; do
  case $name in
    *" "*) continue ;;  # a command
    */*)
      if [ ! -e "$src/${name%/}" ]; then
        echo "ARCHITECTURE.md names $name, which is not in the tree"
        status=1
      fi
      ;;
    *.cc | *.h | *.md | *.sh | *.py | *.json | *.1)
      if [ -z "$(find "$src" -path "$src/build" -prune -o -name "$name" -print)" ]; then
        echo "ARCHITECTURE.md names $name, which is not in the tree"
        status=1
      fi
      ;;
    *)
      word=${name%"()"}
      word=${word##*::}
      if ! grep -rqw -- "$word" "$src/src" "$src/tests" "$src/fuzz" "$src/bench" \
        "$src/CMakeLists.txt" "$src/CMakePresets.json"; then
        echo "ARCHITECTURE.md names $name, which no source file holds"
        status=1
      fi
      ;;
  esac
done
IFS=$old_ifs
exit $status
