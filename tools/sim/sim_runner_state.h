// Internal state of a SimRunner, shared by the public calls (sim_runner.cpp)
// and the engine's loop (sim_loop.cpp). Not for use outside tools/sim.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "sim_cycle.h"
#include "sim_engine.h"
#include "sim_frames.h"
#include "sim_pace.h"
#include "sim_runner.h"

// A message or hang-up that falls due at a given time (microseconds).
struct SimTimed {
    int64_t due = 0;
    std::vector<uint8_t> bytes;
    bool hangup = false;
    bool is_scan = false;
};

// A message on the line: queued behind the ones before it, then sent at
// the pace fixed when it starts.
struct SimOutput {
    std::vector<uint8_t> bytes;
    int64_t ready_us = 0;  // when the engine handed it to the line
    bool is_scan = false;
    size_t offset = 0;     // bytes the port has taken
    bool started = false;
    SimPace pace;
};

struct SimRepeat {
    SimScan scan;
    int64_t next_due = 0;  // microseconds
};

struct SimRunner {
    int master = -1;
    int wake[2] = {-1, -1};
    bool slave_closed = false;  // no descriptor of the slave is open

    std::mutex mu;
    std::condition_variable cv;
    SimEngine engine;
    SimParser parser;
    SimCycleTracker cycle;
    std::vector<uint8_t> received;
    int configures = 0;
    int scans_written = 0;
    std::vector<SimSentByte> sent;
    bool hung_up = false;
    std::atomic<bool> stop{false};

    std::vector<SimTimed> timed;  // kept sorted by due time
    std::deque<SimOutput> output;
    SimLine line;
    int64_t line_free_us = 0;  // when the last started message has left
    std::deque<SimScan> after_configure;
    std::vector<SimRepeat> repeats;

    SimFrameHook hook = nullptr;
    void* hook_arg = nullptr;
    std::thread thread;
};

void sim_schedule(SimRunner* r, SimTimed item);  // r->mu held
void sim_wake(SimRunner* r);
