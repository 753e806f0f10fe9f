#!/usr/bin/env bash
# Installs what is missing, builds, starts a throw-away PostgreSQL server and runs every test.
#   scripts/test.sh          release build with debug info
#   scripts/test.sh --asan   the same under AddressSanitizer and UndefinedBehaviorSanitizer, then
#                            the fuzz targets (scripts/fuzz.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

sanitize=OFF
build="$root/build/test"
if [ "${1:-}" = "--asan" ]; then
  sanitize=ON
  build="$root/build/asan"
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

scripts/setup-deps.sh
(cd "$root/web" && npm ci --no-audit --no-fund --loglevel=error)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEL_SANITIZE=$sanitize \
  -DVELVIP_BUILD_TESTS=ON -DVELVIP_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

# shellcheck source=pg-cluster.sh
source "$root/scripts/pg-cluster.sh"
pg_cluster_start
trap pg_cluster_stop EXIT
pg_cluster_start_standby
export VELVIP_REQUIRE_STANDBY=1
# PostgreSQL tests must run here, never skip.
export VELVIP_REQUIRE_PG=1

ctest --test-dir "$build" --output-on-failure --timeout 1200 -j2

# Every parser of outside text, fuzzed for a bounded time (about a minute in all).
if [ "$sanitize" = ON ]; then
  scripts/fuzz.sh 12
fi

# The Debian package, installed and used from its installed paths (not under the sanitizers):
# unpacked into a scratch root, or installed for real with VELVIP_PACKAGE_SYSTEM=1 (CI).
if [ "$sanitize" = OFF ]; then
  scripts/package-test.sh ${VELVIP_PACKAGE_SYSTEM:+--system} "$build"
fi
