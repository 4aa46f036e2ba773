// The replay's I/O: reading the capture, the namespace and the simulated
// engine, running each operation, comparing the logs.
#include "replay.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"
#include "normalise.h"
#include "replay_steps.h"
#include "devns.h"
#include "hostlog.h"
#include "scanjni.h"
#include "sim_runner.h"

namespace replay_steps {

namespace {

// Longest pause the replay puts in a tail so that it ends where the
// capture shows it: half the line's quiet gap, which ends a tail.
constexpr int64_t kTailPauseMostUs = kScanQuietGapMs * 1000 / 2;

constexpr long kNsPerUs = 1000;

void sleep_until_us(int64_t t_us) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(t_us / 1000000);
    ts.tv_nsec = static_cast<long>(t_us % 1000000) * kNsPerUs;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

int prio_number(char letter) {
    static const char kLetters[] = "??VDIWEFA";
    const char* p = strchr(kLetters + 2, letter);
    return p ? static_cast<int>(p - kLetters) : 0;
}

void drop_engine(Bench* b) {
    sim_destroy(b->sim);
    b->sim = nullptr;
    b->pty = false;
}

bool set_shape(Bench* b, PortShape shape) {
    bool want_pty = shape != PortShape::Missing && shape != PortShape::NotTty;
    if (want_pty && b->pty) return true;
    drop_engine(b);
    if (!want_pty) {
        return devns_set_shape(shape == PortShape::Missing ? DevnsShape::Absent : DevnsShape::Regular);
    }
    int master = devns_install_pty();
    b->sim = master < 0 ? nullptr : sim_create(master);
    if (b->sim == nullptr) return false;
    // The engine answers nothing of its own: every byte comes from the capture.
    sim_set_persistent_fault(b->sim, sim_fault(SimFaultKind::Silence));
    b->pty = sim_start(b->sim);
    return b->pty;
}

// The core's lines logged since the record was last cleared, from `from`.
std::vector<NewLine> new_lines(size_t from) {
    std::vector<NewLine> out;
    hostlog_line l;
    for (size_t i = from; hostlog_get(i, &l); ++i) {
        if (strcmp(l.tag, kCoreTag) == 0) out.push_back({l.prio, capture_normalize(l.text)});
    }
    return out;
}

bool send_tail(Bench* b, const std::vector<uint8_t>& bytes, size_t burst_most, int64_t end_at_us) {
    // The tail of a message that began before the flush: its first
    // bytes are there at once, more than could have crossed the line
    // since; the rest follows right behind them at the line's pace. It
    // ends where the capture shows it end where that takes a pause well
    // under the line's quiet gap, which the library cannot see; never
    // later: a pause the device never had would end the tail early.
    size_t burst = bytes.size() < burst_most ? bytes.size() : burst_most;
    int64_t rest_at_us = sim_now_us();
    bool early = false;
    if (end_at_us >= 0) {
        int64_t on_time_us = end_at_us - static_cast<int64_t>(line_time_us(bytes.size() - burst));
        early = on_time_us > rest_at_us + kTailPauseMostUs;
        rest_at_us = std::max(rest_at_us, std::min(on_time_us, rest_at_us + kTailPauseMostUs));
    }
    SimLine paced = sim_line(b->sim);
    SimLine at_once = paced;
    at_once.baud = 0;
    sim_set_line(b->sim, at_once);
    sim_send_scan(b->sim, sim_scan(std::vector<uint8_t>(bytes.begin(), bytes.begin() + burst),
                                   SimScanTrigger::AfterDelay, 0));
    sim_wait_output_idle(b->sim, kIdleWaitMs);
    sim_set_line(b->sim, paced);
    sleep_until_us(rest_at_us);
    if (burst < bytes.size()) {
        sim_send_scan(b->sim, sim_scan(std::vector<uint8_t>(bytes.begin() + burst, bytes.end()),
                                       SimScanTrigger::AfterDelay, 0));
    }
    return early;
}

// A session's open and close lines that differ only in the descriptor's
// number, which is the logging process's own.
bool same_but_descriptor(const std::string& a, const std::string& b) {
    ScanLine x, y;
    if (scan_classify_core(a, &x) != CoreClass::Ours || scan_classify_core(b, &y) != CoreClass::Ours) return false;
    bool names_fd = x.kind == LineKind::SOpen || x.kind == LineKind::SClose;
    return names_fd && x.sig == ScanSig::Session && y.sig == ScanSig::Session && x.fn == y.fn &&
           x.kind == y.kind && x.text == y.text;
}

// A signature the capture's library logged where today's logs another,
// and on how many lines; at most kMostRenames kept.
struct Rename {
    std::string capture;
    std::string today;
    size_t lines;
};
constexpr size_t kMostRenames = 16;
std::vector<Rename> g_renames;

// Lines that differ only in the signature: the capture's library logged
// the function under another signature. Counted for the summary.
bool same_but_signature(const std::string& capture, const std::string& replay) {
    ScanLine x, y;
    if (scan_classify_core(capture, &x) != CoreClass::Ours || !x.renamed ||
        scan_classify_core(replay, &y) != CoreClass::Ours) {
        return false;
    }
    if (x.sig != y.sig || x.fn != y.fn || x.rest != y.rest) return false;
    for (Rename& r : g_renames) {
        if (r.capture == x.sig_text && r.today == y.sig_text) {
            ++r.lines;
            return true;
        }
    }
    if (g_renames.size() < kMostRenames) g_renames.push_back({x.sig_text, y.sig_text, 1});
    return true;
}

// How far a replayed wait for the port may be from the capture's: the
// replay lets its stand-in lock go after the capture's time, and a loaded
// host stalls either side for tens of ms.
constexpr int kFreeSlackMs = 40;

// Waits for another process's call or session: how long is that
// process's time, which the replay only stands in for (a wait for the
// port, within kFreeSlackMs).
bool same_wait(const std::string& a, const std::string& b) {
    ScanLine x, y;
    if (scan_classify_core(a, &x) != CoreClass::Ours || scan_classify_core(b, &y) != CoreClass::Ours ||
        x.kind != y.kind || x.sig != y.sig || x.fn != y.fn) {
        return false;
    }
    if (x.kind == LineKind::SFree) return std::abs(y.number - x.number) <= kFreeSlackMs;
    return x.kind == LineKind::CallWaited;
}

// The lines of the session's reader, or the others: two threads, each in
// its own order, whatever the order between them.
bool compare_thread(const CapturedOp& op, const std::vector<NewLine>& got, bool reader, Difference* d) {
    std::vector<size_t> mine, theirs;
    for (size_t i = 0; i < op.lines.size(); ++i) {
        if (scan_is_reader(capture_op_text(op, i)) == reader) mine.push_back(i);
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if (scan_is_reader(got[i].text) == reader) theirs.push_back(i);
    }
    size_t n = mine.size() > theirs.size() ? mine.size() : theirs.size();
    for (size_t k = 0; k < n; ++k) {
        bool have_c = k < mine.size(), have_r = k < theirs.size();
        std::string text = have_c ? capture_normalize(capture_op_text(op, mine[k])) : std::string();
        if (have_c && have_r && prio_number(op.lines[mine[k]].prio) == got[theirs[k]].prio &&
            (text == got[theirs[k]].text || same_but_descriptor(text, got[theirs[k]].text) ||
             same_but_signature(text, got[theirs[k]].text) || same_wait(text, got[theirs[k]].text))) {
            continue;
        }
        d->index = have_c ? mine[k] : op.lines.size();
        d->have_capture = have_c;
        d->have_replay = have_r;
        if (have_r) d->replay = got[theirs[k]];
        return false;
    }
    return true;
}

bool compare(const CapturedOp& op, const std::vector<NewLine>& got, Difference* d) {
    return compare_thread(op, got, false, d) && compare_thread(op, got, true, d);
}

}  // namespace replay_steps

using namespace replay_steps;

namespace {

constexpr size_t kReadBlock = 65536;
// A logcat line is at most about 4 KiB; a longer one is kept cut here.
constexpr size_t kMaxLine = 16384;
constexpr int kTries = 3;              // runs of an operation before it counts as differing
constexpr int64_t kUsPerMs = 1000;
// The stand-in for another call lets go this much before the capture's
// wait is over: the library counts a wait up to whole ms and looks again
// every ms.
constexpr int64_t kWaitEarlyUs = 900;
// Reads the capture one line at a time, normalised (normalise.h), without
// ever holding more than kMaxLine bytes of one line.
struct LineReader {
    FILE* f = nullptr;
    std::vector<uint8_t> block = std::vector<uint8_t>(kReadBlock);
    Normaliser norm;
    std::string text;  // decoded, not yet split
    size_t pos = 0;
    std::string line;
    bool overlong = false;
    bool eof = false;
};

bool next_line(LineReader* r) {
    r->line.clear();
    r->overlong = false;
    for (;;) {
        if (r->pos == r->text.size()) {
            if (r->eof) {
                // The last line, without its '\n'.
                normalise_line(&r->line);
                return !r->line.empty() || r->overlong;
            }
            r->text.clear();
            r->pos = 0;
            size_t n = fread(r->block.data(), 1, r->block.size(), r->f);
            normalise_bytes(&r->norm, r->block.data(), n, &r->text);
            if (n == 0) {
                normalise_end(&r->norm, &r->text);
                r->eof = true;
            }
            continue;
        }
        size_t nl = r->text.find('\n', r->pos);
        size_t n = (nl == std::string::npos ? r->text.size() : nl) - r->pos;
        size_t room = kMaxLine - r->line.size();
        if (n > room) r->overlong = true;
        r->line.append(r->text, r->pos, n < room ? n : room);
        r->pos += n;
        if (nl != std::string::npos) {
            ++r->pos;
            normalise_line(&r->line);
            return true;
        }
    }
}

char prio_letter(int prio) {
    static const char kLetters[] = "??VDIWEF";
    return prio >= 2 && prio <= 7 ? kLetters[prio] : '?';
}

// A line for a person: control bytes as \xNN.
std::string shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A session call's messages, by where it read them, and what became of
// the session.
std::string session_parts(const CapturedOp& op) {
    std::string s;
    char part[96];
    if (op.busy_errno != 0) {
        snprintf(part, sizeof part, "  port busy (errno %d)", op.busy_errno);
        s += part;
    }
    if (op.no_session) s += "  no session";
    if (op.no_buffer) s += "  no buffer";
    for (const InChunk& c : op.chunks) {
        snprintf(part, sizeof part, "  %s %zu bytes", c.tail ? "tail" : c.reply ? "reply" : "scan", c.bytes.size());
        s += part;
    }
    if (op.no_room > 0) s += "  " + std::to_string(op.no_room) + " dropped";
    return s;
}

// What the call came to, from its last telling line.
std::string outcome(const CapturedOp& op) {
    bool valued = op.sig == ScanSig::GetTimeout || op.sig == ScanSig::QueryData;
    for (size_t i = op.lines.size(); i-- > 0;) {
        ScanLine l;
        std::string text = capture_op_text(op, i);
        if (scan_classify_core(text, &l) != CoreClass::Ours) continue;
        if (valued && i + 1 == op.lines.size() && l.kind == LineKind::Other) return "answer '" + l.rest + "'";
        switch (l.kind) {
            case LineKind::Enable: return "answer enable=" + std::to_string(l.number);
            case LineKind::SAnswer: return "answer " + l.text;
            case LineKind::SNoAnswer:
            case LineKind::ReplyError: return "no answer";
            case LineKind::ReadError: return "no scan";
            case LineKind::Dropped: return op.sig == ScanSig::ReadData ? "tail dropped, no scan" : "tail dropped";
            case LineKind::Length:
                if (op.sig != ScanSig::ReadData) break;
                return l.number > 0 ? "scan " + std::to_string(l.number) + " bytes" : "no scan";
            case LineKind::WriteOk:
            case LineKind::SWrite: return "wrote " + std::to_string(l.number) + " bytes";
            case LineKind::WriteFail:
            case LineKind::SWriteFail: return "write failed";
            case LineKind::SScan: return "scan " + std::to_string(l.number) + " bytes";
            case LineKind::SReply: return "late reply " + std::to_string(l.number) + " bytes";
            case LineKind::InvalidType:
            case LineKind::TimeoutRange:
            case LineKind::CommandNull:
            case LineKind::CommandLong:
            case LineKind::SNoSession:
            case LineKind::SNoBuffer: return "refused";
            case LineKind::OpenFail:
            case LineKind::SOpenFail: return "no device";
            case LineKind::CfgFail:
            case LineKind::SCfgFail: return "not a terminal";
            case LineKind::SBusy: return "port busy";
            case LineKind::SOpen: return "opened";
            case LineKind::SClose: return "closed";
            case LineKind::SFree: return "port free";
            case LineKind::SHungUp: return scan_session_question(op.fn) ? "port lost" : "hung up";
            case LineKind::HeldElsewhere: return "refused: port held";
            case LineKind::CallBusy: return "refused: port in use";
            case LineKind::HeldNoScan: return "no scan taken";
            default: break;
        }
    }
    return "";
}

std::string describe(const CapturedOp& op, int index) {
    char head[96];
    snprintf(head, sizeof head, "#%d lines %zu-%zu", index, op.first_line, op.last_line);
    std::string s = head;
    if (!op.java.empty()) s += "  " + op.java;
    s += "  " + capture_op_call(op);
    if (op.shape == PortShape::Missing) s += "  device missing";
    if (op.shape == PortShape::NotTty) s += "  device not a terminal";
    if (op.shape == PortShape::WriteBlocked) s += "  write blocked";
    if (op.shape == PortShape::HeldHere) s += "  on this process's session";
    if (op.shape == PortShape::HeldByOther) s += "  port held by another process";
    if (op.fn == SessionFn::WaitFree && op.shape == PortShape::HeldByOther) s += " (" + std::to_string(op.waited_ms) + " ms)";
    if (op.shape == PortShape::CyclesAhead) s += "  after another call (" + std::to_string(op.waited_ms) + " ms)";
    if (op.shape == PortShape::CyclesBusy) s += "  port in use by another call";
    for (const std::vector<uint8_t>& frame : op.written) {
        char part[48];
        snprintf(part, sizeof part, "  wrote %zu bytes", frame.size());
        s += part;
    }
    if (op.sig == ScanSig::Session) {
        s += session_parts(op);
    } else {
        std::vector<int64_t> times = capture_chunk_times(op);
        for (size_t i = 0; i < op.chunks.size(); ++i) {
            char part[96];
            snprintf(part, sizeof part, "  %s %zu bytes at +%.1f ms", op.chunks[i].tail ? "tail" : "in",
                     op.chunks[i].bytes.size(), static_cast<double>(times[i]) / kUsPerMs);
            s += part;
        }
    }
    std::string came_to = outcome(op);
    if (!came_to.empty()) s += "  -> " + came_to;
    if (op.gap_us >= 0) {
        char gap[48];
        snprintf(gap, sizeof gap, "  (%.0f ms after the previous)",
                 static_cast<double>(op.gap_us) / kUsPerMs);
        s += gap;
    }
    return s;
}

void call_op(const CapturedOp& op) {
    switch (op.sig) {
        case ScanSig::OpenDev: scan_open_dev(op.flag); break;
        // The log does not show the type index of a valid enable or
        // disable; every index logs the same lines.
        case ScanSig::EnableType: scan_enable_type(op.flag, op.number_known ? op.number : 0); break;
        case ScanSig::SetTimeout: scan_set_timeout(op.number); break;
        case ScanSig::SetCommand: scan_set_command(op.null_text ? nullptr : op.text.c_str()); break;
        case ScanSig::Profile: profile_scan_type(); break;
        case ScanSig::TypeCheck: scan_type_check(op.number); break;
        case ScanSig::GetTimeout: scan_get_timeout(); break;
        case ScanSig::QueryData: scan_query_data(op.number); break;
        case ScanSig::ReadData: scan_read_data(); break;
        default: break;
    }
}

// The line after which the engine's bytes are timed.
bool is_reference(const CapturedOp& op, const std::string& text) {
    ScanLine l;
    if (scan_classify_core(text, &l) != CoreClass::Ours) return false;
    if (op.sig == ScanSig::ReadData) return l.kind == LineKind::UartSummary;
    return l.sig == op.sig && (l.kind == LineKind::WriteOk || l.kind == LineKind::WriteFail);
}

// A question's first reply bytes go out from the engine's own loop, timed
// from the moment its frame arrives there, which is when the library's poll
// begins: no thread in between to wake late. Returns the chunks it took.
size_t arm_reply(Bench* b, const CapturedOp& op) {
    if (!scan_is_question(op.sig) || op.shape != PortShape::Pty || op.chunks.empty()) return 0;
    SimLine line = sim_line(b->sim);
    line.reply_delay_us = static_cast<int>(capture_chunk_times(op)[0]);
    sim_set_line(b->sim, line);
    sim_push_fault(b->sim, sim_fault_bytes(SimFaultKind::RawReply, op.chunks[0].bytes));
    return 1;
}

void disarm_reply(Bench* b) {
    SimLine line = sim_line(b->sim);
    line.reply_delay_us = 0;
    sim_set_line(b->sim, line);
    sim_with_engine(b->sim, [](SimEngine* e) { e->next_faults.clear(); });
}

// Sends the capture's chunks from `first` on at their times while the
// call runs.
// Waits for the library's next line of `kind` from the function `sig`
// (record index *seen on), until the call is done; when it came
// (sim_now_us's clock), or -1.
int64_t await_line(ScanSig sig, LineKind kind, size_t* seen, const std::atomic<bool>& done) {
    while (!done.load()) {
        hostlog_line l;
        for (; hostlog_get(*seen, &l); ++*seen) {
            ScanLine s;
            if (strcmp(l.tag, kCoreTag) == 0 && scan_classify_core(l.text, &s) == CoreClass::Ours && s.sig == sig &&
                s.kind == kind) {
                ++*seen;
                return sim_now_us();
            }
        }
        timespec pause = {0, kRefPollNs};
        nanosleep(&pause, nullptr);
    }
    return -1;
}

void feed_engine(Bench* b, const CapturedOp& op, size_t first, const std::atomic<bool>& done) {
    std::vector<int64_t> times = capture_chunk_times(op);
    size_t seen = 0;
    int64_t ref_us = -1;
    while (ref_us < 0 && !done.load()) {
        std::vector<NewLine> lines = new_lines(seen);
        for (const NewLine& l : lines) {
            if (is_reference(op, l.text)) ref_us = sim_now_us();
        }
        hostlog_line any;
        while (hostlog_get(seen, &any)) ++seen;
        if (ref_us < 0) {
            timespec pause = {0, kRefPollNs};
            nanosleep(&pause, nullptr);
        }
    }
    for (size_t i = first; ref_us >= 0 && i < op.chunks.size() && !done.load(); ++i) {
        sleep_until_us(ref_us + times[i]);
        std::vector<uint8_t> bytes = op.chunks[i].bytes;
        // A read of nothing at all: the library saw a zero byte first.
        if (bytes.empty()) bytes.push_back(0);
        if (!op.chunks[i].tail) {
            sim_send_scan(b->sim, sim_scan(bytes, SimScanTrigger::AfterDelay, 0));
            continue;
        }
        // A tail is more bytes at once than the line carried since the flush.
        size_t burst = kCaptureTailBurst + static_cast<size_t>(times[i] * 1000 / kByteTimeNs);
        bool early = send_tail(b, bytes, burst, op.chunks[i].end_us >= 0 ? ref_us + op.chunks[i].end_us : -1);
        // Shorter than the capture shows (or of no known end): what follows
        // is timed from where the replayed read dropped it.
        if (i + 1 < op.chunks.size() && (early || op.chunks[i].end_us < 0)) {
            int64_t dropped_us = await_line(op.sig, LineKind::Dropped, &seen, done);
            if (dropped_us >= 0) times = capture_chunk_times(op, dropped_us - ref_us);
        }
    }
}

bool run_once(Bench* b, const CapturedOp& op, Difference* d) {
    // The port as the call found it: held by a session of its own
    // process, or by another process (a lock of the replay's own stands in
    // for it), or by no session. The session the replay holds for a
    // capture process goes first unless the call ran on it: a call that
    // completed before a session opened may come out of the capture after
    // that session's first calls.
    if (op.shape != PortShape::HeldHere) release_session(b);
    if (op.shape == PortShape::HeldHere ? !hold_session(b, op.pid) : !set_shape(b, op.shape)) {
        fprintf(stderr, "scanctl: replay: cannot set up %s in the private namespace\n", kDevnsDevice);
        return false;
    }
    if (op.shape == PortShape::WriteBlocked) tcflow(devns_slave_fd(), TCOOFF);
    int lock = op.shape == PortShape::HeldByOther ? lock_port(PortLock::Session) : -1;
    // Another process's call under way: it lets go after the capture's
    // wait, or never.
    if (op.shape == PortShape::CyclesAhead || op.shape == PortShape::CyclesBusy) lock = lock_port(PortLock::Cycle);
    hostlog_capture(1);
    size_t armed = b->pty ? arm_reply(b, op) : 0;
    std::atomic<bool> done{false};
    std::thread worker([&op, &done] {
        call_op(op);
        done.store(true);
    });
    if (op.shape == PortShape::CyclesAhead) {
        // The call waits from the moment it took its share of the port.
        if (await_cycle(lock, kIdleWaitMs)) sleep_until_us(sim_now_us() + op.waited_ms * kUsPerMs - kWaitEarlyUs);
        close(lock);
        lock = -1;
    }
    if (b->pty && op.chunks.size() > armed) feed_engine(b, op, armed, done);
    worker.join();
    if (armed > 0) disarm_reply(b);
    if (op.shape == PortShape::WriteBlocked) tcflow(devns_slave_fd(), TCOON);
    std::vector<NewLine> got = new_lines(0);
    hostlog_capture(0);
    if (lock >= 0) close(lock);
    if (b->pty) {
        sim_wait_output_idle(b->sim, kIdleWaitMs);
        sim_cancel_scans(b->sim);
    }
    return compare(op, got, d);
}

void print_difference(const CapturedOp& op, int index, const Difference& d) {
    printf("#%d differs: %s, capture lines %zu-%zu\n", index, capture_op_call(op).c_str(),
           op.first_line, op.last_line);
    if (d.have_capture) {
        const ExpectedLine& l = op.lines[d.index];
        printf("  capture line %zu: %c %s\n", l.line, l.prio, shown(capture_op_text(op, d.index)).c_str());
    } else {
        printf("  capture: (the operation ended at line %zu)\n", op.last_line);
    }
    if (d.have_replay) {
        printf("  replay:          %c %s\n", prio_letter(d.replay.prio), shown(d.replay.text).c_str());
    } else {
        printf("  replay:          (no further line)\n");
    }
}

struct Tally {
    int ops = 0;
    int matched = 0;
    int retried = 0;
    int differed = 0;
    int not_replayed = 0;  // after the first difference, without --keep-going
    int cut = 0;
    int abandoned = 0;
    int damaged = 0;
    int unread = 0;  // lines that mention the scanner before any line of it could be read
};

struct Options {
    bool list = false;
    bool keep_going = false;
    const char* path = nullptr;
};

void print_note(const CaptureNote& n, Tally* t) {
    const char* what = n.kind == NoteKind::Abandoned ? "abandoned" : n.kind == NoteKind::Cut ? "cut" : "unusable";
    printf("%s: lines %zu-%zu (%zu of the scanner's", what, n.first_line, n.last_line, n.lines);
    if (n.pid >= 0) printf("; pid %d", n.pid);
    if (n.tid >= 0) printf(" tid %d", n.tid);
    printf("): %s\n", n.reason.c_str());
    int* count = n.kind == NoteKind::Abandoned ? &t->abandoned : n.kind == NoteKind::Cut ? &t->cut : &t->damaged;
    ++*count;
}

void handle(Bench* b, const Options& o, const CaptureEvent& ev, bool saw_scanner, Tally* t) {
    if (!ev.is_op && !saw_scanner) {
        // Before any line could be read: a shape the tool does not read,
        // told once at the end rather than line by line.
        ++t->unread;
        return;
    }
    if (!ev.is_op) {
        print_note(ev.note, t);
        return;
    }
    int index = ++t->ops;
    const CapturedOp& op = ev.op;
    if (o.list) {
        printf("%s\n", describe(op, index).c_str());
        return;
    }
    if (t->differed > 0 && !o.keep_going) {
        ++t->not_replayed;
        return;
    }
    if (!op.timing.empty()) {
        // The capture's own times show what today's library cannot do.
        printf("#%d differs: %s, capture lines %zu-%zu\n  capture line %zu: %s\n", index,
               capture_op_call(op).c_str(), op.first_line, op.last_line, op.timing_line, op.timing.c_str());
        ++t->differed;
        return;
    }
    bool session = op.sig == ScanSig::Session;
    int runs = session ? session_runs(op) : kTries;
    Difference d, first;
    for (int attempt = 1; attempt <= runs; ++attempt) {
        if (session ? run_session_call(b, op, &d) : run_once(b, op, &d)) {
            printf("%s  match", describe(op, index).c_str());
            if (attempt > 1) {
                ++t->retried;
                printf(" on run %d (run 1 differed at capture line %zu)", attempt,
                       first.have_capture ? op.lines[first.index].line : op.last_line);
            }
            printf("\n");
            fflush(stdout);
            ++t->matched;
            return;
        }
        if (attempt == 1) first = d;
    }
    print_difference(op, index, d);
    ++t->differed;
}

const char kFormats[] =
    "  logcat's brief, time, threadtime and long formats, also with -v uid, epoch,\n"
    "  monotonic, usec, nsec, year, zone, UTC, color or printable, and tabs between\n"
    "  the fields; Android Studio's saved Logcat window (either layout); in UTF-8\n"
    "  or UTF-16, with or without a byte order mark\n";
const char kCaptureCommand[] = "adb logcat -v threadtime -s SCANLIB_CORE SCANLIB_JNI > scanner.log";

int verdict(Tally t, const Options& o, const CaptureBuilder& capture, size_t lines) {
    bool saw_scanner = capture.saw_scanner;
    // The device's system, not a call: replayed on this host's, where
    // locks and watches on the port work.
    for (const LogEntry& e : capture.device_lines) {
        printf("the device, line %zu (pid %d): %s\n", e.line, e.pid, e.message.substr(e.message.find("), ") + 3).c_str());
    }
    for (const Rename& r : g_renames) {
        printf("another version of the library: the capture logs '%s' where today's logs '%s' "
               "(%zu lines, otherwise the same)\n", r.capture.c_str(), r.today.c_str(), r.lines);
    }
    if (t.unread > 0 && saw_scanner) {
        printf("unusable: %d line(s) that mention the scanner's tags before its first readable line\n", t.unread);
        ++t.damaged;
    }
    if (!saw_scanner) {
        printf("scanctl: replay: no line of %s or %s in %zu lines: not a capture of this library,\n"
               "or in a shape this tool does not read. It reads\n%sTake a capture with:\n  %s\n",
               kCoreTag, kBridgeTag, lines, kFormats, kCaptureCommand);
        return kReplayUnusable;
    }
    if (t.ops == 0 && t.abandoned == 0) {
        printf("scanctl: replay: no complete operation in the capture\n");
        return kReplayUnusable;
    }
    int replayed = t.matched + t.differed;
    if (o.list) printf("%d operation(s) rebuilt", t.ops);
    else if (t.differed == 0) printf("%d operation(s) replayed, all match", replayed);
    else printf("%d operation(s) replayed: %d matched, %d differed", replayed, t.matched, t.differed);
    if (t.retried > 0) printf(" (%d on a later run)", t.retried);
    if (t.not_replayed > 0) {
        printf("; %d not replayed after the first difference (--keep-going replays them)", t.not_replayed);
    }
    if (t.abandoned > 0) printf("; %d abandoned (see above)", t.abandoned);
    if (t.damaged > 0) printf("; %d part(s) of the capture not replayable (see above)", t.damaged);
    if (t.cut > 0) printf("; %d cut by the capture's start or end", t.cut);
    printf("\n");
    if (t.differed > 0) return kReplayDiffer;
    if (t.abandoned > 0) return kReplayAbandoned;
    return t.damaged > 0 ? kReplayUnusable : kReplayMatch;
}

// False (after a message) for arguments that are none of the command's.
bool parse_args(int argc, char** argv, Options* o) {
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--list") == 0) {
            o->list = true;
        } else if (strcmp(a, "--keep-going") == 0) {
            o->keep_going = true;
        } else if (a[0] == '-' && a[1] != '\0') {
            fprintf(stderr, "scanctl: replay: unknown option %s (see scanctl replay --help)\n", a);
            return false;
        } else if (o->path != nullptr) {
            fprintf(stderr, "scanctl: replay: one capture at a time (%s and %s)\n", o->path, a);
            return false;
        } else {
            o->path = a;
        }
    }
    if (o->path == nullptr) {
        fprintf(stderr, "scanctl: replay: no capture named: scanctl replay [--list] [--keep-going] FILE "
                        "(- for standard input)\n");
        return false;
    }
    return true;
}

