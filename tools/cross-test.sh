#!/bin/sh
# Builds the unit tests of every library for the board's processor (32-bit
# big-endian PowerPC: Debian's g++-powerpc-linux-gnu, without sanitizers) and
# runs each test program under qemu-ppc. Every program tests/CMakeLists.txt
# makes for a tests/<subsystem>/ folder (<subsystem>_tests) is picked up.
# Programs the tests start (the server, lapdtool) are built for the board too
# and started through qemu-ppc; the stand-ins of programs that are not ours
# (pppd, fax, t38) and host tools (tshark, cat) run natively. What qemu-user
# cannot do is fixed up (cmake/emulated_tcp_info.c) or skipped with the reason
# (tests built with GW_EMULATED).
#   tools/cross-test.sh [gtest arguments, e.g. --gtest_filter=...]
set -e
cd "$(dirname "$0")/.."
top=$(pwd)
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

# The stand-ins of programs that are not ours (pppd, fax, t38) run on the
# host: the server under the emulator starts them by name.
mkdir -p $out/host
for s in media/tools/modem_standin media/t38_standin/t38_standin; do
  exe=$out/host/${s##*/}
  [ "$exe" -nt tests/$s.cpp ] || c++ -std=c++17 -O1 -o "$exe" tests/$s.cpp
done

# -O1 without debug information: the build is most of the time spent here.
GW_CROSS_PREFIX="$prefix" cmake -S . -B $out/tree -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 -DGW_SANITIZE=OFF -DGW_BENCH=OFF \
  -DGW_HOST_STANDINS="$(pwd)/$out/host" \
  -DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$prefix/include" >/dev/null
targets=""
for d in tests/*/; do
  d=${d%/}
  d=${d#tests/}
  [ "$d" = support ] && continue
  ls tests/$d/*.cpp 2>/dev/null | grep -qv '/fuzz_[^/]*$' && targets="$targets ${d}_tests"
done
cmake --build $out/tree -j "$jobs" --target $targets

# Every program runs beside the others: each server a test starts has a
# board root and ports of its own (server_process.h). The longest runs under
# the emulator go in shards, each with a board root of its own for the tests'
# in-process parts. The board tests stay whole: those that start a
# "controller" process must not run beside the monitoring tests.
shards() {
  case $1 in
    media_tests) echo 4 ;;
    signalling_tests | control_tests) echo 2 ;;
    *) echo 1 ;;
  esac
}
run() {
  t=$1
  i=$2
  n=$3
  shift 3
  name=$t
  root="$top/$out/tree/test-board/${t%_tests}"
  if [ "$n" -gt 1 ]; then
    name=$t.$i
    root=$root-$i
  fi
  mkdir -p "$root"
  rc=0
  # In the folder of the test programs, as ctest runs them: files they
  # write for a look afterwards (captures) go there.
  (cd $out/tree/tests && GW_BOARD_ROOT="$root" GTEST_TOTAL_SHARDS=$n GTEST_SHARD_INDEX=$i \
    qemu-ppc -L $sysroot ./$t --gtest_brief=1 "$@") >"$out/$name.log" 2>&1 || rc=$?
  echo $rc >"$out/$name.rc"
}
runs=""
for t in $targets; do
  n=$(shards $t)
  i=0
  while [ $i -lt "$n" ]; do
    name=$t
    [ "$n" -gt 1 ] && name=$t.$i
    rm -f "$out/$name.rc"
    run $t $i "$n" "$@" &
    runs="$runs $name"
    i=$((i + 1))
  done
done
wait
status=0
for t in $runs; do
  if [ "$(cat "$out/$t.rc" 2>/dev/null)" = 0 ]; then
    echo "cross: $t passed ($(grep -ao '[0-9]* tests\? from' "$out/$t.log" | head -1 | cut -d' ' -f1) tests)"
  else
    echo "cross: $t FAILED"
    grep -a -B2 -A20 'Failure\|FAILED\|Assertion\|terminate\|Abort' "$out/$t.log" | tail -80
    status=1
  fi
done
exit $status
