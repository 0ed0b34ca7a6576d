#!/bin/sh
# Holds two packages built from the same sources, two .deb files or two
# zips, to each other: the same bytes, or the first place where they
# differ, named: a member of the .deb, then a file inside its data or
# control archive, by its name, order, mode, owner, time or contents.
#   compare_packages.sh FIRST SECOND
# Exit status 0 when they are the same, 1 otherwise.
set -eu
first=$(realpath "$1")
second=$(realpath "$2")
cmp -s "$first" "$second" && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ() {
  echo "$(basename "$first") differs between the two builds: $*"
  exit 1
}

# first_difference A B: the first line of A or B that the other lacks.
first_difference() {
  diff "$1" "$2" | grep -m 1 '^[<>]' | cut -c 3-
}

# compare_archives WHAT A B LIST EXTRACT...: lists A and B with the command
# LIST (to which the archive is appended), then extracts them with EXTRACT
# into folders of their own and compares the files.
compare_archives() {
  what=$1 a=$2 b=$3 list=$4
  shift 4
  $list "$a" >"$work/list.a" 2>&1
  $list "$b" >"$work/list.b" 2>&1
  line=$(first_difference "$work/list.a" "$work/list.b")
  [ -z "$line" ] || differ "$what: its list of files differs first at: $line"
  rm -rf "$work/a" "$work/b" && mkdir "$work/a" "$work/b"
  (cd "$work/a" && "$@" "$a")
  (cd "$work/b" && "$@" "$b")
  line=$(diff -rq "$work/a" "$work/b" | head -n 1 |
    sed "s|^Files $work/a/\(.*\) and .*|\1 differs|; s|$work/[ab]/||")
  [ -z "$line" ] || differ "$what: $line"
  differ "$what: the same files, times and modes, but other bytes (headers, a zip's local times, or compression)"
}

case $first in
  *.deb)
    ar t "$first" >"$work/members.a"
    ar t "$second" >"$work/members.b"
    line=$(first_difference "$work/members.a" "$work/members.b")
    [ -z "$line" ] || differ "its members differ first at: $line"
    while read -r member; do
      (cd "$work" && ar p "$first" "$member" >"a.$member" && ar p "$second" "$member" >"b.$member")
      cmp -s "$work/a.$member" "$work/b.$member" && continue
      case $member in
        *.tar*) compare_archives "$member" "$work/a.$member" "$work/b.$member" \
          "tar --full-time -tvf" tar -xf ;;
        *) differ "$member" ;;
      esac
    done <"$work/members.a"
    differ "the same members, but other ar headers"
    ;;
  *.zip)
    compare_archives "the zip" "$first" "$second" "cmake -E tar tvf" cmake -E tar xf
    ;;
  *) echo "not a .deb or .zip: $first" && exit 2 ;;
esac
