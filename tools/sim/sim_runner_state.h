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
#include "sim_runner.h"

// A write or hang-up that falls due at a given time.
struct SimTimed {
    int64_t due = 0;
    std::vector<uint8_t> bytes;
    bool hangup = false;
    bool is_scan = false;
};

// Bytes handed to the port but not yet taken by it.
struct SimOutput {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    bool is_scan = false;
};

struct SimRepeat {
    SimScan scan;
    int64_t next_due = 0;
};

struct SimRunner {
    int master = -1;
    int wake[2] = {-1, -1};
    bool slave_gone = false;

    std::mutex mu;
    std::condition_variable cv;
    SimEngine engine;
    SimParser parser;
    SimCycleTracker cycle;
    std::vector<uint8_t> received;
    int configures = 0;
    int scans_written = 0;
    bool hung_up = false;
    std::atomic<bool> stop{false};

    std::vector<SimTimed> timed;  // kept sorted by due time
    std::deque<SimOutput> output;
    std::deque<SimScan> after_configure;
    std::vector<SimRepeat> repeats;

    SimFrameHook hook = nullptr;
    void* hook_arg = nullptr;
    std::thread thread;
};

int64_t sim_now_ms();
void sim_schedule(SimRunner* r, SimTimed item);  // r->mu held
void sim_wake(SimRunner* r);