FILE* open_capture(const char* path) {
    if (strcmp(path, "-") == 0) return stdin;
    struct stat st;
    if (stat(path, &st) != 0) {
        fprintf(stderr, "scanctl: replay: cannot read %s: %s\n", path, strerror(errno));
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        fprintf(stderr, "scanctl: replay: %s is a directory; name a capture file in it\n", path);
        return nullptr;
    }
    FILE* f = fopen(path, "rb");
    if (f == nullptr) fprintf(stderr, "scanctl: replay: cannot read %s: %s\n", path, strerror(errno));
    return f;
}

}  // namespace

void replay_usage(FILE* out) {
    fprintf(out,
            "usage: scanctl replay [--list] [--keep-going] FILE\n"
            "Rebuilds the scanner operations of a logcat capture and runs each again\n"
            "against a simulated engine that sends the bytes the capture shows, in a\n"
            "private mount namespace (root only); then compares the library's new log\n"
            "lines with the capture's. FILE - reads standard input.\n"
            "  --list        print the operations only (no root needed)\n"
            "  --keep-going  replay every operation, not only up to the first difference\n"
            "Take a capture on the device with:\n"
            "  adb logcat -c\n"
            "  %s\n"
            "It reads\n%s"
            "Each operation's line shows its capture lines, the call, what the engine sent,\n"
            "what the call came to, and \"match\". A mismatch shows the capture's line and\n"
            "the replay's line where they first part: the engine sent the same bytes, so\n"
            "the library decided differently (another version, or a fault); a different\n"
            "number of \"error\" lines means a reply or scan came in another 10 ms attempt.\n"
            "exit status: 0 every operation matches; 1 an operation differs; 2 the capture,\n"
            "or a part of it, cannot be used, or bad arguments; 3 an operation was\n"
            "abandoned while the capture went on (a crash, a dead process, dropped lines).\n",
            kCaptureCommand, kFormats);
}

