#!/bin/sh
# Builds the unit tests of every library for the board's processor (32-bit
# big-endian PowerPC: Debian's g++-powerpc-linux-gnu, without sanitizers) and
# runs each test program under qemu-ppc. Every program tests/CMakeLists.txt
# makes for a tests/<subsystem>/ folder (<subsystem>_tests) is picked up.
# Programs the tests start (the server, lapdtool) are built for the board too
# and started through qemu-ppc; host tools (tshark, cat) run natively.
#   tools/cross-test.sh [gtest arguments, e.g. --gtest_filter=...]
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
out=build/cross
prefix=$(pwd)/$out/prefix
sysroot=/usr/powerpc-linux-gnu
toolchain=$(pwd)/cmake/ppc-linux.cmake

# GoogleTest for the target, from the sources libgtest-dev installs; built once.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B $out/googletest -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build $out/googletest -j "$jobs" >/dev/null
  cmake --install $out/googletest >/dev/null
fi
# Header-only libraries of the host serve the target as they are.
mkdir -p "$prefix/include"
for h in boost loki; do
  [ -e "$prefix/include/$h" ] || ln -s "/usr/include/$h" "$prefix/include/$h"
done

# -O1 without debug information: the build is most of the time spent here.
GW_CROSS_PREFIX="$prefix" cmake -S . -B $out/tree -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 -DGW_SANITIZE=OFF -DGW_BENCH=OFF \
  -DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$prefix/include" >/dev/null
targets=""
for d in tests/*/; do
  d=${d%/}
  d=${d#tests/}
  [ "$d" = support ] && continue
  ls tests/$d/*.cpp 2>/dev/null | grep -qv '/fuzz_[^/]*$' && targets="$targets ${d}_tests"
done
cmake --build $out/tree -j "$jobs" --target $targets

# One program per subsystem, all at once; each writes its own log.
status=0
pids=""
for t in $targets; do
  sub=${t%_tests}
  mkdir -p "$out/tree/test-board/$sub"
  GW_BOARD_ROOT="$(pwd)/$out/tree/test-board/$sub" \
    qemu-ppc -L $sysroot "$out/tree/tests/$t" --gtest_brief=1 "$@" >"$out/$t.log" 2>&1 &
  pids="$pids $!:$t"
done
for p in $pids; do
  t=${p#*:}
  if wait "${p%%:*}"; then
    echo "cross: $t passed ($(grep -o '[0-9]* tests\? from' "$out/$t.log" | head -1 | cut -d' ' -f1) tests)"
  else
    echo "cross: $t FAILED"
    grep -B2 -A20 'Failure\|FAILED\|Assertion\|terminate\|Abort' "$out/$t.log" | tail -80
    status=1
  fi
done
exit $status
