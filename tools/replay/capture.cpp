#include "capture.h"

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture_steps.h"
#include "frames.h"
#include "line.h"

namespace {

// A pause between byte lines longer than this means the bytes came in two
// messages (a byte takes 86.8 us at 115200 8N1).
constexpr int64_t kChunkGapUs = 2000;
constexpr int64_t kAttemptUs = kPollIntervalMs * 1000;
constexpr int64_t kPollStopUs = 5 * kAttemptUs;
// Longest a scan data read is silent: an attempt, then the longest message
// and the quiet after it.
constexpr int64_t kReadSilenceUs = kAttemptUs + (kScanMessageMaxMs + kScanQuietGapMs) * 1000;
// The scan data read logs its bytes once the line has been quiet this long.
constexpr int64_t kScanQuietUs = kScanQuietGapMs * 1000;
constexpr int kTimeoutPreBytes = 4 + static_cast<int>(kTimeoutFrameLen);
constexpr int kCommandHeaderLen = 3;
// Lines that a text holding line ends may take.
constexpr int kValueContinuations = 16;
constexpr int kCommandContinuations = static_cast<int>(kMaxCommandText) + 1;
constexpr size_t kQuotedMax = 60;  // characters of a line quoted in a note

// The functions that log nothing before they open the port.
bool no_preparation(ScanSig s) {
    return s == ScanSig::OpenDev || s == ScanSig::EnableType || s == ScanSig::Profile ||
           s == ScanSig::GetTimeout || s == ScanSig::ReadData;
}

size_t reply_min(ScanSig s) {
    if (s == ScanSig::TypeCheck) return kCheckReplyMin;
    if (s == ScanSig::GetTimeout) return kTimeoutReplyMin;
    return kQueryReplyMin;
}

// The first line of an operation.
bool is_start(const ScanLine& l) {
    switch (l.kind) {
        case LineKind::UartBaud: return true;
        case LineKind::TypeIs: return l.sig == ScanSig::TypeCheck;
        case LineKind::QueryCommand: return l.sig == ScanSig::QueryData;
        case LineKind::TimeIs:
        case LineKind::TimeoutRange: return l.sig == ScanSig::SetTimeout;
        case LineKind::CommandIs:
        case LineKind::CommandNull:
        case LineKind::CommandLong: return l.sig == ScanSig::SetCommand;
        case LineKind::InvalidType: return l.sig == ScanSig::EnableType;
        case LineKind::OpenFail:
        case LineKind::CfgFail: return no_preparation(l.sig);
        case LineKind::NoMemory: return l.sig == ScanSig::GetTimeout || l.sig == ScanSig::ReadData;
        case LineKind::HeldElsewhere:
        case LineKind::OnHeldPort:
        case LineKind::CallWaited:
        case LineKind::CallBusy: return no_preparation(l.sig);
        case LineKind::HeldNoScan: return l.sig == ScanSig::ReadData;
        default: return false;
    }
}

ThreadState* find_thread(CaptureBuilder* b, int pid, int tid) {
    for (ThreadState& t : b->threads) {
        if (t.pid == pid && t.tid == tid) return &t;
    }
    return nullptr;
}

}  // namespace

