#!/bin/sh
# Builds the unit tests of every library for the board's processor (32-bit
# big-endian PowerPC, Debian's g++-powerpc-linux-gnu, no sanitizers) and runs
# each test program under qemu-ppc. Every program named <subsystem>_tests is
# picked up. Black-box tests start the server program built for the target
# through qemu-ppc too; nothing is left out.
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
out=build/cross
prefix=$(pwd)/$out/prefix
sysroot=/usr/powerpc-linux-gnu

# GoogleTest for the target, from the sources libgtest-dev installs; built once.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B $out/googletest -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/ppc-linux.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build $out/googletest -j "$jobs" >/dev/null
  cmake --install $out/googletest >/dev/null
fi
# Header-only libraries of the host serve the target as they are.
mkdir -p "$prefix/include"
for h in boost loki; do
  [ -e "$prefix/include/$h" ] || ln -s "/usr/include/$h" "$prefix/include/$h"
done

GW_CROSS_PREFIX="$prefix" cmake -S . -B $out/tree -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/ppc-linux.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGW_SANITIZE=OFF -DGW_BENCH=OFF \
  -DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$prefix/include" >/dev/null
targets=$(cd tests && for d in */; do d=${d%/}; ls "$d"/*.cpp 2>/dev/null | grep -qv '/fuzz_' && echo "${d}_tests"; done)
targets=$(echo $targets)
cmake --build $out/tree -j "$jobs" --target $targets

# One program per subsystem, run in parallel; each writes its own log.
status=0
pids=""
for t in $targets; do
  exe=$out/tree/tests/$t
  [ -x "$exe" ] || continue
  (
    sub=${t%_tests}
    mkdir -p "$out/tree/test-board/$sub"
    GW_BOARD_ROOT="$(pwd)/$out/tree/test-board/$sub" \
      qemu-ppc -L $sysroot "$exe" --gtest_brief=1 >"$out/$t.log" 2>&1
  ) &
  pids="$pids $!:$t"
done
for p in $pids; do
  if wait "${p%%:*}"; then
    echo "cross: ${p#*:} passed"
  else
    echo "cross: ${p#*:} FAILED"
    tail -50 "$out/${p#*:}.log"
    status=1
  fi
done
exit $status
