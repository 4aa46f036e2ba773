// The library against the simulated engine at the line's real pace
// (115200 8N1): how long after the last byte of a reply or a scan leaves
// the engine each call returns, and the system calls each call makes.
#pragma once

#include "sim_runner.h"

// Prints, for each question and for scan data reads of two sizes, the
// median call time and the median and largest time from the message's
// last byte to the call's return.
void bench_line_rate(SimRunner* sim, int scale);

// Makes one call of each operation at line rate between two marker system
// calls (failed access() calls of "/scanbench-mark/<name>" before and
// "/scanbench-mark/-" after), so that a trace of this thread alone (strace
// without -f) shows each call's own system calls.
void bench_syscall_marks(SimRunner* sim);
