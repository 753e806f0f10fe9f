#!/usr/bin/env bash
# The report key table of README.md, written from `velvip-report keys --markdown`: the same
# table the command line checks filters against, so that the README cannot drift from it.
#   scripts/readme-keys.sh [VELVIP_REPORT]           rewrites the table in README.md
#   scripts/readme-keys.sh --check [VELVIP_REPORT]   fails when README.md is out of date
# VELVIP_REPORT defaults to build/test/bin/velvip-report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
report=${1:-$root/build/test/bin/velvip-report}
readme=$root/README.md
begin='<!-- report keys: written by scripts/readme-keys.sh from `velvip-report keys --markdown` -->'
end='<!-- report keys: end -->'

# One folded section per report the command line offers (in its order): the heading line of the
# listing becomes the summary.
table() {
  local id heading
  for id in $(QT_QPA_PLATFORM=offscreen "$report" keys --markdown | sed -n 's/^### \([0-9][0-9]*\) .*/\1/p'); do
    heading=$(QT_QPA_PLATFORM=offscreen "$report" keys "$id" --markdown | head -n 1)
    printf '<details><summary>%s</summary>\n' "${heading#\#\#\# }"
    QT_QPA_PLATFORM=offscreen "$report" keys "$id" --markdown | tail -n +2
    printf '\n</details>\n'
  done
}

generated=$(mktemp)
trap 'rm -f "$generated"' EXIT
table >"$generated"
grep -qxF "$begin" "$readme" && grep -qxF "$end" "$readme" || { echo "readme-keys: README.md lacks the table's markers" >&2; exit 1; }

updated=$(mktemp)
trap 'rm -f "$generated" "$updated"' EXIT
awk -v begin="$begin" -v end="$end" -v file="$generated" '
  $0 == begin { print; while ((getline line < file) > 0) print line; skip = 1; next }
  $0 == end { skip = 0 }
  !skip { print }' "$readme" >"$updated"

if [ "$check" = 1 ]; then
  if ! diff -u "$readme" "$updated" >&2; then
    echo "readme-keys: README.md 的报表过滤条件表已过时；请运行 scripts/readme-keys.sh" >&2
    exit 1
  fi
else
  cp "$updated" "$readme"
fi
