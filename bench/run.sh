#!/usr/bin/env bash
# Prints, first, the instructions the tool runs per byte of the 10 MiB
# export (bench/count.sh, callgrind), then times the tool with hyperfine on
# generated exports and prints each figure beside its target:
#  - every size from 1 KB (examples/contacts.csv) to 200 MB: the tool against
#    the least copy program, bench/least_copy.cc, copying the page the tool
#    made into carnet.htm; the page faults of both up to 10 MB; and the curve
#    of time per MB of export against size, drawn into docs/bench-curve.png;
#  - every size again, in a second table: the tool confined to one core
#    (taskset -c 0) and its CPU time on two cores (mean user + mean system);
#    with BEFORE, an earlier build timed in the same hyperfine runs beside it,
#    the ratios tool/before of the one-core and CPU times and whether each is
#    at most 1.03;
#  - for the largest export, MB of export per second, user and system time;
#  - the peak resident memory for a 1 MB and the largest export;
#  - for each hostile input, its time at 10 MB and 100 MB, the ratio of the
#    two (about 10 when the cost is linear) and its peak memory.
# Times are hyperfine's: warm-up runs first, carnet.htm removed before each
# run, medians compared.
#
# Usage: bench/run.sh [TOOL]
#   TOOL defaults to build/release/quillantrex, built first with the release
#   preset. Environment: RUNS (runs per hostile command, default 7; exports
#   past 10 MB get 2 * RUNS + 1), SIZE_MB (the largest export, default 200),
#   BENCH_DIR (scratch space, default /tmp; needs about 3 GB free), JSON_DIR
#   (keeps hyperfine's JSON exports and the curve's figures, curve.tsv,
#   there), CURVE (where the curve goes, default docs/bench-curve.png),
#   CURVE_BEFORE (an earlier curve.tsv, drawn dashed beside it), BEFORE (an
#   earlier build of the tool, timed beside it at every size; its figures go
#   in the second table only, curve.tsv keeps the tool's and the copy's).
#   A quick run: RUNS=3 SIZE_MB=20 bench/run.sh
#   Against an earlier build: BEFORE=/path/to/old/quillantrex bench/run.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
size_mb=${SIZE_MB:-200}

# Stops with the Debian package that provides a missing command.
need() {  # command package
  if ! command -v "$1" >/dev/null; then
    echo "bench/run.sh: $1 is missing: apt-get install $2" >&2
    exit 1
  fi
}
need hyperfine hyperfine
need /usr/bin/time time
need g++ g++
need python3 python3
need taskset util-linux

# perf may be installed only as perf_<version>. Page faults are a software
# event: they count even where the processor's counters cannot be read.
perf=
for candidate in perf $(compgen -c perf_ | sort -u); do
  if "$candidate" stat -e page-faults true >/dev/null 2>&1; then
    perf=$candidate
    break
  fi
done

