// The simulated scan engine at work on the master side of a pseudo-terminal:
// it reads the frames that the library writes to the slave, answers the
// questions, and sends scan data on demand. It runs its loop either in a
// thread of its own (tests) or on the calling thread (a stand-alone program).
//
// Usage in a test:
//   SimRunner* sim = sim_create(master_fd);            // owns master_fd
//   sim_start(sim);
//   sim_push_fault(sim, sim_fault(SimFaultKind::Delay, 40));
//   sim_send_scan(sim, sim_scan(bytes, SimScanTrigger::AfterConfigure, 5));
//   ... call the library ...
//   ASSERT_TRUE(sim_wait_frames(sim, 1, 2000));
//   std::vector<SimRecordedFrame> f = sim_frames(sim);
//   sim_destroy(sim);                                  // stops, joins, closes
//
// Usage in a program: sim_create, sim_set_frame_hook (e.g. print with
// sim_format_bytes), then sim_run until sim_request_stop (safe in a signal
// handler) or until the port is hung up; then sim_destroy.
//
// "After configure" means after the library's second flush of a port cycle
// (see sim_cycle.h). When both flushes reach the engine as one notice, the
// cycle counts as configured settle_ms (default 50) after that notice, and
// the scan goes out at max(delay_ms, settle_ms) after it. A library slower
// than settle_ms between its two flushes needs a larger sim_set_settle_ms.
// The scan never starts sooner than kSimAfterConfigureMinMs after the
// configuration: a trigger pressed at the very moment of the host's flush
// cannot be told from a scan already on the line, and a read drops such a
// message as the tail of an earlier one.
//
// The engine sends like a real one on a UART: every byte it sends (replies,
// scan data, fault bytes) leaves at the line rate, 115200 8N1 by default
// (86.8 us a byte), optionally in bursts, after an optional think time
// before each reply. Messages queue behind each other on the one line.
// Instant delivery (each message written in one piece) is baud 0:
//   SimLine line;
//   line.baud = 0;
//   sim_set_line(sim, line);
// sim_sent tells when each byte was written, sim_wait_output_idle waits
// until everything queued has left.
//
// Like a real engine it knows nothing of the host's flushes, closes and
// opens: a message that has begun on the line goes out whole at the line's
// pace. A port cycle's flush discards only what the host had not read yet
// (the host's loss); a read that begins in the middle of a message finds
// its tail. A test that needs the line quiet before its next call waits
// with sim_wait_output_idle. SimLine::flush_cuts brings back the older
// stand-in instead: a flush drops the scan data that the port has only
// partly taken, and the line is free at once.
//
// Bytes the port does not take are lost and the message keeps its pace,
// as on a UART that nobody reads: the pty's buffer (about 16 KiB) is full
// because nobody has read for a long while, or nobody has the slave open
// (a pty keeps what is written then, up to that buffer, until the next
// opener flushes it; a UART would not). While no descriptor of the slave
// is open the engine notices a new opener within 1 ms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim_engine.h"
#include "sim_pace.h"

struct SimRunner;

struct SimLine {
    unsigned baud = kSimDefaultBaud;  // 0 = instant delivery (each message written in one piece)
    size_t burst = 1;                 // bytes handed over together, >= 1
    int reply_delay_us = 0;           // engine think time before each reply to a question
    bool flush_cuts = false;          // a port cycle's flush drops a partly sent scan
};

struct SimSentByte {
    int64_t t_us;  // when the byte was written to the master (sim_now_us)
    uint8_t byte;
    bool lost;     // the port did not take it (its buffer was full)
};

int64_t sim_now_ms();  // CLOCK_MONOTONIC in milliseconds
int64_t sim_now_us();  // CLOCK_MONOTONIC in microseconds

// Built for another processor, the tests run under an emulator, whose
// threads are often held a few milliseconds between a system call and the
// next instruction: the library's clock reading after its flush comes that
// much late, and a scan the engine starts in between looks, rightly, as if
// it had begun at the flush. There the engine waits longer.
#ifdef SIM_UNDER_EMULATOR
constexpr int kSimAfterConfigureMinMs = 20;
#else
constexpr int kSimAfterConfigureMinMs = 3;
#endif

enum class SimScanTrigger {
    AfterDelay,      // delay_ms from now
    AfterConfigure,  // delay_ms after the library's next port configuration
    Every,           // first after delay_ms, then every period_ms until cancelled
};

struct SimScan {
    std::vector<uint8_t> bytes;  // any bytes, any length
    SimScanTrigger trigger = SimScanTrigger::AfterDelay;
    int delay_ms = 0;
    int period_ms = 0;
};

SimScan sim_scan(const std::vector<uint8_t>& bytes, SimScanTrigger trigger,
                 int delay_ms = 0, int period_ms = 0);

using SimFrameHook = void (*)(const SimRecordedFrame& frame, void* arg);

SimRunner* sim_create(int master_fd);  // puts the master in packet mode
bool sim_start(SimRunner* r);
int sim_run(SimRunner* r);  // 0 when stopped or hung up, -1 on a poll error
void sim_request_stop(SimRunner* r);
void sim_destroy(SimRunner* r);

// Called on the engine's loop for each frame, with the engine locked: the
// hook must not call back into the runner.
void sim_set_frame_hook(SimRunner* r, SimFrameHook hook, void* arg);
void sim_set_settle_ms(SimRunner* r, int ms);
// Any time; applies to messages that have not started on the line yet.
void sim_set_line(SimRunner* r, const SimLine& line);
SimLine sim_line(SimRunner* r);

// Runs fn with the engine locked; the way to read or change engine state.
void sim_with_engine(SimRunner* r, const std::function<void(SimEngine*)>& fn);
void sim_push_fault(SimRunner* r, const SimFault& fault);
void sim_set_persistent_fault(SimRunner* r, const SimFault& fault);

void sim_send_scan(SimRunner* r, const SimScan& scan);
void sim_cancel_scans(SimRunner* r);  // drops waiting and repeating scans

// Records, safe from any thread.
std::vector<SimRecordedFrame> sim_frames(SimRunner* r);
bool sim_wait_frames(SimRunner* r, size_t count, int timeout_ms);
std::vector<uint8_t> sim_received(SimRunner* r);  // every byte the library wrote
int sim_configures(SimRunner* r);                 // port configurations seen
bool sim_wait_configures(SimRunner* r, int count, int timeout_ms);
int sim_scans_written(SimRunner* r);              // scan writes completed
bool sim_wait_scans_written(SimRunner* r, int count, int timeout_ms);
// Every byte sent to the master, in order, with the time of its write, the
// lost ones included (sim_clear_records empties it); sim_wait_sent waits for
// `count` of them.
std::vector<SimSentByte> sim_sent(SimRunner* r);
bool sim_wait_sent(SimRunner* r, size_t count, int timeout_ms);
// True once nothing is queued or scheduled to be written: no reply or
// fault bytes, no scan waiting for its delay or for a port configuration.
// Repeating scans' future occurrences and a pending hang-up do not count.
bool sim_wait_output_idle(SimRunner* r, int timeout_ms);
bool sim_hung_up(SimRunner* r);
void sim_clear_records(SimRunner* r);
