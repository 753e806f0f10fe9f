#!/usr/bin/env bash
# A chain of hundreds of stores on PostgreSQL against a 1M-line chain of the same stores: the load
# rate, each month report's time on both, and the chain-month as CSV against psql \copy.
#   bench/scale.sh [--lines 10M|100M] [--branches N] [--days N] [--ref-days N] [--runs N]
#                  [--keep DIR] [--build DIR]
#     --lines     the big chain's size in millions of lines, e.g. 10M (666 days at 300 stores; 6 GB) or 100M (63 GB at the peak, 35–45 min)
#     --branches  stores (default 300: 50 sale lines a store a day, members and items in proportion)
#     --days      the big chain's days from 2024-01-01 (default 540: 8.1M lines)
#     --ref-days  the reference chain's days (default 67: about 1M lines), ending the same day
#     --runs      best of N for the reports, medians of N for CSV / psql (default 3)
#     --keep      keep the cluster in DIR and reuse the chains found there on the next run
#     --build     an existing build tree with velvip-report and velserver-bench (default build/bench)
# Both chains are partitioned by month, in one throw-away cluster (scripts/pg-cluster.sh). The
# months compared are the last whole month of the big chain, which the reference chain (the
# same stores and lines per store a day, ending the same day) also covers whole.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
branches=300 days=540 ref_days=67 runs=3 keep="" build="$root/build/bench" lines=""
usage="usage: bench/scale.sh [--lines 10M|100M] [--branches N] [--days N] [--ref-days N] [--runs N] [--keep DIR] [--build DIR]"
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) lines=$2; shift ;;
    --branches) branches=$2; shift ;;
    --days) days=$2; shift ;;
    --ref-days) ref_days=$2; shift ;;
    --runs) runs=$2; shift ;;
    --keep) mkdir -p "$2"; keep=$(cd "$2" && pwd); shift ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift
done
case "$lines" in
  "") ;;
  *M) days=$(( ${lines%M} * 1000000 / (branches * 50) )) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
