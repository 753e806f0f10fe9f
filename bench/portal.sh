#!/usr/bin/env bash
# The portal with a large 10903 in Chromium: first byte, first screen and last row, scrolling frame times
# and the rows held in the page (web/bench/scroll.mjs).
#   bench/portal.sh [BUILD_DIR] [LINES_PER_DAY]   (default build/test, 2800: ~600k rows for 2024)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd)
cd "$root/web"
[ -d node_modules ] || npm ci --no-audit --no-fund --loglevel=error
QT_QPA_PLATFORM=offscreen node bench/scroll.mjs "$build/bin/velvip-server" "$build/bin/velvip-report" "${2:-2800}"
