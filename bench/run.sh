#!/bin/sh
# Builds libscanjni and scanbench in Release and runs the benchmark
# against the simulated engine. Needs root (private mount namespace).
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
