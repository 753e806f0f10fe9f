#!/usr/bin/env bash
# Two report services behind one nginx, on a PostgreSQL primary with two streaming standbys:
# while 64 clients sign in and run reports through nginx, one instance is stopped with SIGTERM
# (and started again), the other killed with SIGKILL (and started again), then one standby and
# then the other are stopped. Both instances share one store on the primary (sessions,
# throttling, schedules, audit) and read reports from the standbys (`Standbys=` in --props).
# Prints what the clients saw per phase (bench/failover-client.py) against bodies of a run on
# the primary alone.
#   bench/failover.sh [--build build/test] [--phase 15] [--clients 64] [--workers 2] [--big] [--keep]
#                     [--site FILE]   (another nginx site than packaging/nginx/velvip.conf)
#                     [--freeze]      (first freeze standby 1 for a phase: SIGSTOP, then SIGCONT)
#                     [--check]       (small and quick; exits 1 with one line per broken promise,
#                                      77 where nginx or PostgreSQL is missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test" phase=15 clients=64 workers=2 demo=(--days 366) keep=0 freeze=0 check=()
# Phases of 8 s: nginx tries a restarted instance again (fail_timeout=10s) before the other is lost.
for a in "$@"; do [ "$a" = --check ] && { phase=8 clients=16 demo=(--branches 2 --days 182) check=(--check --hang 30); }; done
while [ $# -gt 0 ]; do
  case "$1" in
    --check) shift ;;
    --build) build=$2; shift 2 ;;
    --phase) phase=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --workers) workers=$2; shift 2 ;;
    --big) demo=(--branches 40 --days 731); shift ;;
    --keep) keep=1; shift ;;
    --freeze) freeze=1; shift ;;
    --site) nginx_site=$(realpath "$2"); shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--phase SECONDS] [--clients N] [--workers N] [--big] [--keep] [--site FILE] [--freeze] [--check]" >&2; exit 2 ;;
  esac
