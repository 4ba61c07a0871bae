#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test.
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/test -DGW_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j "$jobs"
cd build/test && ctest --output-on-failure -j "$jobs" --timeout 300
