#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang in build/fuzz and runs each one for a
# bounded time from its seed corpus. Fails on the first crash, leak-free or not; the input that
# crashed is kept as build/fuzz/artifacts/<target>-crash-*.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 12)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-12}
build="$root/build/fuzz"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEL_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target fuzz_targets -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/artifacts"
for seeds in "$root"/tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
  work="$build/corpus/$name"
  mkdir -p "$work"
  echo "fuzz: $name for ${seconds}s" >&2
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$build/artifacts/$name-" "$work" "$seeds" 2>"$build/$name.log" \
    || { tail -n 60 "$build/$name.log" >&2; echo "fuzz: $name failed" >&2; exit 1; }
  grep -E '^Done|#[0-9]+.*DONE' "$build/$name.log" | tail -n 1 >&2 || true
done