if [ $# -ge 1 ]; then
  tool=$(realpath "$1")
else
  (cd "$root" && cmake --workflow --preset release >/dev/null)
  tool=$root/build/release/quillantrex
fi
before=
if [ -n "${BEFORE:-}" ]; then
  before=$(realpath "$BEFORE")
  if [ ! -x "$before" ]; then
    echo "bench/run.sh: BEFORE=$BEFORE is not an executable" >&2
    exit 1
  fi
fi

dir=$(mktemp -d "${BENCH_DIR:-/tmp}/perf-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
g++ -O2 -o least_copy "$root/bench/least_copy.cc"
# As hyperfine reads them in its commands, where a space would split a path.
tool_cmd=$(printf %q "$tool")
least_cmd=$(printf %q "$dir/least_copy")
before_cmd=${before:+$(printf %q "$before")}

# Runs hyperfine on the given commands, after its other options, saving its
# JSON export as NAME.json. Commands are run without a shell and their output
# is dropped. hyperfine's warnings (outliers, a slow first run) are kept in
# NAME.err, for noisy to mark the figures with a "*".
bench() {  # name hyperfine-options... commands...
  local name=$1
  shift
  if ! hyperfine --shell=none --style=none --export-json "$name.json" "$@" >/dev/null \
    2>"$name.err"; then
    cat "$name.err" >&2
    exit 1
  fi
  if [ -n "${JSON_DIR:-}" ]; then cp "$name.json" "$JSON_DIR/"; fi
}
noisy() {  # name
  if grep -q Warning "$1.err"; then echo ' *'; fi
}

# One statistic (mean, median, user, system...) of each command of a
# hyperfine JSON export, in seconds, on one line.
stat_of() {  # name field
  python3 -c 'import json, sys
print(*(r[sys.argv[2]] for r in json.load(open(sys.argv[1]))["results"]))' "$1.json" "$2"
}

# "ok" when value <= target, "MISSED" otherwise.
verdict() {  # value target
  awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "ok" : "MISSED" }'
}

# a / b with two decimals.
ratio_of() {  # a b
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Peak resident memory of one conversion, in KiB.
peak_kib() {  # export
  rm -f carnet.htm
  /usr/bin/time -f %M -o rss.txt "$tool" "$1" >/dev/null
  cat rss.txt
}

# Page faults of one run of a command, median of 5.
faults() {  # command...
  local counts=()
  for _ in 1 2 3 4 5; do
    rm -f carnet.htm
    "$perf" stat -x, -e page-faults -o faults.txt "$@" >/dev/null
    counts+=("$(awk -F, '$3 ~ /^page-faults/ { print $1 }' faults.txt)")
  done
  median "${counts[@]}"
}

echo "tool: $tool"
if [ -n "$before" ]; then echo "before: $before"; fi
echo "machine: $(nproc) cores, $(uname -r), $(hyperfine --version)"
echo

# The headline: instructions per byte, which do not drift with the machine.
# Without an argument, count.sh counts a release build of its own with
# debug information, which it splits into scan, links and copies.
if command -v valgrind >/dev/null; then
  if [ $# -ge 1 ]; then "$root/bench/count.sh" "$tool"; else "$root/bench/count.sh"; fi
  if [ -n "$before" ]; then
    echo "before:"
    "$root/bench/count.sh" "$before"
  fi
else
  echo "instructions per byte: skipped, valgrind is missing (apt-get install valgrind)"
fi
echo

# --- Every size: the tool against a copy of its page ----------------------------
# Each export is converted once to make its page; least_copy then copies that
# page into carnet.htm: the bytes the tool must write, read from a file as
# large as them. Sizes in KB: the 1 KB export is examples/contacts.csv, the
# last one SIZE_MB.
sizes_kb=()
for kb in 1 100 400 1000 3000 10000 50000; do
  if [ "$kb" -lt $((size_mb * 1000)) ]; then sizes_kb+=("$kb"); fi
done
sizes_kb+=($((size_mb * 1000)))

make_export() {  # kb file
  if [ "$1" -eq 1 ]; then
    cp "$root/examples/contacts.csv" "$2"
  else
    python3 "$root/bench/gen_export.py" $(($1 * 1000)) >"$2"
  fi
}
size_name() {  # kb
  if [ "$1" -lt 1000 ]; then echo "$1 KB"; else echo "$(($1 / 1000)) MB"; fi
}

# A row of the second table, from the two-core and one-core runs of an export:
# the tool's one-core median and its CPU time on two cores; with BEFORE, the
# tool's two-core median first, then the earlier build's two-core median,
# one-core median and CPU time, and the ratios tool/before of the one-core and
# CPU times against 1.03.
one_core_row() {  # name size
  local medians one_core users systems cpu two_core='' before_columns=''
  read -r -a medians < <(stat_of "$1" median)
  read -r -a one_core < <(stat_of "$1-1core" median)
  read -r -a users < <(stat_of "$1" user)
  read -r -a systems < <(stat_of "$1" system)
  cpu=$(awk -v u="${users[0]}" -v s="${systems[0]}" 'BEGIN { print u + s }')
  if [ -n "$before" ]; then
    local before_cpu one_core_ratio cpu_ratio
    before_cpu=$(awk -v u="${users[2]}" -v s="${systems[2]}" 'BEGIN { print u + s }')
    one_core_ratio=$(ratio_of "${one_core[0]}" "${one_core[1]}")
    cpu_ratio=$(ratio_of "$cpu" "$before_cpu")
    two_core=$(awk -v t="${medians[0]}" 'BEGIN { printf " %9.3f ms", 1000 * t }')
    before_columns=$(awk -v t="${medians[2]}" -v o="${one_core[1]}" -v c="$before_cpu" \
      -v r="$one_core_ratio" -v ok="$(verdict "$one_core_ratio" 1.03)" \
      -v cr="$cpu_ratio" -v cok="$(verdict "$cpu_ratio" 1.03)" 'BEGIN {
      printf "  %9.3f ms %9.3f ms %9.3f ms  %5.2fx %-6s %5.2fx %s",
        1000 * t, 1000 * o, 1000 * c, r, ok, cr, cok }')
  fi
  awk -v s="$2" -v t="$two_core" -v o="${one_core[0]}" -v c="$cpu" -v b="$before_columns" \
    -v noisy="$(noisy "$1")$(noisy "$1-1core")" 'BEGIN {
    printf "  %-17s%s %9.3f ms %9.3f ms%s%s\n", s, t, 1000 * o, 1000 * c, b, substr(noisy, 1, 2) }'
}
one_core_rows=()

echo "every size: the tool against the least copy program copying the page the tool made"
echo "(hyperfine medians: at least 100 runs up to 1 MB, 40 up to 10 MB, $((2 * runs + 1)) beyond;"
echo " page faults up to 10 MB, median of 5 runs)"
printf '  %-17s %12s %12s %6s  %-6s %6s %6s %6s  %s\n' "export (rows)" quillantrex "least copy" \
  ratio "<=1.3x" faults copy extra "<=+40"
: >curve.tsv
for kb in "${sizes_kb[@]}"; do
  make_export "$kb" export.csv
  cat export.csv >/dev/null  # into the page cache
  rm -f carnet.htm
  "$tool" export.csv >/dev/null
  mv carnet.htm page.htm
  rows=$(grep -o '<tr' page.htm | wc -l)
  size="$(size_name "$kb") ($rows)"
  if [ "$kb" -le 1000 ]; then
    how=(--warmup 20 --min-runs 100)
  elif [ "$kb" -le 10000 ]; then
    how=(--warmup 5 --min-runs 40)
  else
    how=(--warmup 1 --runs $((2 * runs + 1)))
  fi
  name="size-$kb"
  bench "$name" "${how[@]}" --prepare 'rm -f carnet.htm' \
    "$tool_cmd export.csv" "$least_cmd page.htm" ${before:+"$before_cmd export.csv"}
  bench "$name-1core" "${how[@]}" --prepare 'rm -f carnet.htm' \
    "taskset -c 0 $tool_cmd export.csv" ${before:+"taskset -c 0 $before_cmd export.csv"}
  read -r tool_median least_median _ < <(stat_of "$name" median)
  ratio=$(ratio_of "$tool_median" "$least_median")
  printf '%d\t%s\t%s\n' $((kb * 1000)) "$tool_median" "$least_median" >>curve.tsv
  fault_columns=
  if [ -n "$perf" ] && [ "$kb" -le 10000 ]; then
    tool_faults=$(faults "$tool" export.csv)
    least_faults=$(faults ./least_copy page.htm)
    extra=$((tool_faults - least_faults))
    fault_columns=$(printf '%6d %6d %+6d  %s' "$tool_faults" "$least_faults" "$extra" \
      "$(verdict "$extra" 40)")
  fi
  awk -v s="$size" -v t="$tool_median" -v l="$least_median" -v r="$ratio" \
    -v ok="$(verdict "$ratio" 1.3)" -v f="$fault_columns" -v noisy="$(noisy "$name")" 'BEGIN {
    printf "  %-17s %9.3f ms %9.3f ms %5.2fx  %-6s %s%s\n", s, 1000 * t, 1000 * l, r, ok, f, noisy }'
  one_core_rows+=("$(one_core_row "$name" "$size")")
  if [ "$kb" -eq 1000 ]; then cp export.csv small.csv; fi
  rm -f carnet.htm page.htm
done
mv export.csv big.csv
if [ -n "${JSON_DIR:-}" ]; then cp curve.tsv "$JSON_DIR/"; fi
if [ -z "$perf" ]; then
  echo "  page faults: skipped, perf is missing or cannot count them (apt-get install linux-perf)"
fi

# The curve: time per MB of export against its size, drawn with matplotlib
# (Debian's python3 may have it where another python3 comes first).
curve=${CURVE:-$root/docs/bench-curve.png}
plotter=
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import matplotlib' 2>/dev/null; then
    plotter=$candidate
    break
  fi
done
if [ -n "$plotter" ]; then
  "$plotter" "$root/bench/plot_curve.py" curve.tsv "$curve" ${CURVE_BEFORE:+"$CURVE_BEFORE"}
  echo "  curve: $curve"
else
  echo "  curve: skipped, matplotlib is missing (apt-get install python3-matplotlib)"
fi

echo
echo "every size, one core and CPU time: the tool's median confined to core 0 (taskset -c 0),"
echo "as many runs as above; its CPU time, hyperfine's mean user + mean system of the two-core runs"
if [ -n "$before" ]; then
  echo "(beside it the earlier build BEFORE, timed in the same hyperfine runs; ratios tool/before)"
  printf '  %-17s %s  %s  %s\n' "" "------------- quillantrex -------------" \
    "--------------- before ---------------" "---- tool/before -----"
  printf '  %-17s %12s %12s %12s  %12s %12s %12s  %-13s %s\n' "export (rows)" "2 cores" \
    "1 core" "CPU 2 cores" "2 cores" "1 core" "CPU 2 cores" "1 core <=1.03" "CPU <=1.03"
else
  printf '  %-17s %12s %12s\n' "export (rows)" "1 core" "CPU 2 cores"
fi
printf '%s\n' "${one_core_rows[@]}"

# The largest export in more detail, from the same runs.
read -r t _ < <(stat_of "size-${sizes_kb[-1]}" median)
read -r user _ < <(stat_of "size-${sizes_kb[-1]}" user)
read -r system _ < <(stat_of "size-${sizes_kb[-1]}" system)
awk -v t="$t" -v mb="$size_mb" -v u="$user" -v s="$system" 'BEGIN {
  printf "%d MB export: %.0f MB/s of export, CPU time user %.3f s, system %.3f s (means)\n",
    mb, mb / t, u, s }'