int replay_command(int argc, char** argv) {
    if (argc == 1 && (strcmp(argv[0], "--help") == 0 || strcmp(argv[0], "-h") == 0)) {
        replay_usage(stdout);
        return kReplayMatch;
    }
    Options o;
    if (!parse_args(argc, argv, &o)) return kReplayUnusable;
    LineReader reader;
    reader.f = open_capture(o.path);
    if (reader.f == nullptr) return kReplayUnusable;
    Bench bench;
    if (!o.list) {
        if (geteuid() != 0) {
            fprintf(stderr, "scanctl: replay must run as root: it puts the simulated engine at %s "
                            "in a private mount namespace (--list needs no root)\n", kDevnsDevice);
            if (reader.f != stdin) fclose(reader.f);
            return kReplayUnusable;
        }
        if (!devns_enter()) {
            if (reader.f != stdin) fclose(reader.f);
            return kReplayUnusable;
        }
        hostlog_set_echo(0);
    }

    LogcatParser parser;
    CaptureBuilder builder;
    Tally tally;
    size_t number = 0;
    LogEntry entry;
    CaptureEvent ev;
    while (next_line(&reader)) {
        ++number;
        LogcatResult r = logcat_feed(&parser, reader.line.data(), reader.line.size(), number, &entry);
        if (reader.overlong && r == LogcatResult::Entry &&
            (entry.tag == kCoreTag || entry.tag == kBridgeTag)) {
            r = LogcatResult::Damaged;
        }
        if (r == LogcatResult::Entry) capture_feed(&builder, entry);
        if (r == LogcatResult::Damaged) capture_damaged_line(&builder, number);
        while (capture_next(&builder, &ev)) handle(&bench, o, ev, builder.saw_scanner, &tally);
    }
    if (reader.f != stdin) fclose(reader.f);
    if (logcat_finish(&parser, &entry) == LogcatResult::Entry) capture_feed(&builder, entry);
    capture_finish(&builder);
    while (capture_next(&builder, &ev)) handle(&bench, o, ev, builder.saw_scanner, &tally);
    if (!o.list) {
        release_session(&bench);
        drop_engine(&bench);
        devns_teardown();
    }
    return verdict(tally, o, builder, number);
}
