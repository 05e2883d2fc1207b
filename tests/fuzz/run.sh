#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan) and runs each for a few seconds.
# Usage: run.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/../.."
SECS=${1:-20}
ls tests/fuzz/*_fuzz.cpp >/dev/null 2>&1 || { echo "no fuzz targets"; exit 0; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_FUZZ=ON \
  -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF >/dev/null
targets=$(for f in tests/fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
cmake --build build-fuzz -j "${JOBS:-$(nproc)}" --target $targets
passed=0; failed=0
for t in $targets; do
  corpus=build-fuzz/corpus/$t; mkdir -p "$corpus"
  seeds=(); [ -d "tests/fuzz/seeds/$t" ] && seeds=("tests/fuzz/seeds/$t")
  if ASAN_OPTIONS=detect_leaks=1 build-fuzz/tests/fuzz/$t -max_total_time="$SECS" -print_final_stats=0 \
       "$corpus" "${seeds[@]}" >build-fuzz/$t.log 2>&1; then
    passed=$((passed+1)); echo "fuzz $t: ok"
  else
    failed=$((failed+1)); echo "fuzz $t: FAILED"; tail -n 40 build-fuzz/$t.log
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
