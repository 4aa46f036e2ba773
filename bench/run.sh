#!/bin/sh
# Builds libscanjni and scanbench in Release and runs the benchmark
# against the simulated engine, then counts the system calls of one call
# of each question and scan data read at line rate (strace, the calling
# thread only). Needs root (private mount namespace).
#   bench/run.sh [build-dir] [repetition-scale]
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-bench}
scale=${2:-1}
. "$src/scripts/jvm-tmp.sh"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 scanbench >/dev/null || {
    echo "run.sh: build failed; see: ninja -C $build scanbench" >&2
    exit 1
}
HOSTLOG_QUIET=1 "$build/bench/scanbench" "$scale"

command -v strace >/dev/null || apt-get install -y strace >/dev/null
trace=$(mktemp)
HOSTLOG_QUIET=1 strace -qq -o "$trace" "$build/bench/scanbench" --syscalls
echo
echo "system calls of one call at line rate (calling thread):"
awk '
    /access\("\/scanbench-mark\// {
        match($0, /mark\/[^"]*/); mark = substr($0, RSTART + 5, RLENGTH - 5)
        if (mark == "-") { print_row(); name = "" } else { name = mark; total = 0; delete per }
        next
    }
    name != "" {
        split($0, a, "("); per[a[1]]++; total++
    }
    function print_row(   k, list) {
        list = ""
        for (k in per) list = list sprintf(" %s %d", k, per[k])
        printf "  %-22s %4d:%s\n", name, total, list
    }
' "$trace"
rm -f "$trace"
