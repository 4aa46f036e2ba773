# Sourced by the scripts that configure the project: CMake's look-up of
# Java starts a JVM, which leaves an empty performance data directory in
# /tmp. Take it away again on exit if it was not there before.
jvm_perf_dir=/tmp/hsperfdata_$(id -un)
[ -e "$jvm_perf_dir" ] || trap 'rmdir "$jvm_perf_dir" 2>/dev/null || true' EXIT
