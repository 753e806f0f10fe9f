#!/usr/bin/env bash
# Time from Ctrl+C (SIGINT) to the exit of velvip-report during a long report, SQLite and
# PostgreSQL (a throw-away cluster started as scripts/test.sh does).
#   bench/cancel.sh [--build DIR] [--work DIR] [--runs N] [--no-pg | --props TEXT]
# --props names a PostgreSQL chain made already (make-demo with the shape below) instead.
# The chain is 1M sale lines (20,000 members, 2,740 lines a day, 2024); the report is 10903 for
# the whole year as CSV. SIGINT goes at 1, 2, 3 ... seconds into the run (N runs per engine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/dev
work=/tmp/velvip-cancel
runs=5
pg=1
pgprops=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-pg) pg=0; shift ;;
    --props) pgprops=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--work DIR] [--runs N] [--no-pg | --props TEXT]" >&2; exit 2 ;;
  esac
done
report=$build/bin/velvip-report
[ -x "$report" ] || { echo "cancel.sh: $report not built" >&2; exit 1; }
mkdir -p "$work"
shape=(--start 2024-01-01 --members 20000 --days 366 --lines-per-day 2740)

# One run: SIGINT after $1 seconds; prints exit status, milliseconds to exit and stderr.
interrupt() {
  local delay=$1; shift
  "$report" run 10903 --period 2024 --format csv "$@" >/dev/null 2>"$work/err" &
  local pid=$!
  sleep "$delay"
  local t0; t0=$(date +%s%N)
  kill -INT "$pid" 2>/dev/null || true
  local rc=0; wait "$pid" || rc=$?
  local t1; t1=$(date +%s%N)
  printf '  SIGINT at %ss: exit %s after %d ms, stderr "%s"\n' "$delay" "$rc" $(((t1 - t0) / 1000000)) "$(tr '\n' ' ' <"$work/err")"
}

series() {
  local name=$1; shift
  echo "$name (load $(cut -d' ' -f1-3 /proc/loadavg)):"
  local i
  for i in $(seq 1 "$runs"); do interrupt "$i" "$@"; done
}

[ -f "$work/chain.sqlite" ] || "$report" make-demo --out "$work/chain.sqlite" "${shape[@]}" >/dev/null
series SQLite --db "$work/chain.sqlite"

if [ -n "$pgprops" ]; then
  series PostgreSQL --props "$pgprops"
elif [ "$pg" = 1 ]; then
  # shellcheck source=../scripts/pg-cluster.sh
  source "$root/scripts/pg-cluster.sh"
  pg_cluster_start
  trap pg_cluster_stop EXIT
  port=$(sed 's/.*Port=\([0-9]*\).*/\1/' <<<"$VELVIP_TEST_PG")
  psql_() { PGPASSWORD=$(cat "$PG_CLUSTER_DIR/pw") psql -h 127.0.0.1 -p "$port" -U postgres -d postgres -Atc "$1"; }
  psql_ "CREATE DATABASE chain" >/dev/null
  props=${VELVIP_TEST_PG/Database=postgres/Database=chain}
  "$report" make-demo --props "$props" "${shape[@]}" >/dev/null
  series PostgreSQL --props "$props"
  echo "PostgreSQL queries left running: $(psql_ "SELECT count(*) FROM pg_stat_activity
    WHERE backend_type = 'client backend' AND state <> 'idle' AND pid <> pg_backend_pid()")"
fi
