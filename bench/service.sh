#!/usr/bin/env bash
# The report service under load, on the embedded demo chain:
#   1. wrk drives 10902 for May 2024 (by branch) with 32 connections against 32 velvip-report
#      processes running the same report side by side: throughput, p99 latency, peak memory;
#      then the same 32 connections with 8 slow clients beside them, each sending its request
#      header one byte a second: throughput, p99 latency and the slowest health answer;
#   2. eight concurrent CSV downloads of 10903 for 2024: the service's peak memory (service and
#      workers) against the size of one record set.
#   With --proxy, the clients (wrk, the slow ones, health, the downloads) go through Debian's nginx
#   with the shipped site (packaging/nginx/velvip.conf, without TLS) and the service trusts it.
#   bench/service.sh [--build build/test] [--seconds 20] [--workers 2] [--proxy]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test" seconds=20 workers=2 proxy=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --workers) workers=$2; shift 2 ;;
    --proxy) proxy=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--seconds N] [--workers N] [--proxy]" >&2; exit 2 ;;
  esac
done
bin="$build/bin"
work=$(mktemp -d /tmp/velvip-service-bench.XXXXXX)
trap 'kill "${server:-}" "${nginx:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

db=$("$bin/velvip-report" run 10906 --set BItemNumber=100001 --format csv >/dev/null 2>&1;
     ls ~/.local/share/VelVipRpt/VelVipRpt/demo-chain.sqlite)
store="$work/store.sqlite"
echo "bench-password" | "$bin/velvip-server" user add bench --password-stdin --head-office --store "$store"
token=$("$bin/velvip-server" token add bench --store "$store" 2>/dev/null)
source "$root/bench/service-lib.sh"
service_port=$(free_port)
"$bin/velvip-server" --db "$db" --store "$store" --listen "127.0.0.1:$service_port" --workers "$workers" --queue 64 \
  --trusted-proxy 127.0.0.1 >/dev/null 2>"$work/access.log" &
server=$!
port=$service_port
if [ "$proxy" = 1 ]; then
  port=$(free_port)
  start_nginx "$port" "$work" "$service_port"
fi
sleep 1

# Peak resident memory of the service and its workers, in MB, sampled every 100 ms until killed.
sample() {
  local peak=0 now
  while kill -0 "$server" 2>/dev/null; do
    now=$(ps -o rss= --pid "$server" --ppid "$server" | awk '{s+=$1} END {print int(s/1024)}')
    [ "$now" -gt "$peak" ] && peak=$now && echo "$peak" > "$work/peak"
    sleep 0.1
  done
}

body='{"period":"2024-05","GroupBy":1}'
cat > "$work/run.lua" <<LUA
wrk.method = "POST"
wrk.body = '$body'
wrk.headers["Authorization"] = "Bearer $token"
wrk.headers["Content-Type"] = "application/json"
LUA
echo 0 > "$work/peak"; sample & sampler=$!
wrk -t4 -c32 -d"${seconds}s" --latency -s "$work/run.lua" "http://127.0.0.1:$port/api/v1/reports/10902/run" > "$work/wrk.txt"
kill $sampler; wait $sampler 2>/dev/null || true
service_rps=$(awk '/Requests\/sec/ {print $2}' "$work/wrk.txt")
p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.txt")
errors=$(grep -c "Non-2xx" "$work/wrk.txt" || true)
echo "service: $service_rps req/s, p99 $p99, peak ${seconds}s $(cat "$work/peak") MB (service + workers), non-2xx lines: $errors"

# The same with eight slow clients beside them, and health asked every half second.
python3 - "$port" "$seconds" > "$work/slow.txt" <<'PY' &
import socket, sys, threading, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
# From an address of their own: through nginx, wrk's 32 connections fill 127.0.0.1's limit_conn.
clients = [socket.create_connection(("127.0.0.1", port), source_address=("127.0.0.2", 0)) for _ in range(8)]
end, slowest = time.monotonic() + seconds, 0.0
def trickle():
    while time.monotonic() < end:
        for c in clients:
            try:
                c.send(b"G")
            except OSError:
                pass
        time.sleep(1)
threading.Thread(target=trickle, daemon=True).start()
while time.monotonic() < end:
    began = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=30, source_address=("127.0.0.2", 0)) as h:
        h.sendall(b"GET /api/v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        while h.recv(4096):
            pass
    slowest = max(slowest, time.monotonic() - began)
    time.sleep(0.5)
print(f"{slowest:.3f}")
PY
slow=$!
wrk -t4 -c32 -d"${seconds}s" --latency -s "$work/run.lua" "http://127.0.0.1:$port/api/v1/reports/10902/run" > "$work/wrk-slow.txt"
wait $slow
echo "service with 8 slow clients: $(awk '/Requests\/sec/ {print $2}' "$work/wrk-slow.txt") req/s," \
     "p99 $(awk '$1 == "99%" {print $2}' "$work/wrk-slow.txt"), slowest health $(cat "$work/slow.txt") s," \
     "non-2xx lines: $(grep -c "Non-2xx" "$work/wrk-slow.txt" || true)"

# The same report by 32 velvip-report processes, each looping for the same time.
end=$(( $(date +%s) + seconds ))
for i in $(seq 32); do
  ( n=0; while [ "$(date +%s)" -lt "$end" ]; do
      "$bin/velvip-report" run 10902 --db "$db" --period 2024-05 --set GroupBy=1 --format json >/dev/null; n=$((n+1))
    done; echo $n ) > "$work/cli.$i" &
done
wait $(jobs -p | grep -v -e "^$server$" -e "^${nginx:-none}$") 2>/dev/null || true
cli_runs=$(cat "$work"/cli.* | awk '{s+=$1} END {print s}')
cli_rps=$(awk -v n="$cli_runs" -v s="$seconds" 'BEGIN {printf "%.2f", n/s}')
echo "32 × velvip-report: $cli_rps runs/s; service / command line: $(awk -v a="$service_rps" -v b="$cli_rps" 'BEGIN {printf "%.2f", a/b}')"

# Eight CSV downloads of the 10903 year at once.
echo 0 > "$work/peak"; sample & sampler=$!
for i in $(seq 8); do
  curl -s -o "$work/year.$i.csv" -H "Authorization: Bearer $token" -d '{"period":"2024"}' \
    "http://127.0.0.1:$port/api/v1/reports/10903/run?format=csv" &
done
wait $(jobs -p | grep -v -e "^$server$" -e "^$sampler$" -e "^${nginx:-none}$") 2>/dev/null || true
sleep 0.3; kill $sampler; wait $sampler 2>/dev/null || true
one=$(/usr/bin/time -f "%M" "$bin/velvip-report" run 10903 --db "$db" --period 2024 --format csv 2>&1 >/dev/null | tail -1)
echo "8 × 10903 2024 CSV ($(wc -l < "$work/year.1.csv") lines each): peak $(cat "$work/peak") MB; one velvip-report run of it: $((one / 1024)) MB"
