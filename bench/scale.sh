#!/usr/bin/env bash
# A large partitioned chain on a throw-away PostgreSQL cluster: how fast make-demo loads it.
#   bench/scale.sh [--branches N] [--days N] [--build DIR]
#     --branches  stores (default 300: 15,000 sale lines a day, members and items in proportion)
#     --days      days from 2024-01-01 (default 540: 8.1M lines; 6667 makes about 100M)
#     --build     an existing build tree with velvip-report (default build/bench)
# Prints the load average, the wall time, lines a second and the server's time per phase.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
branches=300 days=540 build="$root/build/bench"
while [ $# -gt 0 ]; do
  case "$1" in
    --branches) branches=$2; shift ;;
    --days) days=$2; shift ;;
    --build) build=$(cd "$2" && pwd); shift ;;
    *) echo "usage: bench/scale.sh [--branches N] [--days N] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [ ! -x "$build/bin/velvip-report" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target velvip-report >/dev/null
fi
# shellcheck source=../scripts/pg-cluster.sh
source "$root/scripts/pg-cluster.sh"
pg_cluster_start >/dev/null
trap pg_cluster_stop EXIT
sql() { "$PG_CLUSTER_BINDIR/psql" -h 127.0.0.1 -p "$(sed -n 's/.*Port=\([0-9]*\).*/\1/p' <<<"$VELVIP_TEST_PG")" \
          -U postgres -d postgres -Atq -c "$1"; }
export PGPASSWORD; PGPASSWORD=$(cat "$PG_CLUSTER_DIR/pw")
sql "CREATE DATABASE scale"
sql "ALTER DATABASE scale SET log_min_duration_statement = 0"
log_from=$(wc -l <"$PG_CLUSTER_DIR/server.log")
lines=$((branches * 50 * days))
echo "make-demo --branches $branches --days $days: $lines sale lines; before: $(uptime)"
t0=$(date +%s%N)
"$build/bin/velvip-report" make-demo --props "${VELVIP_TEST_PG/Database=postgres/Database=scale}" --partitioned \
  --branches "$branches" --start 2024-01-01 --days "$days" 2>/dev/null
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
echo "after: $(uptime)"
echo "wall $((ms / 1000)) s, $((lines * 1000 / ms)) lines/s; 100M lines at this rate: $((100000000 / (lines * 1000 / ms) / 60)) min"
echo "database size: $(sql "SELECT pg_size_pretty(pg_database_size('scale'))")"
# The server's time per phase, from its statement log.
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
