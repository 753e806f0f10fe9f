#!/usr/bin/env bash
# Fails when a program's manual page misses an option or a command that the program's own help
# (and its commands' usage) names.
#   scripts/check-manpage.sh MANPAGE[.gz] PROGRAM      (velvip-report, velvip-server, velvip-host)
set -euo pipefail
page=$1
program=$2
name=$(basename "$program")
if [[ "$page" == *.gz ]]; then text=$(zcat "$page"); else text=$(cat "$page"); fi
text=$(sed 's/\\-/-/g' <<<"$text")
export QT_QPA_PLATFORM=offscreen
case $name in
  velvip-report) help=$("$program" --help; "$program" make-demo --help; "$program" keys --help) ;;
  # The commands' usage goes to stderr with status 2 when the subcommand is missing.
  velvip-server) help=$("$program" --help; "$program" user 2>&1 || true; "$program" schedule 2>&1 || true) ;;
  # No display needed for the help.
  velvip-host) help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help) ;;
  *) echo "check-manpage: unknown program $name" >&2; exit 2 ;;
esac
missing=0
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  if ! grep -q -- "$option" <<<"$text"; then
    echo "check-manpage: $page 没有说明 $option" >&2
    missing=1
  fi
done
for command in $(sed -n "s/^ *\\(用法：\\)\\? *$name \\([a-z][a-z-]*\\).*/\\2/p" <<<"$help" | sort -u); do
  if ! grep -q "^\.B.* $command\|^\.B $command\|^\.BI \"$command" <<<"$text"; then
    echo "check-manpage: $page 没有说明命令 $command" >&2
    missing=1
  fi
done
exit $missing
