#!/bin/bash
# Runs valgrind memcheck over a representative subset of the tests, on the
# plain build in build/ (configured and built here when needed):
#   - the device tests: every write, question and scan data read for real
#     on the pty, the failure paths, refused arguments, per-thread texts,
#     and the held-port session (DeviceSession);
#   - the hardening fault tests: silent, late, doubled, overlong replies,
#     flooded scan data, hang-ups;
#   - the bridge's registration against a scripted VM.
# Any memory error or any leak (definite, indirect or possible) fails it.
#
# Usage: scripts/valgrind.sh [gtest filter for the device tests]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# The ownership tests are left out: they time scans against the line's
# quiet gap and calls against their bounds, which a program running
# several times slower, one thread at a time, cannot keep.
filter=${1:-'Device*:-DeviceOwner.*'}

cmake -S . -B build -G Ninja >/dev/null
ninja -C build -j2 core_device_tests hardening_faults_tests jni_registration_tests

export HOSTLOG_QUIET=1
memcheck=(valgrind --quiet --tool=memcheck --error-exitcode=99
          --leak-check=full --show-leak-kinds=definite,indirect,possible
          --errors-for-leak-kinds=definite,indirect,possible
          --child-silent-after-fork=yes --num-callers=30)

failed=0
run() {
    echo "==== valgrind $*"
    if ! "${memcheck[@]}" "$@"; then
        echo "==== FAILED under valgrind: $*"
        failed=1
    fi
}

run build/tests/core/core_device_tests --gtest_filter="$filter"
run build/tests/hardening/hardening_faults_tests
run build/tests/jni/jni_registration_tests

if [ "$failed" -ne 0 ]; then
    echo "valgrind: errors found"
    exit 1
fi
echo "valgrind: clean"
