#!/bin/sh
# Builds the radio packet codec tests for the board's byte order (32-bit
# PowerPC, big-endian) with the Debian cross compiler and runs them under
# qemu-ppc: tools/radio-be-test.sh [test program arguments]
set -e
cd "$(dirname "$0")/.."
cxx=powerpc-linux-gnu-g++
gtest=/usr/src/googletest/googletest
command -v $cxx >/dev/null || { echo "radio-be-test: $cxx is needed (Debian: g++-powerpc-linux-gnu)"; exit 2; }
command -v qemu-ppc >/dev/null || { echo "radio-be-test: qemu-ppc is needed (Debian: qemu-user)"; exit 2; }
[ -d $gtest/src ] || { echo "radio-be-test: GoogleTest sources are needed (Debian: libgtest-dev)"; exit 2; }
out=build/ppc
mkdir -p $out
flags="-std=c++17 -O1 -Wall -Wextra -I. -I$gtest/include"
# GoogleTest from its Debian sources, built once for the target.
if [ ! -f $out/libgtest.a ]; then
  $cxx $flags -I$gtest -c $gtest/src/gtest-all.cc -o $out/gtest-all.o
  $cxx $flags -c $gtest/src/gtest_main.cc -o $out/gtest_main.o
  powerpc-linux-gnu-ar rcs $out/libgtest.a $out/gtest-all.o $out/gtest_main.o
fi
# The codecs and their tests only: they need nothing else of the server.
$cxx $flags -o $out/radio_codec_tests \
  radio/zarn/sig_proto.cpp radio/zarn/sig_proto_text.cpp radio/ed137/r2s_proto.cpp \
  tests/radio/test_zarn_codec.cpp tests/radio/test_ed137_codec.cpp tests/radio/test_radio_codec_roundtrip.cpp \
  $out/libgtest.a -lpthread
# The target's shared libraries come from the cross toolchain's root.
qemu-ppc -L /usr/powerpc-linux-gnu $out/radio_codec_tests "$@"
