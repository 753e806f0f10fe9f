#!/usr/bin/env bash
# Fails when the manual page of velvip-report misses an option or a command that the program's
# own help names.
#   scripts/check-manpage.sh MANPAGE[.gz] VELVIP_REPORT
set -euo pipefail
page=$1
report=$2
if [[ "$page" == *.gz ]]; then text=$(zcat "$page"); else text=$(cat "$page"); fi
text=$(sed 's/\\-/-/g' <<<"$text")
export QT_QPA_PLATFORM=offscreen
help=$("$report" --help; "$report" make-demo --help; "$report" keys --help)
missing=0
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  if ! grep -q -- "$option" <<<"$text"; then
    echo "check-manpage: $page 没有说明 $option" >&2
    missing=1
  fi
done
for command in $(sed -n 's/^ *\(用法：\)\? *velvip-report \([a-z][a-z-]*\).*/\2/p' <<<"$help" | sort -u); do
  if ! grep -q "^\.B.* $command\|^\.B $command\|^\.BI \"$command" <<<"$text"; then
    echo "check-manpage: $page 没有说明命令 $command" >&2
    missing=1
  fi
done
exit $missing
