#!/usr/bin/env bash
# Prints report 10902 (会员消费表) grouped by branch of sale for May 2024 on the embedded demo
# chain, at a head office whose stored-value cards are shared by all branches (where the
# branch grouping applies). Builds the command-line host in build/test, the tree that
# scripts/test.sh uses (configured here without the tests and benchmarks, so that a later
# `cmake --build build/test` builds only the programs), and generates the demo chain on first use.
#   scripts/demo.sh                     branch subtotals and the grand total
#   scripts/demo.sh --set SumOnly=0     every member's line as well
#   scripts/demo.sh --format csv        any other option of `velvip-report run`
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/test"

step() { printf 'demo: %s\n' "$*" >&2; }

step "检查所需的 Debian 软件包（scripts/setup-deps.sh）"
"$root/scripts/setup-deps.sh"

step "配置 build/test（与 scripts/test.sh 共用）"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEL_SANITIZE=OFF \
  -DVELVIP_BUILD_TESTS=OFF -DVELVIP_BUILD_BENCH=OFF >/dev/null

# The compiler's progress on a terminal; in a log otherwise, shown only when the build fails.
step "构建 velvip-report（首次从头构建需要几分钟）"
if [ -t 2 ]; then
  cmake --build "$build" -j"$(nproc)" --target velvip-report >&2
else
  log="$build/demo-build.log"
  if ! cmake --build "$build" -j"$(nproc)" --target velvip-report >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    exit 1
  fi
fi

args=(run 10902 --period 2024-05 --set GroupBy=1 --set SumOnly=1
      --context AppType=2 --context ISBranch=0 --context SVCardShareType=1 "$@")
# What runs, as typed (the options given here come last and win).
step "运行 build/test/bin/velvip-report $(printf '%q ' "${args[@]}")"
exec "$build/bin/velvip-report" "${args[@]}"
