// Scans that a held session hands out merged, with a caller that is away
// between its waits, on an idle and on a loaded machine.
#pragma once

#include "sim_runner.h"

void bench_merges(SimRunner* sim);
