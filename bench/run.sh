#!/usr/bin/env bash
# The scale benchmarks in one run, SQLite and PostgreSQL, each figure as a ratio to its goal.
#   bench/run.sh [--small] [--keep] [--work DIR] [--build DIR] [--no-pg] [--partitioned] [--wire] [--runs N]
#     --small   a tenth of the lines per day and of the members (100k- and 1M-line chains)
#     --build   an existing build tree to use (default build/bench, configured RelWithDebInfo)
#     --keep    keep the generated chains in DIR for the next run (they are reused when there)
#     --work    where the chains go (default /tmp/velvip-bench)
#     --no-pg   SQLite only
#     --partitioned  the PostgreSQL chains with their dated tables partitioned by month
#     --wire    only the PostgreSQL CSV against psql \copy, quiet and under load (short chain)
#     --runs    repetitions of that comparison (default 5)
# Chains: the same members, items and lines per day; the short one covers 2024, the long one
# 2024-2033, so a month holds the same number of lines in both. PostgreSQL runs in a throw-away
# cluster started the way scripts/test.sh does. Peak memory is /usr/bin/time -v's maximum
# resident set size. Every timing is the best of three runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=/tmp/velvip-bench
build="$root/build/bench"
small=0 keep=0 pg=1 partitioned= wire=0 runs=5
while [ $# -gt 0 ]; do
  case $1 in
    --small) small=1 ;;
    --keep) keep=1 ;;
    --work) work=$2; shift ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    --no-pg) pg=0 ;;
    --partitioned) partitioned=--partitioned ;;
    --wire) wire=1 ;;
    --runs) runs=$2; shift ;;
    *) echo "usage: bench/run.sh [--small] [--keep] [--work DIR] [--build DIR] [--no-pg] [--partitioned] [--wire] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done
members=20000 items=3000 perday=2740 tag=1m
if [ $small = 1 ]; then members=2000 items=1000 perday=274 tag=100k; fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELVIP_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target velserver-bench velvip-report >/dev/null
bench="$build/bin/velserver-bench"
cli="$build/bin/velvip-report"
mkdir -p "$work"
short="$work/chain-$tag-1y.sqlite"
long="$work/chain-$tag-10y.sqlite"
# shellcheck source=pg-lib.sh
source "$root/bench/pg-lib.sh"
cleanup() {
  spin_stop
  if [ -n "${PG_CLUSTER_DIR:-}" ]; then pg_cluster_stop; fi
  if [ "$keep" = 1 ]; then rm -f "$work"/out* "$work"/*.sql "$work"/*.psql "$work"/*.sh "$work"/time.txt; else rm -rf "$work"; fi
}
trap cleanup EXIT

demo_args() { echo --start 2024-01-01 --members "$members" --items "$items" --days "$1" --lines-per-day "$perday" --seed 11; }
chain() {
  [ -f "$1" ] && return 0
  echo "generating $1 ($2 days x $perday lines)" >&2
  "$bench" make-demo --out "$1" $(demo_args "$2") 2>/dev/null
}
if [ "$wire" = 0 ]; then
  chain "$short" 365
  chain "$long" 3650
fi

# "wall_ms peak_kb" of a command, best of three.
measure() {
  local best="" peak="" i
  for i in 1 2 3; do
    local t0 t1 ms kb
    t0=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" >/dev/null 2>&1
    kb=$(tail -n 1 "$work/time.txt")
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ -z "$peak" ] || [ "$kb" -gt "$peak" ]; then peak=$kb; fi
  done
  echo "$best $peak"
}
# Time of a report inside the component (connected beforehand), best of three.
component_ms() { local ms; read -r ms _ <<<"$(component_run 3 "$@")"; echo "$ms"; }

ledger_short=(10901 Year=2024 Month=6)
ledger_long=(10901 Year=2033 Month=6)
sales_short=(10902 GroupBy=1 "BDate=2024-06-01 00:00:00" "EDate=2024-07-01 00:00:00")
sales_long=(10902 GroupBy=1 "BDate=2033-06-01 00:00:00" "EDate=2033-07-01 00:00:00")
lines_short=(10903 "BDate=2024-06-01 00:00:00" "EDate=2024-06-30 23:59:59")
lines_long=(10903 "BDate=2033-06-01 00:00:00" "EDate=2033-06-30 23:59:59")
liability_short=(10908 Year=2024 Month=6)
liability_long=(10908 Year=2033 Month=6)
ageing_short=(10909 "EDate=2024-06-30 23:59:59")
ageing_long=(10909 "EDate=2033-06-30 23:59:59")
settle_short=(10910 "BDate=2024-06-01 00:00:00" "EDate=2024-06-30 23:59:59")
settle_long=(10910 "BDate=2033-06-01 00:00:00" "EDate=2033-06-30 23:59:59")
custody_short=(10911 Year=2025 Quarter=1)   # the quarter after each chain: last year's sales whole
custody_long=(10911 Year=2034 Quarter=1)
year=("BDate=2024-01-01 00:00:00" "EDate=2024-12-31 23:59:59")

history_rows() {    # engine short long
  local a b
  a=$(component_ms "$2" "${ledger_short[@]}"); b=$(component_ms "$3" "${ledger_long[@]}")
  row "10901 one month, 10-year / 1-year ($1)" "$(ratio "$b" "$a")x ($b / $a ms; goal <= 1.5)"
  a=$(component_ms "$2" "${sales_short[@]}"); b=$(component_ms "$3" "${sales_long[@]}")
  row "10902 one month, 10-year / 1-year ($1)" "$(ratio "$b" "$a")x ($b / $a ms; goal ~1.0)"
  a=$(component_ms "$2" "${lines_short[@]}"); b=$(component_ms "$3" "${lines_long[@]}")
  row "10903 one month, 10-year / 1-year ($1)" "$(ratio "$b" "$a")x ($b / $a ms; goal ~1.0)"
  local r
  for r in liability ageing settle custody; do
    # Names first: a command's words are all expanded before it assigns any of them.
    local short_args="${r}_short[@]" long_args="${r}_long[@]"
    local short_=("${!short_args}") long_=("${!long_args}")
    a=$(component_ms "$2" "${short_[@]}"); b=$(component_ms "$3" "${long_[@]}")
    row "${short_[0]} one period, 10-year / 1-year ($1)" "$(ratio "$b" "$a")x ($b / $a ms; goal <= 1.2)"
  done
}

# The 10903 year as CSV, table and XLSX through the command-line host, against the engine's
# own shell writing the same SELECT as CSV ($work/shell.sh reads $work/lines.sql).
output_rows() {    # engine chain props shell-writer
  local engine=$1 chain=$2 props=$3
  local sql="$work/lines.sql" out="$work/out"
  "$bench" sql "$chain" 10903 "${year[@]}" > "$sql"
  "$4"
  local rs_bytes
  rs_bytes=$("$bench" report "$chain" 10903 "${year[@]}" | sed -n 's/.* bytes=\([0-9]*\).*/\1/p')
  read -r sw sk <<<"$(measure bash "$work/shell.sh")"
  read -r cw ck <<<"$(measure "$cli" run 10903 --props "$props" --set "${year[0]}" --set "${year[1]}" --format csv --out "$out.csv")"
  row "10903 year as CSV / engine shell CSV ($engine)" "$(ratio "$cw" "$sw")x wall ($cw / $sw ms; goal <= 1.3)"
  row "  peak memory / record set size ($engine)" \
      "$(ratio $((ck * 1024)) "$rs_bytes")x ($((ck / 1024)) MB / $((rs_bytes / 1048576)) MB; shell $((sk / 1024)) MB; goal <= 2)"
  if [ "$engine" = SQLite ]; then
    read -r tw tk <<<"$(measure "$cli" run 10903 --props "$props" --set "${year[0]}" --set "${year[1]}" --format table --out "$out.txt")"
    row "10903 year as table (SQLite)" "$tw ms, peak $((tk / 1024)) MB (goal: memory bounded by the record set)"
    read -r xw xk <<<"$(measure "$cli" run 10903 --props "$props" --set "${year[0]}" --set "${year[1]}" --format xlsx --out "$out.xlsx")"
    row "10903 year as XLSX / as CSV (SQLite)" "$(ratio "$xw" "$cw")x ($xw / $cw ms, peak $((xk / 1024)) MB; goal <= 2)"
  fi
  rm -f "$sql" "$out".*
}

