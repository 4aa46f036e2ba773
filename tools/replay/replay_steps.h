// The replay's own steps, shared by its per-call part (replay.cpp) and its
// held-port session part (replay_session.cpp). Not for use outside the
// replay.
#pragma once

#include <string>
#include <vector>

#include "capture.h"
#include "sim_runner.h"

struct ScanSession;

namespace replay_steps {

constexpr int kIdleWaitMs = 3000;   // for the engine to finish sending
constexpr long kRefPollNs = 50000;  // looking at the library's new log lines

// The session the replay holds for the calls of one capture process: the
// library has one session a process, so the replay holds one at a time.
struct SessionHold {
    ScanSession* s = nullptr;
    int pid = -1;      // the capture's process
};

// The simulated engine, the shape of /dev/ttyMT1 and the session held.
struct Bench {
    SimRunner* sim = nullptr;
    bool pty = false;
    SessionHold hold;
};

void drop_engine(Bench* b);
// False (after a message) when the namespace cannot give the shape.
bool set_shape(Bench* b, PortShape shape);

struct NewLine {
    int prio;
    std::string text;
};

// The core's lines logged since the record was last cleared, from `from`.
std::vector<NewLine> new_lines(size_t from);

// Sends a message that began before the port's flush: up to burst_most
// of its first bytes at once, the rest at the line's pace right after,
// or a little later to end at end_at_us (sim_now_us's clock; -1: none).
// True when it ends earlier than end_at_us: that took a longer pause.
bool send_tail(Bench* b, const std::vector<uint8_t>& bytes, size_t burst_most, int64_t end_at_us = -1);

struct Difference {
    size_t index = 0;  // line of the operation
    bool have_capture = false;
    bool have_replay = false;
    NewLine replay;
};

int prio_number(char letter);  // 'D' -> 3 ...
// The operation's lines against the replay's, priority and text; a
// session's open and close may name another descriptor.
bool compare(const CapturedOp& op, const std::vector<NewLine>& got, Difference* d);

// Runs a held-port session call against the engine on the session the
// replay holds for its process. False when it differs (or the namespace
// failed, with a message).
bool run_session_call(Bench* b, const CapturedOp& op, Difference* d);
// How often a session call may be run before it counts as differing: an
// open that drops a tail again (after closing the session it opened),
// every other call once, since it changes the session's state.
int session_runs(const CapturedOp& op);
// Closes the session held, without a trace in the record.
void release_session(Bench* b);
// Holds a session for the capture process `pid`, opening one where needed.
bool hold_session(Bench* b, int pid);
// Another process's hold on the port, stood in for by a lock of the
// replay's own: its session, or a call of its under way. Returns the
// lock's descriptor (closing it lets go), or -1.
enum class PortLock { Session, Cycle };
int lock_port(PortLock which);
// Waits (at most limit_ms) until a call of the library has taken its
// share of the port, which it does right before it waits for the cycle
// lock held on `lock`. False when none came.
bool await_cycle(int lock, int limit_ms);

}  // namespace replay_steps
