#!/usr/bin/env bash
# Measures the tool on generated exports and prints:
#  - MB of export per second on a realistic export (200 MB by default) held in
#    the page cache, and the ratio of the tool's time to a `dd bs=128K` copy of
#    the page it produced (a user-space read and write of the bytes the tool
#    must write), the two alternating, each writing a new file, median of RUNS;
#  - the peak resident memory for a 1 MB and the large export;
#  - for each hostile input, its time and peak memory at 10 MB and 100 MB and
#    the ratio of the two times (about 10 when the cost is linear).
#
# Usage: bench/run.sh [TOOL]
#   TOOL defaults to build/release/quillantrex, built first with the release
#   preset. Environment: RUNS (default 7), SIZE_MB (default 200), BENCH_DIR
#   (scratch space, default /tmp; needs about 3 GB free).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-7}
size_mb=${SIZE_MB:-200}

if [ $# -ge 1 ]; then
  tool=$(realpath "$1")
else
  (cd "$root" && cmake --workflow --preset release >/dev/null)
  tool=$root/build/release/quillantrex
fi
if [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y time >/dev/null
fi

dir=$(mktemp -d "${BENCH_DIR:-/tmp}/perf-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# Seconds taken by a command, to the microsecond.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

convert() { "$tool" "$1"; }
copy_page() { dd if=carnet.htm of=copy.htm bs=128K status=none; }

# Peak resident memory of one conversion in KiB, then its user and system
# CPU seconds.
resources() {
  rm -f carnet.htm
  /usr/bin/time -f '%M %U %S' -o rss.txt "$tool" "$1" >/dev/null
  cat rss.txt
}
peak_kib() { resources "$1" | cut -d' ' -f1; }

echo "tool: $tool"
echo "machine: $(nproc) cores, $(uname -r)"
echo

# --- Realistic export --------------------------------------------------------
python3 "$root/bench/gen_export.py" $((size_mb * 1000000)) >big.csv
python3 "$root/bench/gen_export.py" 1000000 >small.csv
cat big.csv >/dev/null  # into the page cache
rm -f carnet.htm && convert big.csv >/dev/null  # warm-up, untimed
page_mb=$(stat -c %s carnet.htm | awk '{ printf "%.0f", $1 / 1e6 }')

tool_times=() dd_times=()
for _ in $(seq "$runs"); do
  rm -f carnet.htm copy.htm
  tool_times+=("$(seconds convert big.csv)")
  rm -f copy.htm
  dd_times+=("$(seconds copy_page)")
done
rm -f copy.htm
t=$(median "${tool_times[@]}")
d=$(median "${dd_times[@]}")
echo "realistic export: $size_mb MB -> page of $page_mb MB, median of $runs runs"
awk -v t="$t" -v d="$d" -v mb="$size_mb" 'BEGIN {
  printf "  quillantrex   %.3f s  %6.0f MB/s of export\n", t, mb / t
  printf "  dd bs=128K    %.3f s  (copy of the page)\n", d
  printf "  ratio         %.2f x the copy\n", t / d }'

small=$(peak_kib small.csv)
peaks=() users=() systems=()
for _ in 1 2 3; do
  read -r big user system < <(resources big.csv)
  peaks+=("$big") users+=("$user") systems+=("$system")
done
big=$(median "${peaks[@]}")
echo "  CPU time: user $(median "${users[@]}") s, system $(median "${systems[@]}") s" \
  "(median of 3 more runs)"
echo "peak memory: 1 MB export $small KiB, $size_mb MB export $big KiB," \
  "difference $((big - small)) KiB"

# Instructions per byte of export and branch misses per 1,000 bytes: from the
# processor's counters where perf can read them, otherwise from cachegrind on
# a 20 MB export (its branch figure is its own predictor's, not the
# processor's, so compare it only with itself).
if perf stat -x, -e instructions true 2>&1 | grep -q '^[0-9]'; then
  rm -f carnet.htm
  perf stat -x, -e instructions,branch-misses -o counters.txt "$tool" big.csv >/dev/null
  awk -F, -v bytes=$((size_mb * 1000000)) '
    $3 ~ /^instructions/ { i = $1 } $3 ~ /^branch-misses/ { b = $1 }
    END { printf "counters (perf): %.2f instructions per byte, %.1f branch misses per 1,000 bytes\n",
          i / bytes, 1000 * b / bytes }' counters.txt
elif command -v valgrind >/dev/null; then
  python3 "$root/bench/gen_export.py" 20000000 >mid.csv
  rm -f carnet.htm
  valgrind --tool=cachegrind --cache-sim=no --branch-sim=yes --cachegrind-out-file=/dev/null \
    "$tool" mid.csv >/dev/null 2>counters.txt
  awk -v bytes=20000000 '
    /I +refs:/ { gsub(",", "", $4); i = $4 }
    /Mispredicts:/ { gsub(",", "", $3); b = $3 }
    END { printf "counters (cachegrind, 20 MB export, no hardware counters here): %.2f instructions per byte, %.1f branch misses per 1,000 bytes\n",
          i / bytes, 1000 * b / bytes }' counters.txt
  rm -f mid.csv
else
  echo "counters: neither perf with hardware counters nor valgrind is available"
fi
rm -f big.csv small.csv carnet.htm counters.txt
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

echo "hostile inputs: time (median of 5) and peak memory at 10 MB and 100 MB"
printf '  %-12s %10s %10s %8s %12s %12s\n' input "10 MB" "100 MB" ratio "RSS 10 MB" "RSS 100 MB"
for kind in long-cell at-signs quotes line-breaks semicolons; do
  declare -A time_of=() rss_of=()
  for mb in 10 100; do
    make_input "$kind" $((mb * 1000000)) >hostile.csv
    times=()
    for _ in 1 2 3 4 5; do
      rm -f carnet.htm
      times+=("$(seconds convert hostile.csv)")
    done
    time_of[$mb]=$(median "${times[@]}")
    rss_of[$mb]=$(peak_kib hostile.csv)
    rm -f hostile.csv carnet.htm
  done
  awk -v k="$kind" -v a="${time_of[10]}" -v b="${time_of[100]}" \
    -v ra="${rss_of[10]}" -v rb="${rss_of[100]}" 'BEGIN {
    printf "  %-12s %9.3fs %9.3fs %8.1f %8d KiB %8d KiB\n", k, a, b, b / a, ra, rb }'
done