namespace capture_steps {

std::string quoted(const std::string& text) {
    std::string q = "'";
    q += text.size() > kQuotedMax ? text.substr(0, kQuotedMax) + "..." : text;
    return q + "'";
}

std::string thread_name(const ThreadState& t) {
    if (t.tid == kCaptureReaderNoTid) return "the session reader of process " + std::to_string(t.pid);
    return t.tid >= 0 ? "thread " + std::to_string(t.tid) : "process " + std::to_string(t.pid);
}

std::string at_line(size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

bool mid_op(const ThreadState& t) { return t.phase != Phase::None && t.phase != Phase::Done; }

void push_note(CaptureBuilder* b, const CaptureNote& n) {
    CaptureEvent ev;
    ev.is_op = false;
    ev.note = n;
    ev.done_at = b->last_line;
    b->events.push_back(std::move(ev));
}

void emit_op(CaptureBuilder* b, ThreadState* t) {
    CaptureEvent ev;
    ev.is_op = true;
    // An operation that waited for its bridge line was complete at its own
    // last line: it goes out before what completed after it (capture_next
    // holds those back meanwhile), so that the replay runs the calls in
    // the order they ran.
    ev.done_at = t->done_line != 0 ? t->op.last_line : b->last_line;
    ev.op = std::move(t->op);
    auto at = b->events.end();
    while (at != b->events.begin() && std::prev(at)->done_at > ev.done_at) --at;
    b->events.insert(at, std::move(ev));
    t->op = CapturedOp();
    t->phase = Phase::None;
    t->done_line = 0;
}

void end_skip(CaptureBuilder* b, ThreadState* t) {
    if (!t->skipping) return;
    push_note(b, t->note);
    t->skipping = false;
}

void begin_skip(CaptureBuilder* b, ThreadState* t, size_t line, const std::string& reason,
                NoteKind kind) {
    // A complete operation waiting for its Java call's line goes out first.
    if (t->phase == Phase::Done) emit_op(b, t);
    if (t->skipping) {
        // Still in the part skipped: a session call begun there is part of it.
        t->note.last_line = line;
        t->note.lines += (mid_op(*t) ? t->op.lines.size() : 0) + 1;
        t->phase = Phase::None;
        t->op = CapturedOp();
        return;
    }
    end_skip(b, t);
    CaptureNote n;
    n.first_line = mid_op(*t) ? t->op.first_line : line;
    n.last_line = line;
    n.lines = (mid_op(*t) ? t->op.lines.size() : 0) + 1;
    n.reason = reason;
    n.kind = kind;
    n.pid = t->pid;
    n.tid = t->tid;
    t->note = n;
    t->skipping = true;
    t->phase = Phase::None;
    t->op = CapturedOp();
}

void skip_inside(CaptureBuilder* b, ThreadState* t, const LogEntry& e) {
    bool timed = e.time_us >= 0 && b->first_time_us >= 0;
    bool near = timed ? e.time_us - b->first_time_us <= kCaptureLongestCallUs
                      : e.line <= b->first_scanner_line + kCaptureBridgeWait;
    if (t->skipping || near) {
        begin_skip(b, t, e.line, at_line(e.line, "the capture starts inside an operation"), NoteKind::Cut);
    } else {
        damage(b, t, e.line, "the first lines of this operation on " + thread_name(*t) + " are missing (lost?)");
    }
}

void damage(CaptureBuilder* b, ThreadState* t, size_t line, const std::string& reason) {
    begin_skip(b, t, line, at_line(line, reason), NoteKind::Damaged);
}

void drop_op(ThreadState* t, const std::string& reason, NoteKind kind) {
    CaptureNote& n = t->note;
    if (t->skipping) {
        n.last_line = t->op.last_line;
        n.lines += t->op.lines.size();
        t->op = CapturedOp();
        t->phase = Phase::None;
        return;
    }
    n = CaptureNote();
    n.first_line = t->op.first_line;
    n.last_line = t->op.last_line;
    n.lines = t->op.lines.size();
    n.reason = reason;
    n.kind = kind;
    n.pid = t->pid;
    n.tid = t->tid;
    t->skipping = true;
    t->op = CapturedOp();
    t->phase = Phase::None;
}

void op_begins(const CaptureBuilder* b, ThreadState* t, const LogEntry& e) {
    CapturedOp& op = t->op;
    op.pid = t->pid;
    op.tid = t->tid;
    op.first_line = e.line;
    op.start_us = e.time_us;
    if (e.time_us >= 0 && b->last_time_us >= 0) op.gap_us = e.time_us - b->last_time_us;
}

bool add_line(CaptureBuilder* b, ThreadState* t, const LogEntry& e) {
    CapturedOp& op = t->op;
    if (op.lines.size() >= kCaptureMaxOpLines) {
        damage(b, t, e.line, "more lines than any operation of the library logs");
        return false;
    }
    ExpectedLine l;
    l.line = e.line;
    l.prio = e.prio;
    l.off = static_cast<uint32_t>(op.texts.size());
    l.len = static_cast<uint32_t>(e.message.size());
    op.texts += e.message;
    op.lines.push_back(l);
    op.last_line = e.line;
    if (e.time_us >= 0) op.end_us = e.time_us;
    return true;
}

std::string not_expected(const LogEntry& e) { return "line not expected here: " + quoted(e.message); }

// Logcat's times have milliseconds; a loaded device logs a little late.
constexpr int64_t kEarlyMarginUs = 2000;
constexpr int64_t kLateMarginUs = 10000;

void check_reply_time(CapturedOp* op, bool reply, bool answered, int64_t after_us, size_t write_line, size_t line) {
    int64_t budget_us = static_cast<int64_t>(kReplyBudgetMs) * 1000;
    bool early = !reply && !answered && after_us < budget_us - kEarlyMarginUs;
    bool late = reply && after_us > budget_us + kLateMarginUs;
    if ((!early && !late) || !op->timing.empty()) return;
    op->timing = std::string(early ? "\"no answer\" " : "a reply ") + std::to_string(after_us / 1000) +
                 " ms after the write at line " + std::to_string(write_line) + ", where the library waits " +
                 std::to_string(kReplyBudgetMs) + " ms for a reply" + (late ? " and takes none later" : "");
    op->timing_line = line;
}

}  // namespace capture_steps

using namespace capture_steps;

namespace {

// A text line whose line end put the rest of it on the next line.
void append_to_last(CapturedOp* op, const LogEntry& e) {
    op->texts += '\n';
    op->texts += e.message;
    op->lines.back().len += static_cast<uint32_t>(e.message.size() + 1);
    op->last_line = e.line;
}

// A per-call function meets a held port where it would open it.
void held_port(ThreadState* t, const ScanLine& l) {
    CapturedOp& op = t->op;
    t->per_call.sig_known = true;
    if (l.kind == LineKind::CallWaited) {
        // Other calls went first; the port opens next.
        op.shape = PortShape::CyclesAhead;
        op.waited_ms = l.number;
        t->phase = Phase::PreOpen;
        return;
    }
    op.shape = l.kind == LineKind::HeldElsewhere ? PortShape::HeldByOther
             : l.kind == LineKind::CallBusy      ? PortShape::CyclesBusy
                                                 : PortShape::HeldHere;
    t->phase = l.kind == LineKind::OnHeldPort ? Phase::Ready : Phase::Done;
}

bool in_phase(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l);

void start_op(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    end_skip(b, t);
    t->started = true;
    t->op = CapturedOp();
    op_begins(b, t, e);
    CapturedOp& op = t->op;
    op.java.swap(t->pending_java);
    t->pending_java.clear();
    op.sig = l.sig;
    t->per_call = PerCallReading();
    t->per_call.sig_known = l.kind != LineKind::UartBaud;
    // A function that prepares no frame begins where it opens the port (or
    // fails to, or finds it held), as a prepared one goes on after its frame.
    t->phase = Phase::PreOpen;
    if (in_phase(b, t, e, l)) return;
    if (!add_line(b, t, e)) return;

    switch (l.kind) {
        case LineKind::TypeIs:
            op.number = l.number;
            op.number_known = true;
            return;
        case LineKind::QueryCommand: {
            int n = 0;
            if (l.number < 1 || l.number > static_cast<int>(kQueryFrameMax) - 5 ||
                static_cast<size_t>(l.number) != l.text.size() ||
                !scan_parse_int(l.text.data(), l.text.size(), &n)) {
                damage(b, t, e.line, "setting number " + quoted(l.text) + " does not match its length " +
                                         std::to_string(l.number));
                return;
            }
            op.number = n;
            t->per_call.pre_left = -1;
            t->phase = Phase::Prepare;
            return;
        }
        case LineKind::TimeIs:
            op.number = l.number;
            t->per_call.pre_left = kTimeoutPreBytes;
            t->phase = Phase::Prepare;
            return;
        case LineKind::TimeoutRange:
        case LineKind::InvalidType:
            op.number = l.number;
            op.number_known = true;
            t->phase = Phase::Done;
            return;
        case LineKind::CommandIs:
            op.text = l.text;
            if (l.flag) {
                op.number = l.number;
                t->per_call.pre_left = -1;
                t->phase = Phase::Prepare;
            } else {
                t->per_call.continuation_left = kCommandContinuations;
                t->phase = Phase::CommandText;
            }
            return;
        case LineKind::CommandNull:
            op.null_text = true;
            t->phase = Phase::Done;
            return;
        case LineKind::CommandLong:
            if (l.number < 0 || l.number > kCaptureMaxCommandText) {
                damage(b, t, e.line, "a command length of " + std::to_string(l.number) +
                                         " is past what this tool rebuilds");
                return;
            }
            op.text.assign(static_cast<size_t>(l.number), 'x');
            t->phase = Phase::Done;
            return;
        default:  // a read that found the port held by its own process's session
            held_port(t, l);
            return;
    }
}

// The frame bytes logged before the open are complete.
bool frame_done(CaptureBuilder* b, ThreadState* t, size_t line) {
    CapturedOp& op = t->op;
    if (op.sig == ScanSig::SetCommand) {
        const std::vector<uint8_t>& f = t->per_call.frame;
        if (f.size() < kCommandHeaderLen + 1 || f[0] != 0xFF || f[1] != 'M' || f[2] != 0x0D ||
            f.back() != '.') {
            damage(b, t, line, "the command frame's bytes are not a command frame");
            return false;
        }
        op.text.assign(f.begin() + kCommandHeaderLen, f.end() - 1);
    }
    t->phase = Phase::PreOpen;
    return true;
}

// The operation open on the thread meets a line of something else (its
// Java call's, another operation's). A question that read no reply is over
// where it made all its attempts, else its lines stopped (kind Abandoned)
// or were lost (Damaged); an operation that may end at any line has ended.
// True when the operation is complete.
bool call_over(CaptureBuilder* b, ThreadState* t, size_t line, NoteKind kind) {
    if (t->phase == Phase::Poll && t->op.chunks.empty() && t->per_call.errors_total != kReplyAttempts) {
        begin_skip(b, t, line,
                   at_line(line, "the question on " + thread_name(*t) + " shows " + std::to_string(t->per_call.errors_total) +
                                     " failed reads where the library makes " + std::to_string(kReplyAttempts) +
                                     (kind == NoteKind::Abandoned ? ": it stopped" : " (lines lost?)")),
                   kind);
        return false;
    }
    if (t->phase == Phase::Poll || (t->per_call.open_end && t->per_call.frame.empty() && mid_op(*t))) t->phase = Phase::Done;
    return t->phase == Phase::Done;
}

void poll_byte(ThreadState* t, const LogEntry& e, const ScanLine& l) {
    CapturedOp& op = t->op;
    bool gap = e.time_us >= 0 && t->per_call.last_byte_us >= 0 && e.time_us - t->per_call.last_byte_us > kChunkGapUs;
    int64_t window = e.time_us >= 0 && t->per_call.ref_us >= 0 ? (e.time_us - t->per_call.ref_us) / kAttemptUs : -1;
    if (window >= 0 ? window != t->per_call.last_window : !t->per_call.chunk_open) ++t->per_call.byte_attempts;
    t->per_call.last_window = window;
    if (!t->per_call.chunk_open || gap) {
        InChunk c;
        c.errors_before = t->per_call.errors;
        c.offset_us = e.time_us >= 0 && t->per_call.ref_us >= 0 ? e.time_us - t->per_call.ref_us : -1;
        op.chunks.push_back(c);
        t->per_call.errors = 0;
        t->per_call.chunk_open = true;
    }
    op.chunks.back().bytes.push_back(l.bytes[0]);
    t->per_call.last_byte_us = e.time_us;
    reply_stream_append(&t->per_call.stream, l.bytes, 1);
    Reply r;
    t->phase = reply_find(&t->per_call.stream, reply_min(op.sig), &r) ? Phase::Answer : Phase::Poll;
    // Bytes in the last attempt that make no reply: an attempt that read
    // logs no error, so the question may be over with this line. The last
    // attempt is told by the count, or by the time where the capture has
    // one (a loaded machine's attempts may read across their ends).
    bool last = t->per_call.errors_total + t->per_call.byte_attempts >= kReplyAttempts || window >= kReplyAttempts - 1;
    t->per_call.open_end = t->phase == Phase::Poll && last;
}

bool poll_error(CaptureBuilder* b, ThreadState* t, size_t line) {
    t->per_call.chunk_open = false;
    ++t->per_call.errors;
    ++t->per_call.errors_total;
    int attempts = t->per_call.errors_total + t->per_call.byte_attempts;
    if (attempts > kReplyAttempts) {
        damage(b, t, line, "more failed reads than the library's " + std::to_string(kReplyAttempts) +
                               " attempts (lines of two operations mixed?)");
        return false;
    }
    if (attempts == kReplyAttempts) t->phase = Phase::Done;
    return true;
}

// The scan data: the length line is logged once the line has been quiet;
// the first byte arrived that long plus the bytes' time on the line before.
void read_chunk(ThreadState* t, const LogEntry& e, int length) {
    InChunk c;
    c.errors_before = t->per_call.errors;
    if (e.time_us >= 0 && t->per_call.ref_us >= 0) {
        int64_t on_line = line_time_us(static_cast<size_t>(length));
        c.offset_us = e.time_us - t->per_call.ref_us - kScanQuietUs - on_line;
        if (c.offset_us < 0) c.offset_us = 0;
    }
    t->op.chunks.push_back(c);
    t->per_call.errors = 0;
}

// The line within the operation's current phase; false when it does not
// belong there.
bool in_phase(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    CapturedOp& op = t->op;
    bool own = t->per_call.sig_known && l.sig == op.sig;
    switch (t->phase) {
        case Phase::Prepare: {
            if (!own) return false;
            if (t->per_call.pre_left < 0) {
                // A query's "writelength", a free command's frame "length".
                bool query = op.sig == ScanSig::QueryData;
                int want = query ? static_cast<int>(std::to_string(op.number).size()) + 5
                                 : op.number + kCommandHeaderLen + 1;
                if (l.kind != (query ? LineKind::QueryWriteLen : LineKind::Length) || l.number != want ||
                    l.number > static_cast<int>(kCommandFrameMax)) {
                    return false;
                }
                if (add_line(b, t, e)) t->per_call.pre_left = l.number;
                return true;
            }
            if (l.kind != LineKind::Byte) return false;
            if (!add_line(b, t, e)) return true;
            t->per_call.frame.push_back(l.bytes[0]);
            if (--t->per_call.pre_left == 0) frame_done(b, t, e.line);
            return true;
        }
        case Phase::PreOpen:
            if (l.kind == LineKind::UartBaud) {
                if (add_line(b, t, e)) t->phase = Phase::Config;
                return true;
            }
            if (!own) return false;
            if (l.kind == LineKind::OpenFail || l.kind == LineKind::CfgFail ||
                (l.kind == LineKind::InvalidType && op.sig == ScanSig::TypeCheck)) {
                if (!add_line(b, t, e)) return true;
                if (l.kind == LineKind::OpenFail) op.shape = PortShape::Missing;
                if (l.kind == LineKind::CfgFail) op.shape = PortShape::NotTty;
                t->phase = Phase::Done;
                return true;
            }
            if (l.kind == LineKind::NoMemory) {
                damage(b, t, e.line, "the device ran out of memory; that cannot be replayed");
                return true;
            }
            if (l.kind == LineKind::HeldElsewhere || l.kind == LineKind::OnHeldPort || l.kind == LineKind::CallWaited ||
                l.kind == LineKind::CallBusy) {
                if (add_line(b, t, e)) held_port(t, l);
                return true;
            }
            return false;
        case Phase::Config:
            if (l.kind == LineKind::UartSummary) {
                if (add_line(b, t, e)) t->phase = Phase::Ready;
                return true;
            }
            if (l.kind != LineKind::CfgFail || (t->per_call.sig_known ? !own : !no_preparation(l.sig))) {
                return false;
            }
            if (add_line(b, t, e)) {
                op.sig = l.sig;
                t->per_call.sig_known = true;
                op.shape = PortShape::NotTty;
                t->phase = Phase::Done;
            }
            return true;
        case Phase::Ready:
            if (!t->per_call.sig_known) {
                if (l.sig == ScanSig::ReadData &&
                    (l.kind == LineKind::ReadError || l.kind == LineKind::Length ||
                     l.kind == LineKind::Byte || l.kind == LineKind::Dropped)) {
                    op.sig = l.sig;
                    t->per_call.sig_known = true;
                    t->phase = Phase::ReadPoll;
                    t->per_call.ref_us = op.end_us;
                    return in_phase(b, t, e, l);
                }
                if ((l.kind != LineKind::WriteOk && l.kind != LineKind::WriteFail) ||
                    !no_preparation(l.sig) || l.sig == ScanSig::ReadData) {
                    return false;
                }
                op.sig = l.sig;
                t->per_call.sig_known = true;
                own = true;
            }
            if (!own || (l.kind != LineKind::WriteOk && l.kind != LineKind::WriteFail)) return false;
            if (!add_line(b, t, e)) return true;
            op.flag = l.flag;
            op.flag_known = op.sig == ScanSig::OpenDev || op.sig == ScanSig::EnableType;
            if (l.kind == LineKind::WriteFail) op.shape = PortShape::WriteBlocked;
            t->per_call.ref_us = e.time_us;
            t->per_call.write_line = e.line;
            t->phase = scan_is_question(op.sig) ? Phase::Poll : Phase::Done;
            return true;
        case Phase::Poll:
        case Phase::Answer:
            if (!own) return false;
            if (t->phase == Phase::Answer) {
                bool more_bytes = l.kind == LineKind::Byte &&
                                  (op.sig == ScanSig::TypeCheck || e.trailing_blank);
                if (op.sig == ScanSig::TypeCheck && l.kind == LineKind::Enable) {
                    if (add_line(b, t, e)) t->phase = Phase::Done;
                    return true;
                }
                if (op.sig != ScanSig::TypeCheck && !more_bytes && l.kind != LineKind::ReplyError) {
                    if (add_line(b, t, e)) {
                        t->phase = Phase::Done;
                        t->per_call.continuation_left = kValueContinuations;
                    }
                    return true;
                }
            }
            if (l.kind == LineKind::Byte) {
                if (add_line(b, t, e)) poll_byte(t, e, l);
                return true;
            }
            // An answer line where the capture's bytes hold no reply that
            // today's library takes (an ACK turned NAK): the replay shows
            // the difference.
            if (t->phase == Phase::Poll && !op.chunks.empty() &&
                ((op.sig == ScanSig::TypeCheck && l.kind == LineKind::Enable) ||
                 (op.sig != ScanSig::TypeCheck && l.kind == LineKind::Other))) {
                if (add_line(b, t, e)) t->phase = Phase::Done;
                return true;
            }
            if (l.kind == LineKind::ReplyError) {
                if (add_line(b, t, e)) poll_error(b, t, e.line);
                return true;
            }
            // On a held port: its result line may follow.
            if (l.kind == LineKind::SNoAnswer && op.shape == PortShape::HeldHere && t->phase == Phase::Poll) {
                if (!add_line(b, t, e)) return true;
                // A port lost after the write ends the wait early.
                bool lost = false;
                for (const ThreadState& r : b->threads) lost = lost || (r.pid == t->pid && r.lost_line > t->per_call.write_line);
                if (e.time_us >= 0 && t->per_call.ref_us >= 0 && !lost) {
                    check_reply_time(&op, false, !op.chunks.empty(), e.time_us - t->per_call.ref_us, t->per_call.write_line, e.line);
                }
                t->phase = Phase::Answer;
                t->per_call.open_end = true;
                return true;
            }
            return false;
        case Phase::ReadPoll:
            if (!own) return false;
            if (l.kind == LineKind::ReadError) {
                if (!add_line(b, t, e)) return true;
                ++t->per_call.errors;
                if (++t->per_call.errors_total == kReadAttempts) t->phase = Phase::Done;
                return true;
            }
            if (l.kind == LineKind::Byte) {
                if (add_line(b, t, e)) t->per_call.frame.push_back(l.bytes[0]);
                return true;
            }
            if (l.kind == LineKind::Dropped) {
                if (l.number != static_cast<int>(t->per_call.frame.size())) return false;
                if (!add_line(b, t, e)) return true;
                InChunk c;
                c.bytes.swap(t->per_call.frame);
                c.errors_before = t->per_call.errors;
                c.tail = true;
                // Logged once the line had been quiet after its last byte.
                if (e.time_us >= 0 && t->per_call.ref_us >= 0) c.end_us = std::max<int64_t>(0, e.time_us - t->per_call.ref_us - kScanQuietUs);
                op.chunks.push_back(std::move(c));
                t->per_call.errors = 0;
                // The attempts that went by while the tail was read log
                // nothing: the log does not show where the read ends.
                t->per_call.open_end = true;
                return true;
            }
            if (l.kind == LineKind::Length) {
                if (!t->per_call.frame.empty() || l.number < 0 || l.number > static_cast<int>(kScanBufLen)) {
                    return false;
                }
                if (!add_line(b, t, e)) return true;
                read_chunk(t, e, l.number);
                t->per_call.pre_left = l.number;
                t->phase = l.number > 0 ? Phase::ReadBytes : Phase::Done;
                return true;
            }
            return false;
        case Phase::ReadBytes:
            if (!own || l.kind != LineKind::Byte) return false;
            if (!add_line(b, t, e)) return true;
            op.chunks.back().bytes.push_back(l.bytes[0]);
            if (--t->per_call.pre_left == 0) t->phase = Phase::Done;
            return true;
        default:
            return false;
    }
}


// Kept once per kind, whatever the process: the replay runs on its own
// system, where locks and watches work.
void device_line(CaptureBuilder* b, const LogEntry& e, LineKind kind) {
    for (const LogEntry& seen : b->device_lines) {
        ScanLine l;
        scan_classify_core(seen.message, &l);
        if (l.kind == kind) return;
    }
    b->device_lines.push_back(e);
}

// A wait for the port to be free logs one line, when it ends: the port
// free after so many ms (another process held it that long), or no port.
// A wait that timed out logs nothing.
void wait_free(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    // The process's complete operations go first, in the order they came.
    for (ThreadState& other : b->threads) {
        if (other.pid == t->pid && other.phase == Phase::Done) emit_op(b, &other);
    }
    if (mid_op(*t) || (l.kind != LineKind::SFree && l.kind != LineKind::SOpenFail)) {
        damage(b, t, e.line, not_expected(e));
        return;
    }
    // A replay brings about no port, not another failure of the open.
    if (l.kind == LineKind::SOpenFail && l.number != ENOENT) {
        damage(b, t, e.line, "errno " + std::to_string(l.number) + " cannot be brought about by a replay: " +
                                 quoted(e.message));
        return;
    }
    start_op(b, t, e, l);
    CapturedOp& op = t->op;
    op.sig_text = l.sig_text;
    op.fn = l.fn;
    op.shape = l.kind == LineKind::SFree ? PortShape::HeldByOther : PortShape::Missing;
    op.waited_ms = l.kind == LineKind::SFree ? l.number : 0;
    emit_op(b, t);
}

void on_core(CaptureBuilder* b, ThreadState* t, const LogEntry& e) {
    // The device's log keeps kLogPayloadMax bytes of an entry: its
    // priority, tag and text, each text ending in a zero byte.
    size_t payload = 1 + e.tag.size() + 1 + e.message.size() + (e.trailing_blank ? 1 : 0) + 1;
    if (payload >= kLogPayloadMax) {
        damage(b, t, e.line, "the message is cut at the log's payload limit of " + std::to_string(kLogPayloadMax) +
                                 " bytes: " + quoted(e.message));
        return;
    }
    ScanLine l;
    CoreClass cls = scan_classify_core(e.message, &l);
    if (cls == CoreClass::NotOurs) {
        // The rest of a text that held a line end.
        if (t->phase == Phase::CommandText && t->per_call.continuation_left-- > 0) {
            append_to_last(&t->op, e);
            std::string& texts = t->op.texts;
            ScanLine joined;
            std::string whole = texts.substr(t->op.lines.back().off, t->op.lines.back().len);
            if (scan_classify_core(whole, &joined) == CoreClass::Ours && joined.flag) {
                t->op.text = joined.text;
                t->op.number = joined.number;
                t->per_call.pre_left = -1;
                t->phase = Phase::Prepare;
            }
            return;
        }
        if (t->phase == Phase::Done && t->per_call.continuation_left-- > 0) {
            append_to_last(&t->op, e);
            return;
        }
        if (t->skipping || !t->started) {
            skip_inside(b, t, e);
            return;
        }
        damage(b, t, e.line, "not a line of this library's log (cut?): " + quoted(e.message));
        return;
    }
    if (cls == CoreClass::UnknownSig) {
        damage(b, t, e.line, "operation signature " + quoted(l.sig_text) + " is not known to this tool");
        return;
    }
    if (scan_is_device_line(l.kind)) {
        device_line(b, e, l.kind);
        return;
    }
    if (l.fn == SessionFn::WaitFree) {
        wait_free(b, t, e, l);
        return;
    }
    t->per_call.continuation_left = 0;
    if (l.sig == ScanSig::Session) {
        // A per-call operation that may still take lines has ended.
        if (call_over(b, t, e.line, NoteKind::Abandoned)) emit_op(b, t);
    }
    if (l.sig == ScanSig::Session || t->phase == Phase::Session) {
        on_session(b, t, e, l);
        if (l.sig == ScanSig::Session) return;
    }
    if (t->phase == Phase::Done) emit_op(b, t);
    if (t->phase != Phase::None) {
        if (in_phase(b, t, e, l)) return;
        if (!is_start(l)) {
            bool bytes_due = (t->phase == Phase::Prepare && t->per_call.pre_left > 0) || t->phase == Phase::Poll ||
                             t->phase == Phase::ReadPoll || t->phase == Phase::ReadBytes;
            bool byte_like = l.rest.size() <= 3 && l.rest.find(' ') == std::string::npos;
            damage(b, t, e.line, bytes_due && byte_like
                                     ? "a byte line that is not two hex digits: " + quoted(e.message)
                                     : not_expected(e));
            return;
        }
        if (call_over(b, t, e.line, NoteKind::Abandoned)) {
            emit_op(b, t);
        } else if (mid_op(*t)) {
            begin_skip(b, t, e.line,
                       at_line(e.line, "a new operation begins on " + thread_name(*t) +
                                           " before its operation ended (its lines stopped)"),
                       NoteKind::Abandoned);
        }
    }
    if (is_start(l)) {
        start_op(b, t, e, l);
    } else if (t->skipping || !t->started) {
        skip_inside(b, t, e);
    } else {
        damage(b, t, e.line, not_expected(e));
    }
}

void on_bridge(CaptureBuilder* b, ThreadState* t, const LogEntry& e) {
    BridgeLine bl;
    scan_classify_bridge(e.message, &bl);
    t->bridged = true;
    if (bl.method < 0 || bl.kind == BridgeKind::Other) return;
    if (t->phase == Phase::Session) end_session_call(b, t, t->op.last_line);
    call_over(b, t, e.line, NoteKind::Damaged);
    if (bl.fn != SessionFn::None) {
        // A ScanPortNative call: it names the session call just ended. One
        // with no session call before it logged nothing of its own (a
        // wait, a closed handle, a null array) and is not replayed.
        if (t->phase == Phase::Done && t->op.sig == ScanSig::Session && t->op.fn == bl.fn) {
            t->op.java = scan_bridge_method(bl.method);
            t->op.java_result = bl.rest;
        }
        if (t->phase == Phase::Done) emit_op(b, t);
        return;
    }
    if (bl.kind == BridgeKind::Str) {
        if (t->phase == Phase::Done) emit_op(b, t);
        if (mid_op(*t)) damage(b, t, e.line, "a Java call begins inside another operation");
        t->pending_java = scan_bridge_method(bl.method);
        return;
    }
    bool flag = false;
    ScanSig core = scan_bridge_core(bl.method, &flag);
    if (t->phase == Phase::Done && core == t->op.sig) {
        t->op.java = scan_bridge_method(bl.method);
        t->op.java_result = bl.rest;
        if (!t->op.flag_known) t->op.flag = flag;
        emit_op(b, t);
    } else if (t->phase == Phase::Done) {
        emit_op(b, t);
    } else if (mid_op(*t)) {
        damage(b, t, e.line, "the Java call returned before its operation's lines ended");
    }
    t->pending_java.clear();
}

// A line of the system saying that a process's log or the process itself
// stopped: which process (0: none), and why.
int stop_notice(CaptureBuilder* b, const LogEntry& e, std::string* why) {
    const std::string& m = e.message;
    if (e.tag == "chatty" && m.find(" expire ") != std::string::npos) {
        *why = "the log daemon dropped lines";
        return e.pid;
    }
    if (e.tag == "liblog") {
        *why = "liblog dropped messages";
        return e.pid;
    }
    static const char kFatal[] = "Fatal signal";
    if (e.tag == "libc" && m.compare(0, sizeof kFatal - 1, kFatal) == 0) {
        *why = "the process crashed";
        return e.pid;
    }
    if (e.tag == "DEBUG" || e.tag == "crash_dump" || e.tag == "tombstoned") {
        // A crash report: "pid: 1234, tid: 1240, name: ..." names the
        // process, a later frame the library.
        static const char kPid[] = "pid: ";
        const size_t skip = sizeof kPid - 1;
        size_t at = m.find(kPid);
        size_t comma = at == std::string::npos ? at : m.find(',', at);
        int pid = 0;
        if (comma != std::string::npos && scan_parse_int(m.data() + at + skip, comma - at - skip, &pid)) {
            b->crash_pid = pid;
        }
        *why = "a crash report names libscanjni.so";
        return m.find("libscanjni.so") != std::string::npos ? b->crash_pid : 0;
    }
    static const char kDied[] = "(pid ";
    size_t at = m.find(kDied);
    size_t end = at == std::string::npos ? at : m.find(") has died", at);
    int pid = 0;
    if (end != std::string::npos &&
        scan_parse_int(m.data() + at + sizeof kDied - 1, end - at - (sizeof kDied - 1), &pid)) {
        *why = "the process died";
        return pid;
    }
    return 0;
}

// The operations in progress in the process stopped here.
void on_stop_notice(CaptureBuilder* b, const LogEntry& e, int pid, const std::string& why) {
    std::string reason = at_line(e.line, why + ": " + quoted(e.message));
    bool ours = false, stopped = false;
    for (ThreadState& t : b->threads) {
        if (t.pid != pid) continue;
        ours = true;
        if (!mid_op(t)) continue;
        stopped = true;
        begin_skip(b, &t, e.line, reason + "; the operation on " + thread_name(t) + " stopped",
                   NoteKind::Abandoned);
    }
    if (!ours || stopped) return;
    CaptureNote n;
    n.first_line = n.last_line = e.line;
    n.lines = 1;
    n.pid = pid;
    bool lost_lines = why.find("dropped") != std::string::npos;
    n.reason = reason + (lost_lines ? " (whole operations may be missing)" : "");
    n.kind = lost_lines ? NoteKind::Damaged : NoteKind::Abandoned;
    if (lost_lines || e.message.find("libscanjni.so") != std::string::npos) push_note(b, n);
}

// The session's reader logs what the line brought as its own, except the
// lines that belong to a call of its process in progress.
ThreadState* reader_target(CaptureBuilder* b, ThreadState* r, const LogEntry& e) {
    if (!scan_is_reader(e.message)) return r;
    ThreadState* to = r->routed ? find_thread(b, r->pid, r->route_tid) : nullptr;
    if (to == nullptr || to->session.hex_left == 0) {
        to = nullptr;
        ScanLine l;
        scan_classify_core(e.message, &l);
        for (ThreadState& c : b->threads) {
            if (&c != r && c.pid == r->pid && takes_reader_line(c, l)) to = &c;
        }
    }
    r->routed = to != nullptr;
    if (to == nullptr) return r;
    r->route_tid = to->tid;
    return to;
}

// The log daemon's "identical N lines": N more of the line before it from
// the same thread (the daemon keeps the first and prints the count), at
// times spread between that line and the mark; 0 for any other line.
size_t identical_count(const LogEntry& e) {
    static const char kIdentical[] = " identical ";
    size_t at = e.tag == "chatty" ? e.message.find(kIdentical) : std::string::npos;
    if (at == std::string::npos) return 0;
    const char* p = e.message.c_str() + at + sizeof kIdentical - 1;
    size_t digits = strspn(p, "0123456789");
    int n = 0;
    if (strncmp(p + digits, " line", 5) != 0 || !scan_parse_int(p, digits, &n) || n <= 0) return 0;
    // Past an operation's most lines the copies only fill a skip.
    return std::min(static_cast<size_t>(n), kCaptureMaxOpLines + 1);
}

void feed_one(CaptureBuilder* b, const LogEntry& e);

void expand_identical(CaptureBuilder* b, const LogEntry& mark, size_t n) {
    // Without thread ids: the process's thread that logged last.
    ThreadState* t = mark.tid >= 0 ? find_thread(b, mark.pid, mark.tid) : nullptr;
    for (ThreadState& any : b->threads) {
        if (mark.tid < 0 && any.pid == mark.pid && (t == nullptr || any.last.line > t->last.line)) t = &any;
    }
    if (t == nullptr || t->last.line == 0) return;
    LogEntry copy = t->last;
    int64_t from_us = copy.time_us;
    bool timed = from_us >= 0 && mark.time_us >= from_us;
    for (size_t i = 1; i <= n; ++i) {
        copy.line = mark.line;
        if (timed) copy.time_us = from_us + (mark.time_us - from_us) * static_cast<int64_t>(i) / static_cast<int64_t>(n + 1);
        feed_one(b, copy);
    }
}

void feed_one(CaptureBuilder* b, const LogEntry& e) {
    b->last_line = e.line;
    if (e.time_us >= 0) b->end_time_us = e.time_us;
    if (b->first_time_us < 0) b->first_time_us = e.time_us;
    std::string why;
    int stopped = stop_notice(b, e, &why);
    if (stopped > 0) {
        on_stop_notice(b, e, stopped, why);
        return;
    }
    bool core = e.tag == kCoreTag;
    if (!core && e.tag != kBridgeTag) return;
    if (!b->saw_scanner) b->first_scanner_line = e.line;
    b->saw_scanner = true;
    b->last_scanner_line = e.line;
    // Without thread ids the session's reader is still a thread of its
    // own, told by its signature: its scans come in the middle of a
    // question's exchange.
    static const char kWaitSig[] = SIG_S_WAIT_FREE;
    int tid = e.tid >= 0 ? e.tid
              : scan_is_reader(e.message) ? kCaptureReaderNoTid
              : e.message.compare(0, sizeof kWaitSig - 1, kWaitSig) == 0 ? kCaptureWaitNoTid
              : e.tid;
    ThreadState* t = find_thread(b, e.pid, tid);
    if (t == nullptr) {
        // A thread with no operation open makes room: processes that made
        // one call each come and go without end.
        for (size_t i = 0; b->threads.size() >= kCaptureMaxThreads && i < b->threads.size(); ++i) {
            if (b->threads[i].phase != Phase::None) continue;
            end_skip(b, &b->threads[i]);
            b->threads.erase(b->threads.begin() + static_cast<long>(i));
        }
        if (b->threads.size() >= kCaptureMaxThreads) {
            CaptureNote n;
            n.first_line = n.last_line = e.line;
            n.lines = 1;
            n.reason = at_line(e.line, "more than " + std::to_string(kCaptureMaxThreads) +
                                           " threads log; this one's lines are skipped");
            push_note(b, n);
            return;
        }
        b->threads.emplace_back();
        t = &b->threads.back();
        t->pid = e.pid;
        t->tid = tid;
    }
    t->last = e;
    if (core) on_core(b, reader_target(b, t, e), e);
    else on_bridge(b, t, e);
    if (e.time_us >= 0) b->last_time_us = e.time_us;
    // Complete operations whose bridge line has not come go out without it.
    for (ThreadState& other : b->threads) {
        if (other.phase != Phase::Done) continue;
        if (other.done_line == 0) other.done_line = e.line;
        if (other.done_line + kCaptureBridgeWait < e.line) emit_op(b, &other);
    }
}

}  // namespace

void capture_feed(CaptureBuilder* b, const LogEntry& e) {
    size_t identical = identical_count(e);
    if (identical > 0) {
        expand_identical(b, e, identical);
        return;
    }
    feed_one(b, e);
}

void capture_damaged_line(CaptureBuilder* b, size_t line) {
    std::string reason = at_line(line, "a cut or damaged line of the scanner's log");
    bool any = false;
    for (ThreadState& t : b->threads) {
        if (!mid_op(t)) continue;
        begin_skip(b, &t, line, reason, NoteKind::Damaged);
        any = true;
    }
    if (any) return;
    CaptureNote n;
    n.first_line = n.last_line = line;
    n.lines = 1;
    n.reason = reason;
    push_note(b, n);
}

void capture_finish(CaptureBuilder* b) {
    for (ThreadState& t : b->threads) {
        if (t.phase == Phase::Session && t.session.hex_left == 0 && (t.session.call_ended || t.session.may_end)) {
            end_session_call(b, &t, t.op.last_line);
        }
        bool timed = t.op.end_us >= 0 && b->end_time_us >= 0;
        int64_t after_us = timed ? b->end_time_us - t.op.end_us : 0;
        // A read after a dropped tail is over once its window has gone by.
        bool window_over = !timed || t.per_call.ref_us < 0 ||
                           b->end_time_us - t.per_call.ref_us >= static_cast<int64_t>(kReadWindowMs) * 1000 - kAttemptUs;
        if (t.per_call.open_end && t.per_call.frame.empty() && mid_op(t) && (t.phase != Phase::ReadPoll || window_over)) {
            emit_op(b, &t);
        } else if (t.phase == Phase::Done) {
            emit_op(b, &t);
        } else if (mid_op(t)) {
            // Cut by the capture's last line, or stopped while the capture
            // went on for longer than any operation takes.
            // A question logs a line every attempt: one silent for
            // several attempts while others log has stopped (a port that
            // hung up ends it without a line).
            // A scan data read logs every attempt too, until a message
            // comes, which it reads to its end before it logs again.
            bool polling = t.phase == Phase::Poll || t.phase == Phase::Answer;
            bool reading = t.phase == Phase::ReadPoll && !t.per_call.open_end;
            int64_t longest = polling ? kPollStopUs : reading ? kReadSilenceUs : kCaptureLongestCallUs;
            bool cut = timed ? after_us <= longest
                             : b->last_scanner_line <= t.op.last_line + kCaptureBridgeWait;
            char shown[64];
            snprintf(shown, sizeof shown, "%.1f s", static_cast<double>(after_us) / 1e6);
            drop_op(&t,
                    cut ? at_line(t.op.first_line, "the capture ends inside this operation")
                        : at_line(t.op.last_line, "the operation on " + thread_name(t) +
                                                      " stopped here, and the capture goes on" +
                                                      (timed ? " for " + std::string(shown) : "")),
                    cut ? NoteKind::Cut : NoteKind::Abandoned);
        }
        end_skip(b, &t);
    }
}

bool capture_next(CaptureBuilder* b, CaptureEvent* out) {
    if (b->events.empty()) return false;
    for (const ThreadState& t : b->threads) {
        if (t.phase == Phase::Done && t.done_line != 0 && t.op.last_line < b->events.front().done_at) return false;
    }
    *out = std::move(b->events.front());
    b->events.pop_front();
    return true;
}

std::string capture_op_text(const CapturedOp& op, size_t i) {
    const ExpectedLine& l = op.lines[i];
    return op.texts.substr(l.off, l.len);
}

namespace {

// The per-call function whose arguments a session function takes.
ScanSig arguments_like(SessionFn fn) {
    switch (fn) {
        case SessionFn::OpenDev: return ScanSig::OpenDev;
        case SessionFn::EnableType: return ScanSig::EnableType;
        case SessionFn::SetTimeout: return ScanSig::SetTimeout;
        case SessionFn::SetCommand: return ScanSig::SetCommand;
        case SessionFn::CheckType: return ScanSig::TypeCheck;
        case SessionFn::Query: return ScanSig::QueryData;
        default: return ScanSig::Uart;
    }
}

}  // namespace

std::string capture_op_call(const CapturedOp& op) {
    bool session = op.sig == ScanSig::Session;
    // A session call shows "?" for what its log does not tell (the frame
    // of a write that failed); a per-call operation's log tells all but
    // the type index of a valid enable or disable.
    const char* flag = session && !op.flag_known ? "?" : op.flag ? "true" : "false";
    std::string number = session && !op.number_known ? "?" : std::to_string(op.number);
    std::string args;
    switch (session ? arguments_like(op.fn) : op.sig) {
        case ScanSig::OpenDev: args = flag; break;
        case ScanSig::EnableType: args = std::string(flag) + ", " + (op.number_known ? number : "?"); break;
        case ScanSig::SetTimeout:
        case ScanSig::TypeCheck:
        case ScanSig::QueryData: args = number; break;
        case ScanSig::SetCommand:
            if (op.null_text) {
                args = "NULL";
                break;
            }
            if (session && op.written.empty() && op.text.empty()) {
                args = "?";
                break;
            }
            args = "\"";
            for (unsigned char c : op.text) {
                char hex[8];
                if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    args += hex;
                } else {
                    args += static_cast<char>(c);
                }
            }
            args += "\"";
            break;
        default: break;
    }
    return std::string(session ? scan_session_call(op.fn) : scan_sig_call(op.sig)) + "(" + args + ")";
}

