// Command line of scan-sim: the simulated engine's initial state, the scan
// data it sends, the faults it shows, and the command to run.
#pragma once

#include <stdio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim_engine.h"
#include "sim_runner.h"

// scan-sim's own failures (bad options, no root, no namespace); any other
// exit status is the command's.
constexpr int kSimExitOwnFailure = 125;

struct TypeState {
    int index;
    bool enabled;
};

struct SimOptions {
    bool set_timeout = false;
    int timeout = 0;
    std::vector<TypeState> types;
    std::vector<SimSetting> settings;
    std::vector<std::vector<uint8_t>> scans;
    int every_ms = 0;  // 0: each scan once, after a port configuration
    int delay_ms = 0;
    std::vector<SimFault> faults;  // one question each, in order
    bool has_persistent = false;
    SimFault persistent;
    int settle_ms = -1;  // -1: the simulator's default
    SimLine line;        // line rate, burst, think time, flushes cutting scans
    bool quiet_frames = false;
    char** command = nullptr;  // argv of the command, null-terminated
};

// Fills o from argv; on an error prints it to stderr and returns false.
// *help is set when --help was given (o is then incomplete).
bool parse_options(int argc, char** argv, SimOptions* o, bool* help);
void print_sim_usage(FILE* out);

// "500ms", "2s" or "500" (milliseconds), 0..86400000.
bool parse_duration_ms(const char* text, int* ms);
// Milliseconds with up to 3 decimals ("0.5", "2", "1.25ms"), 0..60000,
// as microseconds.
bool parse_delay_us(const char* text, int* us);
// Pairs of hex digits, blanks and ':' between pairs allowed: "34 30 0D".
bool parse_hex(const char* text, std::vector<uint8_t>* out);
// silence, noack, ackmisplaced, garbage, extra, delay:MS, twice[:MS],
// hangup[:MS], overlong[:COUNT], value:TEXT, raw:HEX.
bool parse_fault(const char* text, SimFault* out);