if [ "$wire" = 0 ]; then
echo "chains: $members members, $items items, $perday lines a day; 1 year and 10 years"
history_rows SQLite "$short" "$long"
sqlite_shell() {
  printf 'exec sqlite3 -readonly -csv "%s" < "%s" > "%s"\n' "$short" "$work/lines.sql" "$work/out.shell.csv" > "$work/shell.sh"
}
output_rows SQLite "$short" "Driver=SQLite;Database=$short" sqlite_shell
fi

# The 10903 year as CSV against psql \copy of the same SELECT, quiet and beside two CPU-bound processes.
wire_rows() {    # props
  "$bench" sql "$1" 10903 "${year[@]}" > "$work/lines.sql"
  psql_shell
  wire_compare "$runs" "10903 year as CSV" "$work/shell.sh" \
    "$cli" run 10903 --props "$1" --set "${year[0]}" --set "${year[1]}" --format csv --out "$work/out.csv"
  rm -f "$work/out.csv" "$work/out.shell.csv"
}

if [ "$pg" = 1 ]; then
  # shellcheck source=../scripts/pg-cluster.sh
  source "$root/scripts/pg-cluster.sh"
  pg_cluster_start
  server=$VELVIP_TEST_PG
  pg_env
  load() {    # database days -> seconds
    pg_sql postgres "CREATE DATABASE $1"
    local t0 t1
    t0=$(date +%s%N)
    "$bench" make-demo --props "${server/Database=postgres/Database=$1}" $(demo_args "$2") $partitioned 2>/dev/null
    t1=$(date +%s%N)
    awk -v n=$((t1 - t0)) 'BEGIN { printf "%.1f", n / 1e9 }'
  }
  psql_shell() { psql_copy_script "$work/lines.sql" short "$work/out.shell.csv" "$work/shell.sh"; }
  s1=$(load short 365)
  lines1=$((365 * perday))
  row "make-demo into PostgreSQL, $lines1 lines" "$s1 s"
  pshort="${server/Database=postgres/Database=short}"
  if [ "$wire" = 0 ]; then
    s10=$(load long 3650)
    lines10=$((3650 * perday))
    row "make-demo into PostgreSQL, $lines10 lines" "$s10 s (goal for 10M lines < 180 s)"
    plong="${server/Database=postgres/Database=long}"
    history_rows PostgreSQL "$pshort" "$plong"
    output_rows PostgreSQL "$pshort" "$pshort" psql_shell
  fi
  wire_rows "$pshort"
fi
echo "(load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores)"