std::string capture_normalize(const std::string& text) {
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        size_t stop = end == std::string::npos ? text.size() : end;
        size_t kept = stop;
        while (kept > start && (text[kept - 1] == ' ' || text[kept - 1] == '\t' ||
                                text[kept - 1] == '\r')) {
            --kept;
        }
        if (start > 0) out += '\n';
        out.append(text, start, kept - start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::vector<int64_t> capture_chunk_times(const CapturedOp& op, int64_t resumed_us) {
    // Kept from an attempt's ends. The replay can only send late (it sees
    // the reference line after the library wrote it, and a loaded machine
    // wakes it later still), so more is kept from the end.
    constexpr int64_t kEarlyUs = 1500;
    constexpr int64_t kLateUs = 4000;
    std::vector<int64_t> out;
    int64_t free_us = 0;     // the previous chunk has left the line
    int64_t last_attempt = -1;
    int64_t resume_us = -1;  // after a dropped tail: when the read waits again
    for (const InChunk& c : op.chunks) {
        int64_t lo, hi;
        if (c.tail) {
            // At the flush; after the attempts that a loaded machine's
            // first reads missed it in.
            lo = hi = c.errors_before > 0 ? c.errors_before * kAttemptUs + kEarlyUs : 0;
        } else if (resume_us >= 0) {
            // The attempts whose time went by while the tail was read are
            // skipped; the first one that waits ends at the next deadline.
            int64_t first_deadline = (resume_us / kAttemptUs + 1) * kAttemptUs;
            lo = (c.errors_before == 0 ? resume_us : first_deadline + (c.errors_before - 1) * kAttemptUs) +
                 kEarlyUs;
            hi = first_deadline + c.errors_before * kAttemptUs - kLateUs;
        } else if (last_attempt < 0) {
            lo = c.errors_before * kAttemptUs + kEarlyUs;
            hi = (c.errors_before + 1) * kAttemptUs - kLateUs;
        } else if (c.errors_before > 0) {
            lo = (last_attempt + 1 + c.errors_before) * kAttemptUs + kEarlyUs;
            hi = (last_attempt + 2 + c.errors_before) * kAttemptUs - kLateUs;
        } else {
            // Read in the same attempt or the next: no failed read between.
            lo = free_us;
            hi = (last_attempt + 2) * kAttemptUs - kLateUs;
        }
        int64_t target = c.offset_us >= 0 ? c.offset_us : (lo + hi) / 2;
        if (target > hi) target = hi;
        if (target < lo) target = lo;
        if (target < free_us) target = free_us;
        size_t n = c.bytes.empty() ? 1 : c.bytes.size();
        free_us = std::max(c.end_us, target + static_cast<int64_t>(line_time_us(n)));
        last_attempt = free_us / kAttemptUs;
        // A tail that the replay could not stretch to the capture's end
        // (it puts no long pause in it) ends earlier: the read waits again
        // from there, as the replayed drop line shows.
        resume_us = free_us + kBatchUs + kScanQuietUs;
        if (resumed_us >= 0) resume_us = std::min(resume_us, resumed_us);
        if (!c.tail) resume_us = -1;
        out.push_back(target);
    }
    return out;
}
