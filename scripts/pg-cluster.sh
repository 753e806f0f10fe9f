#!/usr/bin/env bash
# A throw-away PostgreSQL cluster on 127.0.0.1 for the tests and benchmarks.
#   source scripts/pg-cluster.sh; pg_cluster_start; ...; pg_cluster_stop
# pg_cluster_start exports VELVIP_TEST_PG, a connection text for the cluster's superuser.
# pg_cluster_start DIR keeps the cluster in DIR instead: started again from it when DIR has one,
# and left there by pg_cluster_stop.
# pg_cluster_start_standby (after pg_cluster_start) adds two hot standbys streaming from it,
# made by pg_basebackup -R on replication slots of their own (so a standby that was stopped
# or fell behind finds its WAL kept), and exports VELVIP_TEST_PG_STANDBY and VELVIP_TEST_PG_STANDBY2;
# pg_cluster_stop stops them all.
# pg_cluster_watch [FOLDER...] (after pg_cluster_start) stops the cluster, and removes the folders,
# once this shell has ended, even killed (a test's timeout): a watcher outside this shell's tree.

pg_cluster_start() {
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -x "$bindir/initdb" ] || { echo "pg-cluster: PostgreSQL server binaries not found" >&2; return 1; }
  if [ -n "${1:-}" ]; then
    PG_CLUSTER_KEEP=1
    PG_CLUSTER_DIR=$1
    mkdir -p "$PG_CLUSTER_DIR"
  else
    PG_CLUSTER_KEEP=
    PG_CLUSTER_DIR=$(mktemp -d /tmp/velvip-pg.XXXXXX)
  fi
  local run=()
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$PG_CLUSTER_DIR"
    run=(runuser -u postgres --)
  fi
  local pw
  if [ ! -f "$PG_CLUSTER_DIR/data/PG_VERSION" ]; then
    pw="t$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
    (umask 077; printf '%s\n' "$pw" > "$PG_CLUSTER_DIR/pw")
    [ "$(id -u)" -eq 0 ] && chown postgres: "$PG_CLUSTER_DIR/pw"
    "${run[@]}" "$bindir/initdb" -D "$PG_CLUSTER_DIR/data" -U postgres --auth=scram-sha-256 \
        --pwfile="$PG_CLUSTER_DIR/pw" -E UTF8 --locale=C.UTF-8 >"$PG_CLUSTER_DIR/initdb.log" 2>&1 \
      || { cat "$PG_CLUSTER_DIR/initdb.log" >&2; return 1; }
  fi
  pw=$(cat "$PG_CLUSTER_DIR/pw")
  local port
  for port in $(seq 55432 55480); do
    if "${run[@]}" "$bindir/pg_ctl" -D "$PG_CLUSTER_DIR/data" -l "$PG_CLUSTER_DIR/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $PG_CLUSTER_DIR -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >/dev/null 2>&1; then
      PG_CLUSTER_BINDIR=$bindir
      PG_CLUSTER_RUN=("${run[@]}")
      export VELVIP_TEST_PG="Driver=PostgreSQL;Host=127.0.0.1;Port=$port;Database=postgres;User=postgres;Password=$pw"
      export PG_CLUSTER_DIR PG_CLUSTER_BINDIR
      echo "pg-cluster: PostgreSQL running on 127.0.0.1:$port" >&2
      return 0
    fi
  done
  tail -n 20 "$PG_CLUSTER_DIR/server.log" >&2 || true
  return 1
}

pg_cluster_start_standby() {
  _pg_cluster_standby standby VELVIP_TEST_PG_STANDBY && _pg_cluster_standby standby2 VELVIP_TEST_PG_STANDBY2
}

# One hot standby in $PG_CLUSTER_DIR/$1, its connection text exported as $2.
_pg_cluster_standby() {
  [ -n "${PG_CLUSTER_DIR:-}" ] || { echo "pg-cluster: start the primary first" >&2; return 1; }
  local pw primary port dir=$PG_CLUSTER_DIR/$1
  pw=$(cat "$PG_CLUSTER_DIR/pw")
  primary=$(sed -n 's/.*Port=\([0-9]*\).*/\1/p' <<<"$VELVIP_TEST_PG")
  "${PG_CLUSTER_RUN[@]}" env PGPASSWORD="$pw" "$PG_CLUSTER_BINDIR/pg_basebackup" -h 127.0.0.1 -p "$primary" \
      -U postgres -D "$dir" -R -X stream -C -S "$1" >"$dir.basebackup.log" 2>&1 \
    || { cat "$dir.basebackup.log" >&2; return 1; }
  for port in $(seq $((primary + 1)) 55490); do
    if "${PG_CLUSTER_RUN[@]}" "$PG_CLUSTER_BINDIR/pg_ctl" -D "$dir" -l "$dir.log" \
        -w -t 60 -o "-c listen_addresses=127.0.0.1 -p $port -k $PG_CLUSTER_DIR -c hot_standby=on -c max_standby_streaming_delay=1s" start >/dev/null 2>&1; then
      export "$2=${VELVIP_TEST_PG/Port=$primary/Port=$port}"
      echo "pg-cluster: hot standby running on 127.0.0.1:$port" >&2
      return 0
    fi
  done
  cat "$dir.log" >&2 || true
  return 1
}

pg_cluster_stop() {
  [ -n "${PG_CLUSTER_DIR:-}" ] || return 0
  local standby
  for standby in "$PG_CLUSTER_DIR"/standby "$PG_CLUSTER_DIR"/standby2; do
    [ -d "$standby" ] && { "${PG_CLUSTER_RUN[@]}" "$PG_CLUSTER_BINDIR/pg_ctl" -D "$standby" -m fast -w stop >/dev/null 2>&1 || true; }
  done
  "${PG_CLUSTER_RUN[@]}" "$PG_CLUSTER_BINDIR/pg_ctl" -D "$PG_CLUSTER_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
  [ -n "${PG_CLUSTER_KEEP:-}" ] || rm -rf "$PG_CLUSTER_DIR"
  unset PG_CLUSTER_DIR VELVIP_TEST_PG VELVIP_TEST_PG_STANDBY VELVIP_TEST_PG_STANDBY2
}

pg_cluster_watch() {
  local IFS=:
  (setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done
                   source "$2"; PG_CLUSTER_DIR=$3 PG_CLUSTER_BINDIR=$4 PG_CLUSTER_KEEP=$5 PG_CLUSTER_RUN=(${6//:/ })
                   pg_cluster_stop; rm -rf "${@:7}"' _ "$$" "${BASH_SOURCE[0]}" "$PG_CLUSTER_DIR" "$PG_CLUSTER_BINDIR" \
     "${PG_CLUSTER_KEEP:-}" "${PG_CLUSTER_RUN[*]}" "$@" </dev/null >/dev/null 2>&1 &)
}