done
if [ ${#check[@]} -gt 0 ]; then
  [ -x /usr/sbin/nginx ] || { echo "failover: nginx is not installed, skipped" >&2; exit 77; }
  ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || [ "${VELVIP_REQUIRE_PG:-}" = 1 ] \
    || { echo "failover: PostgreSQL is not installed, skipped" >&2; exit 77; }
fi
bin="$build/bin"
source "$root/scripts/pg-cluster.sh"
source "$root/bench/service-lib.sh"
work=$(mktemp -d /tmp/velvip-failover.XXXXXX)
declare -A pids=()
finish() {
  local p
  for p in "${pids[@]}" ${nginx:-} ${load:-}; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pg_cluster_stop
  [ "$keep" = 1 ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM

pg_cluster_start
# Stopped and removed even when this script is killed (a test's timeout).
if [ "$keep" = 1 ]; then pg_cluster_watch; else pg_cluster_watch "$work"; fi
pg_cluster_start_standby
# The password stays in the environment, off every command line.
PGPASSWORD=$(sed -n 's/.*;Password=\([^;]*\).*/\1/p' <<<"$VELVIP_TEST_PG"); export PGPASSWORD
primary=${VELVIP_TEST_PG/;Password=$PGPASSWORD/}
standby_port() { sed -n 's/.*Port=\([0-9]*\).*/\1/p' <<<"$1"; }
standbys="127.0.0.1:$(standby_port "$VELVIP_TEST_PG_STANDBY"),127.0.0.1:$(standby_port "$VELVIP_TEST_PG_STANDBY2")"
chain="$primary;Standbys=$standbys;MaxLagSeconds=30"
store="$primary;Schema=velvip_service"

began=$(date +%s.%N)
"$bin/velvip-report" make-demo --props "$primary" --start 2024-01-01 "${demo[@]}" --seed 11 2>"$work/make-demo.log"
echo "make-demo ${demo[*]}: $(awk -v b="$began" -v e="$(date +%s.%N)" 'BEGIN {printf "%.1f", e-b}') s" >&2
echo "bench-password" | "$bin/velvip-server" user add bench --password-stdin --head-office --store "$store" >/dev/null

# The reports the clients run, and each body as a run on the primary alone answers it.
mkdir "$work/refs"
while read -r name report body; do
  printf '%s' "$body" > "$work/refs/$report-$name.body"
done <<'REQUESTS'
may 10902 {"period":"2024-05","GroupBy":1}
june 10902 {"period":"2024-06","GroupBy":2}
march 10901 {"period":"2024-03"}
week 10903 {"period":"2024-05-06..2024-05-12"}
topups 10905 {"period":"2024-04","GroupBy":1}
REQUESTS

# One instance on PORT, its access log in WORK/NAME.log; waits until it answers.
start_instance() {
  local name=$1 port=$2
  "$bin/velvip-server" --props "$chain" --store "$store" --listen "127.0.0.1:$port" --workers "$workers" --queue 64 \
    --trusted-proxy 127.0.0.1 >/dev/null 2>>"$work/$name.log" &
  pids[$name]=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$port/api/v1/health" >/dev/null && return 0
    sleep 0.2
  done
  echo "failover: instance $name did not start" >&2; return 1
}
declare -A ports=([a]=$(free_port) [b]=$(free_port))
reference=$(free_port)
"$bin/velvip-server" --props "$primary" --store "$store" --listen "127.0.0.1:$reference" --workers 1 >/dev/null 2>"$work/reference.log" &
pids[reference]=$!
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$reference/api/v1/health" >/dev/null && break; sleep 0.2; done
token=$("$bin/velvip-server" token add bench --store "$store" 2>/dev/null)
for b in "$work"/refs/*.body; do
  curl -sf -o "${b%.body}.json" -H "Authorization: Bearer $token" -H "Content-Type: application/json" --data-binary "@$b" \
    "http://127.0.0.1:$reference/api/v1/reports/$(basename "$b" | cut -d- -f1)/run"
done
kill "${pids[reference]}"; wait "${pids[reference]}" 2>/dev/null || true; unset 'pids[reference]'

start_instance a "${ports[a]}"
start_instance b "${ports[b]}"
port=$(free_port)
# Which instance answered, for the clients' session count (the bench's own header).
nginx_extra='add_header X-Velvip-Upstream $upstream_addr always;'
start_nginx "$port" "$work" "${ports[a]}" "${ports[b]}"
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$port/api/v1/health" >/dev/null && break; sleep 0.2; done

# Failed sign-ins from one address through nginx until the first 429: five are free, wherever
# the balancer sends them.
throttled=0
for i in $(seq 12); do
  status=$(curl -s -o /dev/null -w '%{http_code}' --interface 127.0.0.20 -H "Content-Type: application/json" \
           -d '{"user":"bench","password":"wrong"}' "http://127.0.0.1:$port/api/v1/session")
  [ "$status" = 429 ] && { throttled=$i; break; }
done

# Rows a standby's scans returned so far: it answered reports when they grew under the load.
rows_read() {
  psql -XAtq -h 127.0.0.1 -p "$(standby_port "$1")" -U postgres -d postgres \
    -c 'SELECT tup_returned FROM pg_stat_database WHERE datname = current_database()'
}
read1=$(rows_read "$VELVIP_TEST_PG_STANDBY") read2=$(rows_read "$VELVIP_TEST_PG_STANDBY2")

events="$work/events"; : > "$events"
event() { echo "$(date +%s.%N) $*" >> "$events"; echo "$(date +%T) $*" >&2; }
python3 "$root/bench/failover-client.py" "http://127.0.0.1:$port" bench bench-password "$work/refs" "$events" \
  --clients "$clients" --records "$work/records" "${check[@]}" > "$work/summary" &
load=$!

for _ in $(seq 600); do grep -q "all signed in" "$events" && break; sleep 0.2; done
sleep "$phase"
event "instance a stopped (SIGTERM)"
kill -TERM "${pids[a]}"; wait "${pids[a]}" 2>/dev/null || true
sleep "$phase"
event "instance a started again"
start_instance a "${ports[a]}"
sleep "$phase"
event "instance b killed (SIGKILL)"
kill -KILL "${pids[b]}"; wait "${pids[b]}" 2>/dev/null || true
sleep "$phase"
event "instance b started again"
start_instance b "${ports[b]}"
sleep "$phase"
if [ "$freeze" = 1 ]; then
  # The standby's processes stopped as a frozen machine would be: connections stay open.
  frozen=$(head -1 "$PG_CLUSTER_DIR/standby/postmaster.pid")
  frozen="$frozen $(ps -o pid= --ppid "$frozen" | tr '\n' ' ')"
  event "standby 1 frozen (SIGSTOP)"
  kill -STOP $frozen
  sleep "$phase"
  event "standby 1 going on (SIGCONT)"
  kill -CONT $frozen
  sleep "$phase"
fi
read1=$(($(rows_read "$VELVIP_TEST_PG_STANDBY") - read1)) read2=$(($(rows_read "$VELVIP_TEST_PG_STANDBY2") - read2))
event "standby 1 stopped (fast)"
"${PG_CLUSTER_RUN[@]}" "$PG_CLUSTER_BINDIR/pg_ctl" -D "$PG_CLUSTER_DIR/standby" -m fast -w stop >/dev/null
sleep "$phase"
event "standby 2 stopped (immediate)"
"${PG_CLUSTER_RUN[@]}" "$PG_CLUSTER_BINDIR/pg_ctl" -D "$PG_CLUSTER_DIR/standby2" -m immediate -w stop >/dev/null
sleep "$phase"
event end
verdict=0
wait "$load" || verdict=$?

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $clients clients, $workers workers an instance, phases of $phase s"
cat "$work/summary"
echo "failed sign-ins through nginx: the first 429 at try $throttled (0: none in 12)"
echo "status 5xx in the instances' access logs: $(cat "$work"/a.log "$work"/b.log | grep -c '"status":5' || true)"
echo "rows the standbys' scans returned until standby 1 stopped: $read1, $read2"
if [ ${#check[@]} -gt 0 ]; then
  # The clients' verdict is in the summary; each standby must have answered some of the reports.
  for n in 1 2; do
    r=read$n; [ "${!r}" -ge 1000 ] || { echo "broken: standby $n answered no reports (${!r} rows read)"; verdict=1; }
  done
fi
exit "$verdict"
