#!/bin/bash
# Builds and runs the tests under the sanitizers, each in its own build
# directory:
#   build-asan  AddressSanitizer + UndefinedBehaviorSanitizer, with
#               LeakSanitizer: every suite, the JVM tests included (the VM
#               runs with the sanitizer runtime preloaded, see tests/jvm).
#   build-tsan  ThreadSanitizer: the thread tests and the held-port
#               session's (its reader thread, calls routed to it).
# Every sanitizer report aborts the test that caused it, so a clean run
# means no report at all.
#
# Usage: scripts/sanitize.sh [asan] [tsan]     (both when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=2
export HOSTLOG_QUIET=1
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(asan tsan)

summary=()

# build_and_test <dir> <sanitizers> <label> [ctest arguments...]
build_and_test() {
    local dir=$1 sanitize=$2 label=$3
    shift 3
    echo
    echo "==== $label: configure and build in $dir"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DSCANJNI_SANITIZE="$sanitize" >/dev/null
    ninja -C "$dir" -j"$jobs"
    echo "==== $label: tests"
    local log="$dir/sanitize-ctest.log"
    local rc=0
    (cd "$dir" && ctest -j"$jobs" --output-on-failure --no-tests=error "$@") 2>&1 | tee "$log" ||
        rc=$?
    summary+=("$label: $(grep -E 'tests passed|No tests were found' "$log" | tail -1)")
    return "$rc"
}

status=0
for stage in "${stages[@]}"; do
    case $stage in
    asan) build_and_test build-asan "address;undefined" "ASan+UBSan" || status=1 ;;
    tsan) build_and_test build-tsan thread "TSan" -R "Thread|DeviceOwner|DeviceSession|SessionLineRate" || status=1 ;;
    *) echo "unknown stage: $stage (asan, tsan)" >&2; exit 2 ;;
    esac
done

echo
printf '%s\n' "${summary[@]}"
exit "$status"
