#!/bin/sh
# Builds the server and runs it on the simulated board; arguments are passed
# to the server (for example --port 20002).
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/run -DGW_TESTS=OFF -DGW_BENCH=OFF >/dev/null
cmake --build build/run -j "$jobs" --target server
exec build/run/control/server "$@"
