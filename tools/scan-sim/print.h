// Printing what the simulated engine receives.
#pragma once

#include "sim_engine.h"

// Frame hook for sim_set_frame_hook: one line on stderr per frame,
// "engine <- FF 4D 0D ...  |..999001?.|  check type 0".
void print_frame(const SimRecordedFrame& frame, void* arg);
