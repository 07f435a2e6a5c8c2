#!/usr/bin/env bash
# Configures and builds one flavour of KikuMail.
#   scripts/build.sh run   -> build/run  (optimised program, no tests)
#   scripts/build.sh test  -> build/test (AddressSanitizer + UndefinedBehaviorSanitizer, tests and benchmarks)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:?usage: build.sh run|test}
dir="$top/build/$flavour"
jobs=$(nproc 2>/dev/null || echo 2)

case "$flavour" in
  run)  opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIKU_SANITIZE=OFF -DKIKU_TESTS=OFF -DKIKU_BENCH=OFF) ;;
  test) opts=(-DCMAKE_BUILD_TYPE=Debug -DKIKU_SANITIZE=ON -DKIKU_TESTS=ON -DKIKU_BENCH=ON) ;;
  *) echo "build.sh: unknown flavour '$flavour' (run or test)" >&2; exit 2 ;;
esac

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "${opts[@]}" >/dev/null
fi
cmake --build "$dir" -j "$jobs"
