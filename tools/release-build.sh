#!/bin/bash
# Builds libscanjni.so and scanctl for one ARM ABI as they ship: Debian's
# cross compiler for TRIPLE, MinSizeRel, the flags an NDK build adds, lld,
# and without the C++ library's headers. Shared by the release check and
# the packaging step, so both see the same build.
#   tools/release-build.sh TRIPLE BUILD-DIR
# TRIPLE is arm-linux-gnueabihf (armeabi-v7a) or aarch64-linux-gnu
# (arm64-v8a); the toolchain file is cmake/TRIPLE.cmake.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
triple=$1
build=$2

# What an NDK build adds to every compile besides _FORTIFY_SOURCE=2 (which
# CMakeLists.txt sets): unwind tables and the stack protector. The NDK links
# with lld, and so does this build: GNU ld pads the file so that the RELRO
# part ends on a page boundary (2.5 KiB on 32-bit, 12 KiB on 64-bit with
# 16 KiB pages), which lld does not, and which would not be what ships.
ndk_flags="-funwind-tables -fstack-protector-strong"
lld_dir=$(dirname "$(readlink -f "$(command -v ld.lld)")")
link_flags="-fuse-ld=lld -B$lld_dir"

# Every target links with its install run path, as it ships: none for the
# library (a device's linker finds libc and liblog itself), $ORIGIN for
# scanctl. The build-tree default would write this machine's path of the
# log stand-in into the library.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$triple.cmake" -DSCANJNI_TESTS=OFF -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON \
      -DCMAKE_C_FLAGS="$ndk_flags" -DCMAKE_CXX_FLAGS="-nostdinc++ $ndk_flags" \
      -DCMAKE_SHARED_LINKER_FLAGS="$link_flags" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" \
      >/dev/null
ninja -C "$build" -j2 scanjni scanctl >/dev/null
