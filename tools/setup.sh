#!/bin/sh
# Installs the Debian packages the build needs when they are missing.
set -e
pkgs="cmake g++ make python3 libboost-dev libloki-dev libgtest-dev libgmock-dev libbenchmark-dev openssl tshark"
# snmptrapd reads the SNMP traps the board tests build.
pkgs="$pkgs snmptrapd"
# The cross compiler and qemu-user run the tests on the board's processor
# (tools/cross-test.sh, tools/radio-be-test.sh).
pkgs="$pkgs g++-powerpc-linux-gnu qemu-user"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq || true
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
