#!/bin/sh
# Builds everything for 32-bit x86 (-m32) with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test. The board's processor is
# 32-bit: long, size_t and pointers are 32 bits there, and its own build
# (tools/cross-test.sh) runs without sanitizers, so an overflow or a bad
# access that needs 32-bit sizes shows only here. Byte order stays the
# host's; the cross build covers that.
#   tools/m32-test.sh [ctest arguments, e.g. -R Tpkt]
# Tests that use the network want a loopback of their own:
#   unshare -rn -p -f --mount-proc sh -c 'ip link set lo up && tools/m32-test.sh'
set -e
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# Debian's g++-multilib conflicts with the board's cross compiler
# (tools/setup.sh); the versioned g++-<version>-multilib does not.
echo 'int main() { return 0; }' | c++ -m32 -fsanitize=address,undefined -x c++ - -o /dev/null 2>/dev/null ||
  { echo "m32-test: c++ -m32 with sanitizers is needed (Debian: g++-12-multilib)"; exit 2; }
out=build/m32
prefix=$top/$out/prefix
# Debian's multilib has no 32-bit <asm/...>; the x86 kernel headers serve
# both widths (they test __i386__ themselves).
mkdir -p $out/sysinc
[ -e $out/sysinc/asm ] || ln -s /usr/include/x86_64-linux-gnu/asm $out/sysinc/asm
flags="-m32 -idirafter $top/$out/sysinc"
link="-m32"

# GoogleTest for 32 bits, from the sources libgtest-dev installs; built once.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B $out/googletest -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=$link \
    -DCMAKE_SHARED_LINKER_FLAGS=$link -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build $out/googletest -j "$jobs" >/dev/null
  cmake --install $out/googletest >/dev/null
fi

# Every program the tests start (server, lapdtool, the stand-ins) is built
# by the same tree, so all of them are 32-bit.
cmake -S . -B $out/tree -DGW_SANITIZE=ON -DGW_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=$link \
  -DCMAKE_SHARED_LINKER_FLAGS=$link -DCMAKE_PREFIX_PATH="$prefix" -DGTest_DIR="$prefix/lib/cmake/GTest" >/dev/null
cmake --build $out/tree -j "$jobs"
cd $out/tree && ctest --output-on-failure -j "$jobs" --timeout 600 "$@"
