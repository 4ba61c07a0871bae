#!/bin/sh
# Replays the fuzz corpora (build/fuzz/corpus/<target>, grown by
# tools/fuzz.sh) through the fuzz targets built without libFuzzer for the
# host (g++, sanitizers on) and for the board (32-bit big-endian PowerPC,
# built as tools/cross-test.sh does, run under qemu-ppc), and compares what
# each input made the target log on the two. A crash, an abort or a log that
# differs in more than addresses is a fault of byte order, word size or char
# signedness.
#   tools/fuzz-replay.sh [target ...]
# The authentication records and the DSP units' event records are words in
# the host's byte order by design: those targets are replayed, not compared.
set -e
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=${JOBS:-3}
toolchain=$top/cmake/ppc-linux.cmake
prefix=$top/build/cross/prefix
out=build/replay
targets=${*:-$(cd tests && ls */fuzz_*.cpp | sed 's,.*/,,; s,\.cpp$,,')}
programs=$(for t in $targets; do echo "${t}_replay"; done)
native_order="fuzz_auth_client fuzz_unit_events"

# GoogleTest for the target, as tools/cross-test.sh builds it: the tests'
# CMake asks for it even when only the replay programs are built.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B build/cross/googletest -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build build/cross/googletest -j "$jobs" >/dev/null
  cmake --install build/cross/googletest >/dev/null
fi
mkdir -p "$prefix/include"
for h in boost loki; do
  [ -e "$prefix/include/$h" ] || ln -s "/usr/include/$h" "$prefix/include/$h"
done

cmake -S . -B $out/host -DGW_FUZZ_REPLAY=ON -DGW_SANITIZE=ON -DGW_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
GW_CROSS_PREFIX="$prefix" cmake -S . -B $out/ppc -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DGW_FUZZ_REPLAY=ON -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 \
  -DGW_SANITIZE=OFF -DGW_BENCH=OFF -DBoost_NO_BOOST_CMAKE=ON -DBoost_INCLUDE_DIR="$prefix/include" >/dev/null
cmake --build $out/host -j "$jobs" --target $programs >/dev/null
cmake --build $out/ppc -j "$jobs" --target $programs >/dev/null

status=0
for t in $targets; do
  corpus=$top/build/fuzz/corpus/$t
  [ -d "$corpus" ] || { echo "replay: $t has no corpus"; continue; }
  find "$corpus" -type f | sort >$out/$t.inputs
  for side in host ppc; do
    logs=$top/$out/logs/$side/$t
    rm -rf "$logs"
    mkdir -p "$logs"
    run=""
    [ $side = ppc ] && run="qemu-ppc -L /usr/powerpc-linux-gnu"
    # In batches, the same on both sides: a target keeps state between the
    # inputs of one run. Each side has a board root of its own.
    rc=0
    (cd $out/$side/tests && GW_BOARD_ROOT=$top/$out/$side/board-$t \
      xargs -r -n 500 timeout 3000 $run ./${t}_replay -o "$logs" <"$top/$out/$t.inputs") \
      >$out/$t.$side.out 2>&1 || rc=$?
    if [ $rc != 0 ]; then
      echo "replay: $t FAILED on $side (status $rc)"
      tail -20 $out/$t.$side.out
      status=1
    fi
    # Addresses and the build's own folder may differ; nothing else may.
    find "$logs" -name '*.log' -exec sed -i -E 's/0x[0-9a-fA-F]+/0x_/g; s,build/replay/(host|ppc),build/replay/_,g' {} +
  done
  n=$(wc -l <$out/$t.inputs)
  case " $native_order " in
    *" $t "*)
      echo "replay: $t: $n inputs (records in the host's byte order: not compared)"
      continue
      ;;
  esac
  differ=$(diff -rq $out/logs/host/$t $out/logs/ppc/$t | wc -l) || true
  echo "replay: $t: $n inputs, $differ logs differ"
  [ "$differ" = 0 ] || status=1
done
exit $status
