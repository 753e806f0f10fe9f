# shellcheck shell=bash
# Shell shared by the PostgreSQL benchmarks (bench/run.sh, bench/scale.sh); sourced.
# Timings, ratios, the CPU-bound neighbours and our CSV against psql \copy of the same SELECT.

row() { printf '%-58s %s\n' "$1" "$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)) }'; }
wall_ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000000 ))
}

# "best_ms rows" of a report inside the component (connected beforehand), best of N runs of
# `velserver-bench report` ($bench).
#   component_run N CHAIN RPTID KEY=VALUE...
component_run() {
  local best="" rows="" i out ms n=$1
  shift
  for i in $(seq "$n"); do
    out=$("${bench:?}" report "$@")
    ms=$(sed -n 's/.* ms=\([0-9]*\).*/\1/p' <<<"$out")
    rows=$(sed -n 's/^rows=\([0-9]*\).*/\1/p' <<<"$out")
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best $rows"
}

# Two CPU-bound processes beside the measured ones, as on a busy server: each in a session of
# its own, as other services are, since the kernel shares CPU time between sessions first
# (autogroup) and spinners in this session would take their time from the client alone.
spinners=()
spin_start() {
  local i
  for i in 1 2; do
    setsid bash -c 'while :; do :; done' &
    spinners+=($!)
  done
}
spin_stop() {
  local pid
  for pid in "${spinners[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  spinners=()
}

# After pg_cluster_start: $pg_port, PGPASSWORD and pg_sql DATABASE STATEMENT.
pg_env() {
  pg_port=$(sed -n 's/.*Port=\([0-9]*\).*/\1/p' <<<"$VELVIP_TEST_PG")
  PGPASSWORD=$(sed -n 's/.*Password=\([^;]*\).*/\1/p' <<<"$VELVIP_TEST_PG")
  export PGPASSWORD
}
pg_sql() { PGOPTIONS=--client-min-messages=warning psql -X -q -At -h 127.0.0.1 -p "$pg_port" -U postgres -d "$1" -c "$2"; }

# A script that writes the SELECT in SQL_FILE as CSV with psql \copy, as the engine's own tool.
#   psql_copy_script SQL_FILE DATABASE OUT_CSV SCRIPT
psql_copy_script() {
  # \copy takes its query on one line.
  printf '\\copy (%s) TO '"'"'%s'"'"' CSV\n' "$(tr '\n' ' ' < "$1" | sed 's/; *$//')" "$3" > "$4.psql"
  printf 'exec psql -X -q -h 127.0.0.1 -p %s -U postgres -d %s -f "%s"\n' "$pg_port" "$2" "$4.psql" > "$4"
}

# Our command against the psql script, quiet and beside two CPU-bound processes, RUNS times
# each, interleaved (the order within each pair alternates) so that both see the same machine;
# medians, and the load average before and after. GOAL is the ratio printed as the goal, or "-"
# for a measurement that has none.
#   wire_compare RUNS LABEL SCRIPT COMMAND...
#   GOAL=- wire_compare RUNS LABEL SCRIPT COMMAND...
wire_compare() {
  local runs=$1 label=$2 script=$3 qs=() qc=() ls=() lc=() i before a b goal
  shift 3
  goal=$([ "${GOAL:-1.1}" = - ] && echo "" || echo "; goal <= ${GOAL:-1.1}")
  before=$(cut -d' ' -f1-3 /proc/loadavg)
  for i in $(seq "$runs"); do
    if [ $((i % 2)) = 1 ]; then
      qs+=("$(wall_ms bash "$script")"); qc+=("$(wall_ms "$@")")
      spin_start; ls+=("$(wall_ms bash "$script")"); lc+=("$(wall_ms "$@")"); spin_stop
    else
      qc+=("$(wall_ms "$@")"); qs+=("$(wall_ms bash "$script")")
      spin_start; lc+=("$(wall_ms "$@")"); ls+=("$(wall_ms bash "$script")"); spin_stop
    fi
  done
  a=$(median "${qc[@]}"); b=$(median "${qs[@]}")
  row "$label / psql \\copy, quiet" "$(ratio "$a" "$b")x ($a / $b ms, medians of $runs$goal)"
  a=$(median "${lc[@]}"); b=$(median "${ls[@]}")
  row "$label / psql \\copy, two CPU-bound beside" "$(ratio "$a" "$b")x ($a / $b ms, medians of $runs$goal)"
  row "  runs (ours / psql, ms)" "quiet ${qc[*]} / ${qs[*]}; loaded ${lc[*]} / ${ls[*]}"
  row "  load average" "$before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
}
