#!/usr/bin/env bash
# Builds the command-line host and prints report 10902 (会员消费表) grouped by branch of sale
# for May 2024 on the embedded demo chain, generated on first use. The context is a head
# office whose stored-value cards are shared by all branches, where the branch grouping applies.
#   scripts/demo.sh                     branch subtotals and the grand total
#   scripts/demo.sh --set SumOnly=0     every member's line as well
#   scripts/demo.sh --format csv        any other option of `velvip-report run`
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/demo"

"$root/scripts/setup-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target velvip-report >/dev/null

exec "$build/bin/velvip-report" run 10902 \
  --set GroupBy=1 --set SumOnly=1 \
  --set "BDate=2024-05-01 00:00:00" --set "EDate=2024-05-31 23:59:59" \
  --context AppType=2 --context ISBranch=0 --context SVCardShareType=1 \
  "$@"
