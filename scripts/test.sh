#!/usr/bin/env bash
# Installs what is missing, builds, starts a throw-away PostgreSQL server and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage() {
  cat <<'TEXT'
用法：scripts/test.sh [--asan]
  （无参数）  安装缺少的软件包，构建 build/test，启动临时 PostgreSQL，运行全部测试，
              再构建并测试 .deb 软件包（scripts/package-test.sh）。双核机器上约 20 分钟。
  --asan      在 build/asan 中以 AddressSanitizer 和 UndefinedBehaviorSanitizer 构建并运行
              全部测试，再做模糊测试（scripts/fuzz.sh），比不带参数时更久。
  -h, --help  显示本帮助。
只运行一部分测试：ctest --test-dir build/test -R 名称
TEXT
}

case $# in
  0) ;;
  1) case $1 in
       --asan) ;;
       -h|--help) usage; exit 0 ;;
       *) printf 'scripts/test.sh: 未知参数“%s”\n' "$1" >&2; usage >&2; exit 2 ;;
     esac ;;
  *) printf 'scripts/test.sh: 参数太多：%s\n' "$*" >&2; usage >&2; exit 2 ;;
esac

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
pg_cluster_watch   # stopped also when this script is killed
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
