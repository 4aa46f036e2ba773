#!/bin/bash
# Long libFuzzer runs of every fuzz target, one target at a time.
#   scripts/fuzz-long.sh [seconds-per-target]     (default 600)
# Builds the targets with clang in build-fuzz, runs each on a corpus that
# grows in build-fuzz/fuzz-long/<target>/corpus (seeded from
# tests/fuzz/corpus), then replays every corpus in a coverage build
# (build-fuzz-cov) and prints the line coverage of the code under test.
# Prints executions, edge coverage and the outcome per target; exits 1
# when any target found a crash (its input is kept in the target's dir).
set -euo pipefail
secs=${1:-600}
case $secs in '' | *[!0-9]*) echo "usage: $0 [seconds-per-target]" >&2; exit 2 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
cov_build=$root/build-fuzz-cov
runs=$build/fuzz-long

configure() {
    CC=clang CXX=clang++ cmake -S "$root" -B "$1" -G Ninja -DSCANJNI_FUZZ=ON \
        -DSCANJNI_TESTS=OFF "${@:2}" >/dev/null
    targets=$(awk '{print "fuzz_" $1}' "$1/tests/fuzz/fuzz-targets.txt")
    # shellcheck disable=SC2086
    ninja -C "$1" -j2 $targets >/dev/null
}

configure "$build"
summary=()
failed=0
while read -r name max_len; do
    dir=$runs/$name
    mkdir -p "$dir/corpus"
    cp -n "$root/tests/fuzz/corpus/$name/"* "$dir/corpus/"
    echo "fuzz_$name: $secs s ..." >&2
    rc=0
    (cd "$dir" && "$build/tests/fuzz/fuzz_$name" -max_total_time="$secs" -timeout=5 \
        -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$dir/" corpus \
        >"$dir/log" 2>&1) || rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: //p' "$dir/log")
    last=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1)
    cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([^ ]*\).*/cov \1, ft \2, corpus \3/p' <<<"$last")
    if [ "$rc" -eq 0 ]; then
        outcome=ok
    else
        failed=1
        outcome="CRASH (exit $rc): $(ls "$dir" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | tr '\n' ' ')"
    fi
    summary+=("$(printf '%-10s %12s executions  %s  %s' "$name" "${execs:-?}" "$cov" "$outcome")")
done <"$build/tests/fuzz/fuzz-targets.txt"

echo
echo "== fuzz runs, $secs s per target (logs in $runs/<target>/log)"
printf '%s\n' "${summary[@]}"

# Source coverage of the code under test over the corpora grown above.
if command -v llvm-profdata >/dev/null && command -v llvm-cov >/dev/null; then
    configure "$cov_build" -DSCANJNI_FUZZ_COVERAGE=ON
    profiles=()
    objects=()
    while read -r name _; do
        bin=$cov_build/tests/fuzz/fuzz_$name
        LLVM_PROFILE_FILE=$runs/$name/cov.profraw "$bin" -runs=0 "$runs/$name/corpus" \
            >/dev/null 2>&1 || true
        profiles+=("$runs/$name/cov.profraw")
        objects+=(-object "$bin")
    done <"$build/tests/fuzz/fuzz-targets.txt"
    llvm-profdata merge -sparse "${profiles[@]}" -o "$runs/cov.profdata"
    echo
    echo "== line and branch coverage of the code under test"
    # Each target has its own LLVMFuzzerTestOneInput; llvm-cov warns that
    # their profiles differ, which does not touch the files reported.
    llvm-cov report "${objects[@]:1}" -instr-profile="$runs/cov.profdata" \
        "$root/core/wire/frames.cpp" "$root/core/wire/reply.cpp" "$root/jni/mutf8.cpp" \
        "$root/tools/replay/logcat.cpp" "$root/tools/replay/scanlog.cpp" \
        "$root/tools/replay/capture.cpp" \
        2> >(grep -v "mismatched data" >&2)
fi
exit $failed
