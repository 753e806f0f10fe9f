#!/usr/bin/env bash
# Benchmarks of the server data component and the record set.
#   bench/run.sh            builds, generates the 1M- and 10M-line chains once (kept in
#                           build/bench/), prints the figures
# Figures: component time to a filled record set / sqlite3 shell time for the same SELECT
# (target <= 1.3), bytes per record-set cell, 10902 one-month time on 10M / 1M lines
# (target <= 1.5), record set fill/read rates and bytes per cell (target <= 40).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target velserver-bench recordset-bench >/dev/null
bench="$build/bin/velserver-bench"
small="$build/chain-1m.sqlite"
large="$build/chain-10m.sqlite"

# The same members, items and lines per day; the large chain covers ten times the days, so a
# month holds the same number of lines in both.
chain() {
  [ -f "$1" ] && return 0
  echo "generating $1 ($2 days x 2740 lines)" >&2
  local start=$SECONDS
  "$bench" make-demo --out "$1" --members 20000 --items 3000 --days "$2" --lines-per-day 2740 --seed 11 2>/dev/null
  echo "  generated in $((SECONDS - start)) s" >&2
}
chain "$small" 365
chain "$large" 3650

# Best of three runs: "wall_ms cpu_ms".
component_ms() {
  local best="" cpu=""
  for _ in 1 2 3; do
    local out ms c
    out=$("$bench" report "$@")
    ms=$(echo "$out" | sed -n 's/.* ms=\([0-9]*\).*/\1/p')
    c=$(echo "$out" | sed -n 's/.*cpu_ms=\([0-9]*\).*/\1/p')
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ -z "$cpu" ] || [ "$c" -lt "$cpu" ]; then cpu=$c; fi
  done
  echo "$best $cpu"
}
shell_ms() {
  local sql best="" cpu=""
  sql=$(mktemp)
  "$bench" sql "$@" > "$sql"
  for _ in 1 2 3; do
    local t0 t1 ms c
    t0=$(date +%s%N)
    c=$( { /usr/bin/time -f "%U %S" sqlite3 -readonly "$1" < "$sql" > /dev/null; } 2>&1 | awk '{ printf "%d", ($1 + $2) * 1000 }')
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ -z "$cpu" ] || [ "$c" -lt "$cpu" ]; then cpu=$c; fi
  done
  rm -f "$sql"
  echo "$best $cpu"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

lines=(10903 BDate=2024-01-01T00:00:00 EDate=2024-12-31T23:59:59)
month=(10902 GroupBy=1 BDate=2024-06-01T00:00:00 EDate=2024-07-01T00:00:00)

compare() {
  local label=$1; shift
  local info c s
  info=$("$bench" report "$@")
  read -r cw cc <<<"$(component_ms "$@")"
  read -r sw sc <<<"$(shell_ms "$@")"
  echo "$label: $(echo "$info" | sed 's/ ms=[0-9]* cpu_ms=[0-9]*//')"
  echo "  component ${cw} ms (cpu ${cc}), sqlite3 shell ${sw} ms (cpu ${sc}):" \
       "ratio $(ratio "$cw" "$sw") wall, $(ratio "$cc" "$sc") cpu (target <= 1.3)"
}
compare "10903 all lines of 2024, 1M chain" "$small" "${lines[@]}"
compare "10902 grouping 1, June 2024, 1M chain" "$small" "${month[@]}"
read -r c1 _ <<<"$(component_ms "$small" "${month[@]}")"
read -r c10 _ <<<"$(component_ms "$large" "${month[@]}")"
echo "10902 grouping 1, June 2024: 1M chain ${c1} ms, 10M chain ${c10} ms; ratio $(ratio "$c10" "$c1") (target <= 1.5)"
echo "(load average while measuring: $(cut -d' ' -f1-3 /proc/loadavg))"

"$build/bin/recordset-bench"
