#!/bin/bash
# Installs what is needed, builds, and runs every test:
#   1. host build (x86_64): unit, pty, simulator, tool and JVM tests,
#      then valgrind memcheck on a representative subset
#   2. 32-bit ARM build: the core and simulator suites under qemu-arm
#   3. 64-bit ARM build: the same suites under qemu-aarch64
#   4. the release check of the stripped 32-bit and 64-bit ARM libraries
#   5. the package test: scripts/package.sh, its archive opened and checked,
#      and a second run from fresh builds giving the same bytes
#   6. AddressSanitizer + UndefinedBehaviorSanitizer build: every suite
#   7. ThreadSanitizer build: the thread tests
#   8. bounded libFuzzer runs of every fuzz target
# Every stage must pass; the script stops at the first that fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=2
export HOSTLOG_QUIET=1

. scripts/jvm-tmp.sh

stage() { echo; echo "==== $* ===="; }

run_ctest() {
    local dir=$1; shift
    (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@")
}

stage "host build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
run_ctest build

stage "valgrind memcheck on the device, fault and registration tests"
bash scripts/valgrind.sh

# cross_stage <build-dir> <toolchain file>: the cross build and its suites
# under the toolchain's emulator.
cross_stage() {
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_TOOLCHAIN_FILE="cmake/$2" >/dev/null
    ninja -C "$1" -j"$jobs"
    run_ctest "$1"
}

stage "32-bit ARM build and tests under qemu-arm"
cross_stage build-arm arm-linux-gnueabihf.cmake

stage "64-bit ARM build and tests under qemu-aarch64"
cross_stage build-arm64 aarch64-linux-gnu.cmake

stage "release check (stripped 32-bit and 64-bit ARM libraries)"
bash tools/release-check.sh build-release-arm

stage "package test (the Android library archive, the fake jar, the Maven repository)"
bash tests/package/package_test.sh

stage "sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer"
bash scripts/sanitize.sh

stage "bounded libFuzzer runs (20 s per target)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSCANJNI_FUZZ=ON -DSCANJNI_TESTS=OFF >/dev/null
ninja -C build-fuzz
ctest --test-dir build-fuzz/tests/fuzz --output-on-failure -j"$jobs"

echo
echo "==== every stage passed ===="