small=$(peak_kib small.csv)
big=$(peak_kib big.csv)
printf 'peak memory: 1 MB export %d KiB, %d MB export %d KiB, difference %+d KiB  at most %s\n' \
  "$small" "$size_mb" "$big" $((big - small)) "+4096 KiB: $(verdict $((big - small)) 4096)"

rm -f big.csv small.csv carnet.htm
echo

# --- Hostile inputs ------------------------------------------------------------
make_input() (  # kind bytes
  set +o pipefail  # `yes` ends on a broken pipe
  n=$2
  case $1 in
    long-cell) { printf 'n;'; head -c $((n - 5)) /dev/zero | tr '\0' x; printf '@\r\n'; } ;;
    at-signs) head -c "$n" /dev/zero | tr '\0' @ ;;
    quotes) yes '"a' | tr -d '\n' | head -c "$n" ;;
    line-breaks) yes $'\r' | head -c "$n" ;;
    semicolons) head -c "$n" /dev/zero | tr '\0' ';' ;;
  esac
)

echo "hostile inputs: median time of $runs runs and peak memory at 10 MB and 100 MB"
printf '  %-11s %8s %8s %6s %12s %12s  %s\n' input "10 MB" "100 MB" ratio "RSS 10 MB" \
  "RSS 100 MB" "targets: ratio at most 11, RSS at most +4096 KiB"
for kind in long-cell at-signs quotes line-breaks semicolons; do
  make_input "$kind" 10000000 >10m.csv
  make_input "$kind" 100000000 >100m.csv
  bench "hostile-$kind" --warmup 1 --runs "$runs" --prepare 'rm -f carnet.htm' \
    "$tool_cmd 10m.csv" "$tool_cmd 100m.csv"
  read -r a b < <(stat_of "hostile-$kind" median)
  ra=$(peak_kib 10m.csv)
  rb=$(peak_kib 100m.csv)
  ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.1f", b / a }')
  awk -v k="$kind" -v a="$a" -v b="$b" -v r="$ratio" -v ra="$ra" -v rb="$rb" \
    -v ok="$(verdict "$ratio" 11)" -v rss_ok="$(verdict $((rb - ra)) 4096)" \
    -v noisy="$(noisy "hostile-$kind")" 'BEGIN {
    printf "  %-11s %7.3fs %7.3fs %6.1f %8d KiB %8d KiB  %s, %s%s\n",
      k, a, b, r, ra, rb, ok, rss_ok, noisy }'
  rm -f 10m.csv 100m.csv carnet.htm
done
echo
echo "* hyperfine warned of outliers or a slow first run: re-run if the figure looks off"
