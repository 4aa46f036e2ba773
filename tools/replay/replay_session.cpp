// The replay of the held-port session's calls. The library has one session
// a process, so the replay holds one at a time, for the capture process
// whose calls it runs; a call whose session the capture does not show
// opening runs on one that the replay opens first, unrecorded.
//
// The engine sends each message when the call's log says it came: the
// tail that the session's reader dropped, once the open has logged its
// line settings and so flushed the port (its first bytes at once, before
// the open's wait after the flush is over, so that the reader judges it a
// tail); a question's answer, once its frame has reached the engine; a
// message of the reader at once. A hung up line is the engine's end, after
// the call's messages (a question's, once its frame is in).
// Each call's record is taken once the reader has logged as many lines as
// the capture shows, or a while. Times between calls are not kept: what a
// call logs does not depend on them.
//
// Not in the log, and so not replayed: a wait (one that hands out a scan,
// times out or is woken logs nothing). The replay empties its session's
// queue before a message of the reader that the capture shows finding
// room, since the capture's process may have taken any of its scans.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "devns.h"
#include "hostlog.h"
#include "replay_steps.h"
#include "scansession.h"

namespace replay_steps {

namespace {

constexpr int kReaderLogsMs = 3000;     // for the reader to log what it read
constexpr int kOpenRuns = 3;            // an open, whose tail a late replay can miss
constexpr size_t kLineMost = 16384;     // a line from the child, at most
constexpr int kOtherSession = EBUSY;    // "port busy" within the process
constexpr size_t kValueLen = 16;
// The bytes of the device that the library locks (core/port/owner.h): a
// session's, exclusive, which every port cycle takes shared.
constexpr off_t kSessionLockByte = 0;
// The byte that a per-call function's port cycle locks exclusively.
constexpr off_t kCycleLockByte = 1;

// An exclusive lock on one byte of the device.
struct flock byte_lock(off_t byte) {
    struct flock l = {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    l.l_start = byte;
    l.l_len = 1;
    return l;
}        // the answer of a timeout question or a query

unsigned char g_scan[SCAN_SESSION_MAX_SCAN];

// What the engine does during a call: a message (a tail logged a buffer
// at a time as one), or the end of the line.
struct Event {
    SessionStage stage;
    std::vector<uint8_t> bytes;
    bool tail = false;
    bool hangup = false;
};

std::vector<Event> events_of(const CapturedOp& op) {
    std::vector<Event> out;
    for (const InChunk& c : op.chunks) {
        if (!out.empty() && out.back().tail && c.tail) {
            out.back().bytes.insert(out.back().bytes.end(), c.bytes.begin(), c.bytes.end());
            continue;
        }
        Event e;
        e.stage = c.stage;
        e.bytes = c.bytes;
        e.tail = c.tail;
        out.push_back(e);
    }
    if (op.hangup) {
        Event e;
        e.stage = op.fn == SessionFn::Open           ? SessionStage::AfterOpen
                  : scan_session_question(op.fn) ? SessionStage::AfterWrite
                                                 : SessionStage::InCall;
        e.hangup = true;
        out.push_back(e);
    }
    return out;
}

void pause_ns(long ns) {
    timespec t = {0, ns};
    nanosleep(&t, nullptr);
}

void fire(Bench* b, const Event& e) {
    if (b->sim == nullptr) return;
    if (e.hangup) {
        drop_engine(b);
    } else if (e.tail) {
        send_tail(b, e.bytes, kCaptureTailBurst);
    } else {
        sim_send_scan(b->sim, sim_scan(e.bytes, SimScanTrigger::AfterDelay, 0));
    }
}

// The port and the session as the call found them. False when the
// namespace cannot give them.
bool arrange(Bench* b, const CapturedOp& op) {
    if (op.fn == SessionFn::WaitFree) return true;  // the wait sets up its own port
    if (op.fn == SessionFn::Open) {
        if (op.busy_errno == kOtherSession) return hold_session(b, op.pid);
        if (op.busy_errno != 0) {
            // Another process holds the port: the session held here is
            // another process's, or none is held and a lock stands in.
            if (b->hold.s != nullptr && b->hold.pid == op.pid) release_session(b);
            return set_shape(b, PortShape::Pty);
        }
        release_session(b);
        return set_shape(b, op.shape);
    }
    if (op.no_session) return true;
    if (!hold_session(b, op.pid)) return false;
    // The reader's queue had room where the capture shows no scan dropped
    // for it: the app's waits, which log nothing, may have taken any.
    if (op.fn == SessionFn::Reader && op.no_room == 0 && !op.chunks.empty()) {
        while (scan_session_wait_scan(b->hold.s, 0, g_scan, sizeof g_scan, nullptr) > 0) {
        }
    }
    return true;
}

// The call, as the capture's process made it; an open gives its session.
ScanSession* call(ScanSession* held, const CapturedOp& op) {
    ScanSession* s = op.no_session ? nullptr : held;
    // A write that failed does not log its frame: any arguments do.
    int number = op.number_known ? op.number : 0;
    char value[kValueLen];
    switch (op.fn) {
        case SessionFn::Open: {
            int error = 0;
            return scan_session_open(&error);
        }
        case SessionFn::Close: scan_session_close(s); break;
        case SessionFn::OpenDev: scan_session_open_dev(s, op.flag); break;
        case SessionFn::EnableType: scan_session_enable_type(s, op.flag, number); break;
        case SessionFn::SetTimeout: scan_session_set_timeout(s, number); break;
        case SessionFn::SetCommand: scan_session_set_command(s, op.null_text ? nullptr : op.text.c_str()); break;
        case SessionFn::Profile: scan_session_profile(s); break;
        case SessionFn::CheckType: scan_session_check_type(s, number); break;
        case SessionFn::GetTimeout: scan_session_get_timeout(s, op.no_buffer ? nullptr : value); break;
        case SessionFn::Query: scan_session_query(s, number, op.no_buffer ? nullptr : value); break;
        case SessionFn::WaitScan:  // one that was refused
            scan_session_wait_scan(s, 0, op.no_buffer ? nullptr : g_scan, sizeof g_scan, nullptr);
            break;
        default: break;
    }
    return nullptr;
}

bool is_kind(const std::string& text, LineKind kind) {
    ScanLine l;
    return scan_classify_core(text, &l) == CoreClass::Ours && l.kind == kind;
}

// The question's frame and the bytes the engine had received before the
// call (the previous call's frame may still be arriving then).
struct Asked {
    std::vector<uint8_t> frame;
    size_t before = 0;
};

// Whether the engine has received the whole frame: the last bytes it
// received, and past what it had.
bool frame_in(Bench* b, const Asked& q) {
    if (b->sim == nullptr) return true;
    std::vector<uint8_t> got = sim_received(b->sim);
    return got.size() >= q.before + q.frame.size() && std::equal(q.frame.rbegin(), q.frame.rend(), got.rbegin());
}

// Whether the engine may send the event now: the open's tail as soon as
// the port's configuration has made its last flush, which the tail rule
// counts from; a question's answer once its frame is in; the line's end
// after a question once the library has also logged the frame as written
// (a hang-up while the frame still drains fails the write instead).
struct Seen {
    size_t lines = 0;
    bool configured = false;
    bool written = false;
};

bool due(Bench* b, const Event& e, const Asked& q, Seen* seen) {
    hostlog_line l;
    for (; hostlog_get(seen->lines, &l); ++seen->lines) {
        if (strcmp(l.tag, kCoreTag) != 0) continue;
        std::string text = capture_normalize(l.text);
        seen->configured = seen->configured || is_kind(text, LineKind::UartSummary);
        seen->written = seen->written || is_kind(text, LineKind::SWrite);
    }
    switch (e.stage) {
        case SessionStage::AfterOpen: return seen->configured;
        case SessionStage::AfterWrite: return frame_in(b, q) && (!e.hangup || seen->written);
        default: return true;
    }
}

void feed(Bench* b, const std::vector<Event>& events, const Asked& q, const std::atomic<bool>& done) {
    Seen seen;
    for (const Event& e : events) {
        for (;;) {
            bool finished = done.load();
            if (due(b, e, q, &seen)) break;
            if (finished) return;
            pause_ns(kRefPollNs);
        }
        fire(b, e);
    }
}

void write_all(int fd, const void* p, size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        ssize_t w = write(fd, c, n);
        if (w <= 0) return;
        c += w;
        n -= static_cast<size_t>(w);
    }
}

bool read_all(int fd, void* p, size_t n) {
    char* c = static_cast<char*>(p);
    while (n > 0) {
        ssize_t r = read(fd, c, n);
        if (r <= 0) return false;
        c += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// An open refused because another process holds the port, made by another
// process: a child whose copy of the session held here goes without a
// trace (the lock stays with this process) sends its lines back.
std::vector<NewLine> open_in_child(ScanSession* held) {
    std::vector<NewLine> got;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return got;
    pid_t child = fork();
    if (child == 0) {
        close(pipe_fds[0]);
        scan_session_close(held);
        hostlog_capture(1);
        int error = 0;
        scan_session_open(&error);
        hostlog_line l;
        for (size_t i = 0; hostlog_get(i, &l); ++i) {
            if (strcmp(l.tag, kCoreTag) != 0) continue;
            int prio = l.prio;
            size_t len = strlen(l.text);
            write_all(pipe_fds[1], &prio, sizeof prio);
            write_all(pipe_fds[1], &len, sizeof len);
            write_all(pipe_fds[1], l.text, len);
        }
        _exit(0);
    }
    close(pipe_fds[1]);
    int prio = 0;
    size_t len = 0;
    while (child > 0 && read_all(pipe_fds[0], &prio, sizeof prio) && read_all(pipe_fds[0], &len, sizeof len) &&
           len <= kLineMost) {
        std::string text(len, '\0');
        if (!read_all(pipe_fds[0], &text[0], len)) break;
        got.push_back({prio, capture_normalize(text)});
    }
    close(pipe_fds[0]);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    return got;
}

// An open refused because another process holds the port, with none held
// here: a lock of the replay's own stands in for the other process.
std::vector<NewLine> open_against_lock() {
    int fd = lock_port(PortLock::Session);
    hostlog_capture(1);
    int error = 0;
    scan_session_open(&error);
    std::vector<NewLine> got = new_lines(0);
    hostlog_capture(0);
    if (fd >= 0) close(fd);
    return got;
}

// The call with the engine doing what the capture shows. Returns the new
// log lines.
std::vector<NewLine> run_call(Bench* b, const CapturedOp& op) {
    std::vector<Event> events = events_of(op);
    Asked q;
    if (!op.written.empty()) q.frame = op.written.front();
    if (b->sim != nullptr) q.before = sim_received(b->sim).size();
    bool blocked = op.shape == PortShape::WriteBlocked && b->pty;
    if (blocked) tcflow(devns_slave_fd(), TCOOFF);
    hostlog_capture(1);
    ScanSession* opened = nullptr;
    std::atomic<bool> done{false};
    ScanSession* held = b->hold.s;
    std::thread worker([&opened, &done, held, &op] {
        opened = call(held, op);
        done.store(true);
    });
    feed(b, events, q, done);
    worker.join();
    // What the reader logs comes when it comes, after the call returned.
    for (int waited = 0; new_lines(0).size() < op.lines.size() && waited < kReaderLogsMs * 1000;
         waited += kRefPollNs / 1000) {
        pause_ns(kRefPollNs);
    }
    std::vector<NewLine> got = new_lines(0);
    hostlog_capture(0);
    if (blocked) tcflow(devns_slave_fd(), TCOON);
    if (opened != nullptr) {
        b->hold.s = opened;
        b->hold.pid = op.pid;
    }
    return got;
}

}  // namespace

int lock_port(PortLock which) {
    // What the library looks for: an open-file-description lock, exclusive
    // on the session byte as another process's session holds it, or on the
    // cycle byte as another process's call does. Linux keeps these apart
    // from flock locks, so a flock would not do.
    int fd = open(kDevnsDevice, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct flock held = byte_lock(which == PortLock::Session ? kSessionLockByte : kCycleLockByte);
    if (fd >= 0 && fcntl(fd, F_OFD_SETLK, &held) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool await_cycle(int lock, int limit_ms) {
    for (int waited_us = 0; waited_us < limit_ms * 1000; waited_us += kRefPollNs / 1000) {
        struct flock q = byte_lock(kSessionLockByte);
        if (fcntl(lock, F_OFD_GETLK, &q) == 0 && q.l_type == F_RDLCK) return true;
        pause_ns(kRefPollNs);
    }
    return false;
}

bool hold_session(Bench* b, int pid) {
    if (b->hold.s != nullptr && b->hold.pid == pid) return true;
    release_session(b);
    if (!set_shape(b, PortShape::Pty)) return false;
    int error = 0;
    b->hold.s = scan_session_open(&error);
    b->hold.pid = pid;
    return b->hold.s != nullptr;
}

void release_session(Bench* b) {
    if (b->hold.s != nullptr) scan_session_close(b->hold.s);
    b->hold = SessionHold();
}

// A wait for the port to be free: another process's session, for which a
// lock of the replay's own stands in, lets go after the capture's time;
// or there is no port.
std::vector<NewLine> wait_for_free(Bench* b, const CapturedOp& op) {
    release_session(b);
    bool missing = op.shape == PortShape::Missing;
    if (!set_shape(b, missing ? PortShape::Missing : PortShape::Pty)) return {};
    int lock = missing ? -1 : lock_port(PortLock::Session);
    hostlog_capture(1);
    std::thread waiter([&op] { scan_session_wait_free(op.waited_ms + kIdleWaitMs); });
    if (lock >= 0) {
        pause_ns(static_cast<long>(op.waited_ms) * 1000000L);
        close(lock);
    }
    waiter.join();
    std::vector<NewLine> got = new_lines(0);
    hostlog_capture(0);
    return got;
}

int session_runs(const CapturedOp& op) {
    return op.fn == SessionFn::Open && op.busy_errno == 0 && !op.chunks.empty() ? kOpenRuns : 1;
}

bool run_session_call(Bench* b, const CapturedOp& op, Difference* d) {
    if (!arrange(b, op)) {
        fprintf(stderr, "scanctl: replay: cannot set up %s and a session on it in the private namespace\n",
                kDevnsDevice);
        return false;
    }
    std::vector<NewLine> got;
    if (op.fn == SessionFn::WaitFree) {
        got = wait_for_free(b, op);
    } else if (op.fn == SessionFn::Open && op.busy_errno != 0 && op.busy_errno != kOtherSession) {
        got = b->hold.s != nullptr ? open_in_child(b->hold.s) : open_against_lock();
    } else {
        got = run_call(b, op);
    }
    if (op.fn == SessionFn::Close && !op.no_session) b->hold = SessionHold();
    if (b->pty) {
        sim_wait_output_idle(b->sim, kIdleWaitMs);
        sim_cancel_scans(b->sim);
    }
    return compare(op, got, d);
}

}  // namespace replay_steps
