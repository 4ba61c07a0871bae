#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test.
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
# -O1 with line tables only: the build is most of the time spent here, and
# the sanitizers' reports still name the file and line.
flags="-O1 -g1 -DNDEBUG"
cmake -S . -B build/test -DGW_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" >/dev/null
cmake --build build/test -j "$jobs"
cd build/test && ctest --output-on-failure -j "$jobs" --timeout 300
