#!/bin/sh
# Builds libscanjni and scanbench in Release and runs the benchmark
# against the simulated engine. Needs root (private mount namespace).
#   bench/run.sh [build-dir] [repetition-scale]
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-bench}
scale=${2:-1}
# GCC 12 at -O3 reports a false -Wnonnull inside std::vector's copy in the
# simulator's loop; it changes no code, so it is kept as a warning here.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS=-Wno-error=nonnull >/dev/null
ninja -C "$build" -j2 scanbench >/dev/null || {
    echo "run.sh: build failed; see: ninja -C $build scanbench" >&2
    exit 1
}
HOSTLOG_QUIET=1 "$build/bench/scanbench" "$scale"
