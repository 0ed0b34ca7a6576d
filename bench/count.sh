#!/usr/bin/env bash
# Counts, with callgrind, the instructions the tool runs per byte of the
# realistic 10 MiB export (bench/gen_export.py 10485760 1), and splits them
# by the source file each instruction comes from, inlined code included:
#   scan    src/convert/ but the links: classifying blocks, replacing
#           structure bytes, the character scan;
#   links   src/convert/mail_link.*, and the link writer's functions:
#           finding and writing e-mail links (the intrinsics inlined into
#           the block scan's own links count for the scan);
#   copies  the C library's memcpy and memmove, each byte moved by
#           `rep movsb` counted as an instruction;
#   rest    the streams, the C and C++ runtimes, the system's start.
# The count is the same for the same binary and export whatever the machine
# is doing, so it compares builds where times cannot.
#
# Usage: bench/count.sh [TOOL]
#   TOOL defaults to a release build with debug information (the release
#   preset's code, and -g), made in build/count. A TOOL without debug
#   information gets its total only.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
for command in valgrind callgrind_annotate python3; do
  if ! command -v "$command" >/dev/null; then
    echo "bench/count.sh: $command is missing: apt-get install valgrind python3" >&2
    exit 1
  fi
done

if [ $# -ge 1 ]; then
  tool=$(realpath "$1")
else
  cmake -S "$root" -B "$root/build/count" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \
    -DQUILLANTREX_TESTS=OFF -DQUILLANTREX_SANITIZED=OFF >/dev/null
  cmake --build "$root/build/count" -j 2 >/dev/null
  tool=$root/build/count/quillantrex
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/count.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
python3 "$root/bench/gen_export.py" 10485760 1 >export.csv
valgrind --tool=callgrind --callgrind-out-file=cg.out "$tool" export.csv >/dev/null 2>cg.log
callgrind_annotate --threshold=100 cg.out >annotated.txt

python3 - annotated.txt "$(stat -c %s export.csv)" <<'EOF'
import re
import sys

lines = open(sys.argv[1]).read().splitlines()
size = int(sys.argv[2])
# "12,345 ( 1.23%)  ./src/convert/mail_link.h:quillantrex::convert_blocks_avx2(...)":
# the file an instruction's line is in, and the function it was compiled in.
row = re.compile(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*?):(.*)$")
# Code from the compiler's and the library's headers (intrinsics, <array>)
# counts for the function it was inlined in.
link_functions = re.compile(r"write_mail_link|short_prefix_in|link_in_place|find_link_start|"
                            r"copy_address|write_link_in_window")
scan_functions = re.compile(r"quillantrex::.*(convert_|copy_plain_run|classify)")
parts = {"scan": 0, "links": 0, "copies": 0, "rest": 0}
total = 0
for line in lines:
    if "PROGRAM TOTALS" in line:
        total = int(line.split()[0].replace(",", ""))
        continue
    m = row.match(line)
    if not m:
        continue
    count, source, function = int(m.group(1).replace(",", "")), m.group(2), m.group(3)
    if "mail_link" in source or link_functions.search(function):
        parts["links"] += count
    elif "/convert/" in source or scan_functions.search(function):
        parts["scan"] += count
    elif re.search(r"mem(cpy|move)", source + function):
        parts["copies"] += count
    else:
        parts["rest"] += count
print(f"instructions per byte (callgrind, 10 MiB export): {total / size:.2f}"
      f"  ({total:,} in all)")
if parts["scan"] + parts["links"] == 0:
    print("  no debug information in the tool: no split")
else:
    print("  " + ", ".join(f"{name} {count / size:.2f}" for name, count in parts.items()))
EOF
