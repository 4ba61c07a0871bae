#!/bin/sh
# Builds the fuzz targets with clang (ASan+UBSan) and runs each, or the ones
# named, for a while: tools/fuzz.sh [seconds] [target ...]
set -e
cd "$(dirname "$0")/.."
secs=${1:-60}
[ $# -gt 0 ] && shift
command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed (Debian: clang libclang-rt-14-dev)"; exit 2; }
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DGW_FUZZ=ON -DGW_SANITIZE=ON -DGW_BENCH=OFF >/dev/null
targets=${*:-$(cd tests && ls */fuzz_*.cpp | sed 's,.*/,,; s,\.cpp$,,')}
cmake --build build/fuzz -j "$jobs" --target $targets
for t in $targets; do
  exe=$(find build/fuzz/tests -maxdepth 1 -name "$t" -type f | head -1)
  corpus="$PWD/build/fuzz/corpus/$t"  # absolute: a target may change directory
  mkdir -p "$corpus"
  dict=$(ls tests/*/"$t.dict" 2>/dev/null | head -1)
  echo "== $t ($secs s)"
  "$exe" -max_total_time="$secs" -print_final_stats=1 ${dict:+-dict="$dict"} "$corpus" 2>&1 | tail -4
done
