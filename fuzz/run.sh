#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang++ into build/fuzz and runs each one.
#   fuzz/run.sh            each harness for 600 s
#   fuzz/run.sh 5          each for 5 s (the smoke run ./test does)
#   fuzz/run.sh 60 mime    one harness
# Findings (crash-*, leak-*, timeout-*) are written to build/fuzz/findings/<harness>/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
harnesses=("${@:-mime record ini}")
read -r -a harnesses <<< "${harnesses[*]}"
dir="$top/build/fuzz"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz/run.sh: clang++ is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
if [ ! -f "$dir/build.ninja" ]; then
  CXX=clang++ cmake -S "$top/fuzz" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
status=0
for h in "${harnesses[@]}"; do
  work="$dir/corpus/$h"
  findings="$dir/findings/$h"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$h for ${seconds}s"
  # The checked-in seeds are read; what the run learns goes into the build folder.
  if ! "$dir/fuzz_$h" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 \
      -max_len=262144 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$top/fuzz/corpus/$h" 2>"$findings/log.txt"; then
    tail -40 "$findings/log.txt" >&2
    status=1
  fi
  grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "$findings/log.txt" || true
done
exit $status
