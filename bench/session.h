// The held-port session beside the per-call functions at the line's pace:
// reads and wakeups per scan, the cost of an idle second, the answer time
// of a question asked while a scanner object scans, and the time a stop
// takes.
#pragma once

#include "sim_runner.h"

void bench_session(SimRunner* sim);
