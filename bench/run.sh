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

# Best of three runs, in milliseconds.
component_ms() {
  local best=""
  for _ in 1 2 3; do
    local ms
    ms=$("$bench" report "$@" | sed -n 's/.*ms=\([0-9]*\).*/\1/p')
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
shell_ms() {
  local sql best=""
  sql=$(mktemp)
  "$bench" sql "$@" > "$sql"
  for _ in 1 2 3; do
    local t0 t1 ms
    t0=$(date +%s%N)
    sqlite3 -readonly "$1" < "$sql" > /dev/null
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  rm -f "$sql"
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

lines=(10903 BDate=2024-01-01T00:00:00 EDate=2024-12-31T23:59:59)
month=(10902 GroupBy=1 BDate=2024-06-01T00:00:00 EDate=2024-07-01T00:00:00)

info=$("$bench" report "$small" "${lines[@]}")
c=$(component_ms "$small" "${lines[@]}"); s=$(shell_ms "$small" "${lines[@]}")
echo "10903 all lines of 2024 on 1M chain: $(echo "$info" | sed 's/ ms=[0-9]*//')"
echo "  component ${c} ms, sqlite3 shell ${s} ms, ratio $(ratio "$c" "$s") (target <= 1.3)"

info=$("$bench" report "$small" "${month[@]}")
c1=$(component_ms "$small" "${month[@]}"); s=$(shell_ms "$small" "${month[@]}")
echo "10902 grouping 1, June 2024 on 1M chain: $(echo "$info" | sed 's/ ms=[0-9]*//')"
echo "  component ${c1} ms, sqlite3 shell ${s} ms, ratio $(ratio "$c1" "$s") (target <= 1.3)"
c10=$(component_ms "$large" "${month[@]}")
echo "10902 grouping 1, June 2024 on 10M chain: ${c10} ms; 10M/1M ratio $(ratio "$c10" "$c1") (target <= 1.5)"

"$build/bin/recordset-bench"