for n in "$branches" "$days" "$ref_days" "$runs"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
done
wall0=$(date +%s)
if [ ! -x "$build/bin/velvip-report" ] || [ ! -x "$build/bin/velserver-bench" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELVIP_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target velvip-report velserver-bench >/dev/null
fi
cli="$build/bin/velvip-report"
bench="$build/bin/velserver-bench"
# shellcheck source=pg-lib.sh
source "$root/bench/pg-lib.sh"
# shellcheck source=../scripts/pg-cluster.sh
source "$root/scripts/pg-cluster.sh"
pg_cluster_start ${keep:+"$keep"}
work="$PG_CLUSTER_DIR/scale"
mkdir -p "$work"
cleanup() { spin_stop; rm -rf "$work"; pg_cluster_stop; }
trap cleanup EXIT
pg_env
props() { echo "${VELVIP_TEST_PG/Database=postgres/Database=$1}"; }

# The big chain from 2024-01-01; the reference chain ends the same day.
last=$(date -d "2024-01-01 + $((days - 1)) days" +%F)
ref_start=$(date -d "$last - $((ref_days - 1)) days" +%F)
month_end=$(date -d "$(date -d "$last + 1 day" +%Y-%m-01) - 1 day" +%F)
month_start=$(date -d "$month_end" +%Y-%m-01)
[[ "$ref_start" < "$month_start" || "$ref_start" == "$month_start" ]] \
  || { echo "scale: --ref-days $ref_days do not cover the month ending $month_end" >&2; exit 2; }

# make-demo into DATABASE unless a finished one of that shape is there (its comment says so).
load() {    # database start days
  local shape="make-demo --branches $branches --start $2 --days $3 --partitioned"
  if [ "$(pg_sql postgres "SELECT shobj_description(oid, 'pg_database') FROM pg_database WHERE datname = '$1'")" = "$shape" ]; then
    row "$1: $((branches * 50 * $3)) sale lines" "kept from an earlier run ($shape)"
    return 0
  fi
  pg_sql postgres "DROP DATABASE IF EXISTS $1"
  pg_sql postgres "CREATE DATABASE $1"
  pg_sql postgres "ALTER DATABASE $1 SET log_min_duration_statement = 0"
  local log_from t0 ms n=$((branches * 50 * $3))
  log_from=$(wc -l <"$PG_CLUSTER_DIR/server.log")
  t0=$(date +%s%N)
  "$cli" make-demo --props "$(props "$1")" --partitioned --branches "$branches" --start "$2" --days "$3" 2>/dev/null
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  pg_sql postgres "COMMENT ON DATABASE $1 IS '$shape'"
  row "$1: $n sale lines, $2 to $last" "$((ms / 1000)) s, $((n * 1000 / ms)) lines/s; database $(pg_sql postgres "SELECT pg_size_pretty(pg_database_size('$1'))")"
  # The big chain's server time per phase, from its statement log.
  [ "$1" = big ] || return 0
  tail -n +"$log_from" "$PG_CLUSTER_DIR/server.log" | awk -v wall="$ms" '
    /duration: .* statement: / {
      match($0, /duration: [0-9.]+/); d = substr($0, RSTART + 10, RLENGTH - 10)
      s = $0; sub(/.*statement: /, "", s)
      if (s ~ /^COPY /) k = "COPY"
      else if (s ~ /^CREATE INDEX ix_|add_line_keys/) k = "indexes and keys"
      else if (s ~ /^VACUUM/) k = "VACUUM (ANALYZE)"
      else if (s ~ /card_/) k = "card ledger"
      else k = "other statements"
      t[k] += d; all += d }
    END { for (k in t) printf "  %-18s %7.1f s\n", k, t[k] / 1000
          printf "  %-18s %7.1f s (generating rows while the server waits)\n", "client only", (wall - all) / 1000 }'
}
echo "$branches stores, 50 sale lines a store a day; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
load big 2024-01-01 "$days"
load ref "$ref_start" "$ref_days"

# Each report for the month on both chains, best of $runs: rows on each side and big / ref.
month=(Year="${month_end:0:4}" Month="$((10#${month_end:5:2}))")
dates=("BDate=$month_start 00:00:00" "EDate=$month_end 23:59:59")
# The component takes 10902's end as the first day after the period (the plug-in shifts it).
dates_10902=("BDate=$month_start 00:00:00" "EDate=$(date -d "$month_end + 1 day" +%F) 00:00:00")
branch=(BBranchNum=150 EBranchNum=150)
stock=(BStockNo=150 EStockNo=150)
echo "month $month_start..$month_end, branch 150; best of $runs, component ms, big / reference, on a pooled"
echo "session (the report's second run on it) and, in brackets, as a session's first statement"
compare() {    # label goal report arguments...
  local label=$1 goal=$2 big_ms big_rows ref_ms ref_rows cold_big cold_ref note=""
  shift 2
  read -r big_ms big_rows <<<"$(component_run "$runs" --warm "$(props big)" "$@")"
  read -r ref_ms ref_rows <<<"$(component_run "$runs" --warm "$(props ref)" "$@")"
  read -r cold_big _ <<<"$(component_run "$runs" "$(props big)" "$@")"
  read -r cold_ref _ <<<"$(component_run "$runs" "$(props ref)" "$@")"
  [ "$big_rows" = "$ref_rows" ] || { note="; rows differ"; rows_differ=1; }
  local r
  r=$(ratio "$big_ms" "$ref_ms")
  awk -v r="$r" -v g="$goal" 'BEGIN { exit !(r > g) }' && note="$note; OVER GOAL"
  row "$label" "${r}x ($big_ms / $ref_ms ms; [$(ratio "$cold_big" "$cold_ref")x $cold_big / $cold_ref ms]; rows $big_rows / $ref_rows; goal <= $goal$note)"
}
compare "10901 branch-month" 1.5 10901 "${month[@]}" "${branch[@]}" ShowVipDo=1
compare "10902 branch-month, by branch" 1.5 10902 GroupBy=1 "${dates_10902[@]}" "${branch[@]}"
compare "10903 branch-month" 1.5 10903 "${dates[@]}" "${branch[@]}"
compare "10904 branch-month, by branch" 1.5 10904 GroupBy=1 "${dates[@]}" "${stock[@]}"
compare "10905 branch-month, by branch" 1.5 10905 GroupBy=1 "${dates[@]}" "${stock[@]}"
compare "10902 chain-month, by branch" 1.5 10902 GroupBy=1 "${dates_10902[@]}"
if [ -n "${rows_differ:-}" ]; then
  echo "  (rows differ: each chain is its own random draw, the same lines a store a day but not the same members'"
  echo "   share of them, nor top-ups; gifts are redeemed from points, which a longer history has more of)"
fi

# The chain-month of 10903 on the big chain as CSV against psql \copy of the same SELECT.
"$bench" sql "$(props big)" 10903 "${dates[@]}" > "$work/lines.sql"
psql_copy_script "$work/lines.sql" big "$work/psql.csv" "$work/psql.sh"
wire_compare "$runs" "10903 chain-month as CSV" "$work/psql.sh" \
  "$cli" run 10903 --props "$(props big)" --set "${dates[0]}" --set "${dates[1]}" --format csv --out "$work/ours.csv"
row "  CSV lines (ours with its title and totals / psql)" "$(wc -l <"$work/ours.csv") / $(wc -l <"$work/psql.csv")"
# The same SELECT sent as the component sends it, its rows dropped: what the server and libpq
# take of the time above, without the record set and the writer.
GOAL=- wire_compare "$runs" "  its SELECT, values bound, rows dropped (velserver-bench wire)" "$work/psql.sh" \
  "$bench" wire "$(props big)" 10903 "${dates[@]}"
wall=$(( $(date +%s) - wall0 ))
row "wall time of this run" "$((wall / 60)) min $((wall % 60)) s (goal for 10M lines < 15 min); load average now $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$keep" ]; then echo "cluster kept in $keep (password in $keep/pw)"; fi
