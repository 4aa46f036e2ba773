// The held-port session's log rebuilt into one operation per call: which
// lines a call of each function logs and in which order, the engine's
// messages it read and where it read them, how the line was lost, and the
// call's arguments from the frame it wrote or from the line that refused
// them.
//
// A call's lines (the session's functions are told apart by their
// signatures; a call of the same function ends where its last line
// stands):
//   open        [line settings] "open ... fd" [the reader's tail of the
//               first message: "dropped" and "<", a buffer at a time]
//               or "port busy!" / "open device fail!" / "set uart parm fail!"
//   a write     "write" and ">" lines, or "write fail!"
//   a question  "write" and ">" lines the moment its frame has left, then,
//               once it has ended, its answer ("reply" and "<" lines,
//               then "answer") or "no answer"; or nothing more when the
//               port hung up after the write (the reader's "port hung up"
//               is the question's end: it returns the port's loss)
//   a wait      nothing (a scan handed out, a time out, a wake)
//   close       "close fd"
//   the reader  one message on its own thread: a scan (and "no room" for
//               the oldest queued), a late reply; or the loss of the line
// Any call but the open and the close may be refused ("no open session!",
// an argument).
#include <errno.h>
#include <algorithm>
#include <cerrno>

#include "capture_steps.h"
#include "frames.h"

namespace capture_steps {

namespace {

// Failures a replay brings about, by their errno: no device, a device that
// is no terminal, a line that takes no bytes.
constexpr int kNoDeviceErrno = ENOENT;
constexpr int kNoTerminalErrno = ENOTTY;
constexpr int kBlockedErrno = EAGAIN;
constexpr int kTimeoutMin = -999;
constexpr int kTimeoutMax = 9999;
constexpr size_t kTimeoutTextLen = 5;  // timeout_text's four characters and a zero
constexpr size_t kQueryTextLen = 16;   // query_text's buffer

bool counted(LineKind k) {
    return k == LineKind::SWrite || k == LineKind::SReply || k == LineKind::SScan || k == LineKind::Dropped;
}

bool lost(LineKind k) { return k == LineKind::SHungUp || k == LineKind::SReadFail || k == LineKind::SPollFail; }

// The one line of a call refused before it touched the line.
bool refusal_of(SessionFn fn, LineKind k) {
    switch (k) {
        case LineKind::SNoSession: return fn != SessionFn::Open && fn != SessionFn::Close;
        case LineKind::InvalidType: return fn == SessionFn::EnableType || fn == SessionFn::CheckType;
        case LineKind::TimeoutRange: return fn == SessionFn::SetTimeout;
        case LineKind::CommandNull:
        case LineKind::CommandLong: return fn == SessionFn::SetCommand;
        case LineKind::SNoBuffer:
            return fn == SessionFn::GetTimeout || fn == SessionFn::Query || fn == SessionFn::WaitScan;
        default: return false;
    }
}

// Whether the line goes on with the thread's call, and what it tells of
// the call's end (for a byte count: once its hex lines are in).
bool fits(const ThreadState& t, const ScanLine& l, CallEnd* end) {
    SessionFn fn = t.op.fn;
    LineKind k = l.kind;
    bool fresh = t.session.call_lines == 0;
    *end = CallEnd::NotYet;
    if (t.session.call_ended) return false;
    if (fresh && refusal_of(fn, k)) {
        *end = CallEnd::Here;
        return true;
    }
    // The reader drops the oldest scans queued to make room for its scan.
    if (k == LineKind::SNoRoom) {
        *end = CallEnd::Maybe;
        return fn == SessionFn::Reader && !t.op.chunks.empty();
    }
    switch (fn) {
        case SessionFn::Open:
            if (t.session.stage != SessionStage::AfterOpen) {
                *end = k == LineKind::SOpen ? CallEnd::Maybe : CallEnd::Here;
                return fresh && (k == LineKind::SOpen || k == LineKind::SBusy || k == LineKind::SOpenFail ||
                                 k == LineKind::SCfgFail);
            }
            *end = lost(k) ? CallEnd::Here : CallEnd::Maybe;
            return lost(k) || k == LineKind::Dropped;
        case SessionFn::Close:
            *end = CallEnd::Here;
            return fresh && k == LineKind::SClose;
        case SessionFn::WaitScan: return false;  // only a refusal
        case SessionFn::Reader:
            // The session's reader between calls: one message (a "no room"
            // may follow it), or the loss of the line.
            *end = lost(k) ? CallEnd::Here : CallEnd::Maybe;
            return lost(k) || (t.op.chunks.empty() && (k == LineKind::SScan || k == LineKind::SReply ||
                                                       k == LineKind::Dropped));
        default:  // the writes and the questions
            break;
    }
    if (k == LineKind::SWriteFail || k == LineKind::SAnswer || k == LineKind::SNoAnswer) {
        *end = CallEnd::Here;
        if (k == LineKind::SWriteFail) return t.session.stage == SessionStage::BeforeCall;
        return t.session.stage == SessionStage::AfterWrite;
    }
    if (k == LineKind::SWrite) {
        *end = scan_session_question(fn) ? CallEnd::NotYet : CallEnd::Here;
        return t.session.stage == SessionStage::BeforeCall;
    }
    // The port lost after the frame (the reader's line, routed here).
    if (lost(k)) {
        *end = CallEnd::Here;
        return t.session.stage == SessionStage::AfterWrite && t.op.chunks.empty();
    }
    // A question's answer, the one message it logs.
    return k == LineKind::SReply && t.session.stage == SessionStage::AfterWrite && t.op.chunks.empty();
}

void end_or_not(CaptureBuilder* b, ThreadState* t, CallEnd end, size_t line) {
    if (end == CallEnd::Here) {
        t->session.call_ended = true;
        end_session_call(b, t, line);
        return;
    }
    t->session.may_end = end == CallEnd::Maybe;
}

// The call can be replayed only where the replay can bring its failure
// about: notes the line otherwise.
void expect_errno(ThreadState* t, const LogEntry& e, const ScanLine& l, int errno_value) {
    if (l.number == errno_value) return;
    t->session.unreplayable = at_line(e.line, "errno " + std::to_string(l.number) +
                                          " cannot be brought about by a replay: " + quoted(e.message));
}

// Adds a line that fits the call and takes what it says.
void take(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l, CallEnd end) {
    CapturedOp& op = t->op;
    bool block = counted(l.kind);
    int most = l.kind == LineKind::SWrite ? static_cast<int>(kCommandFrameMax) : kCaptureMaxSessionBytes;
    if (block && (l.number < 1 || l.number > most)) {
        damage(b, t, e.line, "a byte count of " + std::to_string(l.number) + " is not believable");
        return;
    }
    if (l.kind == LineKind::CommandLong && (l.number < 0 || l.number > kCaptureMaxCommandText)) {
        damage(b, t, e.line, "a command length of " + std::to_string(l.number) + " is past what this tool rebuilds");
        return;
    }
    if (!add_line(b, t, e)) return;
    ++t->session.call_lines;
    switch (l.kind) {
        case LineKind::SOpen:
            op.number = l.number;
            t->session.stage = SessionStage::AfterOpen;
            break;
        case LineKind::SClose: op.number = l.number; break;
        case LineKind::SBusy: op.busy_errno = l.number; break;
        case LineKind::SOpenFail:
            op.shape = PortShape::Missing;
            expect_errno(t, e, l, kNoDeviceErrno);
            break;
        case LineKind::SCfgFail:
            op.shape = PortShape::NotTty;
            expect_errno(t, e, l, kNoTerminalErrno);
            break;
        case LineKind::SWriteFail:
            op.shape = PortShape::WriteBlocked;
            expect_errno(t, e, l, kBlockedErrno);
            break;
        case LineKind::SReadFail:
        case LineKind::SPollFail:
            t->session.unreplayable = at_line(e.line, "a replay cannot make a read or a poll fail: " + quoted(e.message));
            break;
        case LineKind::SHungUp:
            op.hangup = true;
            t->lost_line = e.line;
            break;
        case LineKind::SNoRoom: ++op.no_room; break;
        case LineKind::SNoSession: op.no_session = true; break;
        case LineKind::SNoBuffer: op.no_buffer = true; break;
        case LineKind::InvalidType:
        case LineKind::TimeoutRange:
            op.number = l.number;
            op.number_known = true;
            break;
        case LineKind::CommandNull: op.null_text = true; break;
        case LineKind::CommandLong: op.text.assign(static_cast<size_t>(l.number), 'x'); break;
        case LineKind::SNoAnswer:
        case LineKind::SReply:
            // The budget runs from the write, whose line has its time.
            if (e.time_us >= 0 && t->session.write_us >= 0) {
                check_reply_time(&op, l.kind == LineKind::SReply, !op.chunks.empty(), e.time_us - t->session.write_us,
                                 t->session.write_line, e.line);
            }
            break;
        default: break;
    }
    if (!block) {
        end_or_not(b, t, end, e.line);
        return;
    }
    t->session.hex_left = l.number;
    t->session.hex_fn = l.fn;
    t->session.hex_out = l.kind == LineKind::SWrite;
    t->session.end_after_block = end;
    if (t->session.hex_out) {
        op.written.emplace_back();
        t->session.write_line = e.line;
        t->session.write_us = e.time_us;
        if (scan_session_question(op.fn)) t->session.stage = SessionStage::AfterWrite;
        return;
    }
    InChunk c;
    c.reply = l.kind == LineKind::SReply;
    c.tail = l.kind == LineKind::Dropped;
    c.stage = t->session.stage;
    op.chunks.push_back(std::move(c));
}

void reset_call(ThreadState* t, SessionFn fn) {
    t->session = SessionCallReading();
    // What a per-call operation before it left (one that could end at any
    // line) is not the session call's.
    t->per_call = PerCallReading();
    if (fn == SessionFn::WaitScan || fn == SessionFn::Reader) t->session.stage = SessionStage::InCall;
}

bool same_bytes(const std::vector<uint8_t>& frame, const unsigned char* p, size_t n) {
    return frame.size() == n && std::equal(frame.begin(), frame.end(), p);
}

// The type index and kind whose frame this is.
bool type_of(const std::vector<uint8_t>& frame, const TypeFrameKind* kinds, size_t nkinds, CapturedOp* op) {
    unsigned char built[kTypeFrameLen];
    for (size_t k = 0; k < nkinds; ++k) {
        for (int type = 0; type < kTypeCount; ++type) {
            if (!same_bytes(frame, built, type_frame(kinds[k], type, built))) continue;
            op->number = type;
            op->number_known = true;
            op->flag = kinds[k] == TYPE_ENABLE;
            op->flag_known = true;
            return true;
        }
    }
    return false;
}

// The call's arguments from the frame it wrote; false when the frame is
// none that the function writes.
bool args_from_frame(CapturedOp* op) {
    if (op->written.empty()) return true;
    const std::vector<uint8_t>& f = op->written.front();
    unsigned char built[kCommandFrameMax];
    switch (op->fn) {
        case SessionFn::OpenDev:
            op->flag = same_bytes(f, kOpenFrame, kControlFrameLen);
            op->flag_known = true;
            return op->flag || same_bytes(f, kCloseFrame, kControlFrameLen);
        case SessionFn::EnableType: {
            static const TypeFrameKind kKinds[] = {TYPE_ENABLE, TYPE_DISABLE};
            return type_of(f, kKinds, sizeof kKinds / sizeof kKinds[0], op);
        }
        case SessionFn::CheckType: {
            static const TypeFrameKind kKinds[] = {TYPE_CHECK};
            return type_of(f, kKinds, sizeof kKinds / sizeof kKinds[0], op);
        }
        case SessionFn::SetTimeout:
            // Every timeout's frame, until one is this one.
            for (int v = kTimeoutMin; v <= kTimeoutMax; ++v) {
                char text[kTimeoutTextLen];
                timeout_text(v, text);
                timeout_frame(text, built);
                if (!same_bytes(f, built, kTimeoutFrameLen)) continue;
                op->number = v;
                op->number_known = true;
                return true;
            }
            return false;
        case SessionFn::SetCommand: {
            if (f.size() < kQuestionFrameOverhead - 1 || f.size() > kCommandFrameMax) return false;
            std::string text(f.begin() + kQuestionHeaderLen, f.end() - 1);
            op->text = text;
            return text.find('\0') == std::string::npos &&
                   same_bytes(f, built, command_frame(text.data(), text.size(), built));
        }
        case SessionFn::Profile: return same_bytes(f, kProfileFrame, kProfileFrameLen);
        case SessionFn::GetTimeout: return same_bytes(f, kTimeoutQueryFrame, kTimeoutQueryFrameLen);
        case SessionFn::Query: {
            int n = 0;
            if (f.size() <= kQuestionFrameOverhead || f.size() > kQueryFrameMax ||
                !scan_parse_int(reinterpret_cast<const char*>(f.data()) + kQuestionHeaderLen,
                                f.size() - kQuestionFrameOverhead, &n)) {
                return false;
            }
            char text[kQueryTextLen];
            size_t len = query_text(n, text);
            op->number = n;
            op->number_known = true;
            return same_bytes(f, built, query_frame(text, len, built));
        }
        default: return false;
    }
}

void hex_line(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    CapturedOp& op = t->op;
    if (l.sig != ScanSig::Session || l.fn != t->session.hex_fn || l.kind != LineKind::SHex || l.flag != t->session.hex_out ||
        static_cast<int>(l.nbytes) > t->session.hex_left) {
        damage(b, t, e.line, "a hex line of the session's log expected, " + std::to_string(t->session.hex_left) +
                                 " bytes still due: " + quoted(e.message));
        return;
    }
    if (!add_line(b, t, e)) return;
    std::vector<uint8_t>& to = t->session.hex_out ? op.written.back() : op.chunks.back().bytes;
    to.insert(to.end(), l.bytes, l.bytes + l.nbytes);
    t->session.hex_left -= static_cast<int>(l.nbytes);
    if (t->session.hex_left > 0) return;
    if (t->session.hex_out && !args_from_frame(&op)) {
        drop_op(t, at_line(t->session.write_line, "the frame written is none that " +
                                                std::string(scan_session_call(op.fn)) + " writes"),
                NoteKind::Damaged);
        return;
    }
    end_or_not(b, t, t->session.end_after_block, e.line);
}

void begin_call(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    t->op = CapturedOp();
    t->op.fn = l.fn;
    reset_call(t, l.fn);
    CallEnd end;
    if (!fits(*t, l, &end)) {
        t->op = CapturedOp();
        if (t->skipping || !t->started) {
            skip_inside(b, t, e);
        } else {
            damage(b, t, e.line, not_expected(e));
        }
        return;
    }
    // After a part skipped, this may be the rest of a call: the note of
    // that part stays open until this call turns out whole.
    t->first_call = !t->started || t->skipping;
    t->started = true;
    t->phase = Phase::Session;
    CapturedOp& op = t->op;
    op.sig = ScanSig::Session;
    op.sig_text = l.sig_text;
    op_begins(b, t, e);
    take(b, t, e, l, end);
}

}  // namespace

bool takes_reader_line(const ThreadState& t, const ScanLine& l) {
    if (t.phase != Phase::Session || t.session.call_ended) return false;
    if (t.op.fn == SessionFn::Open) {
        return t.session.stage == SessionStage::AfterOpen && (l.kind == LineKind::Dropped || l.kind == LineKind::SHungUp);
    }
    return scan_session_question(t.op.fn) && t.session.stage == SessionStage::AfterWrite && t.session.hex_left == 0 &&
           t.op.chunks.empty() && lost(l.kind);
}

void end_session_call(CaptureBuilder* b, ThreadState* t, size_t line) {
    CapturedOp& op = t->op;
    std::string reason;
    NoteKind kind = NoteKind::Damaged;
    if (t->session.hex_left > 0) {
        reason = at_line(line, std::to_string(t->session.hex_left) + " announced bytes of the session's log are missing");
    } else if (!t->session.call_ended && !t->session.may_end) {
        kind = t->first_call ? NoteKind::Cut : NoteKind::Damaged;
        reason = kind == NoteKind::Damaged ? at_line(line, "the lines of " + capture_op_call(op) + " end before the call does")
                         : at_line(op.first_line, "the capture starts inside this operation");
    } else if (!t->session.unreplayable.empty()) {
        reason = t->session.unreplayable;
    } else {
        // Whole. In a process that logs the bridge's lines (a Java app) it
        // waits for its own, as an operation of the per-call functions does.
        end_skip(b, t);
        t->phase = Phase::Done;
        t->done_line = 0;
        bool bridged = false;
        for (const ThreadState& any : b->threads) bridged = bridged || (any.pid == t->pid && any.bridged);
        if (!bridged) emit_op(b, t);
        return;
    }
    drop_op(t, reason, kind);
}

void on_session(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l) {
    bool session = l.sig == ScanSig::Session;
    if (t->phase == Phase::Session) {
        if (t->session.hex_left > 0) {
            hex_line(b, t, e, l);
            return;
        }
        CallEnd end;
        // The reader's lines routed here: the open's tail, a question's lost port.
        bool same = session && (l.fn == t->op.fn || l.fn == SessionFn::Reader);
        if (same && fits(*t, l, &end)) {
            take(b, t, e, l, end);
            return;
        }
        if (same && !t->session.call_ended && !t->session.may_end && !t->first_call) {
            damage(b, t, e.line, not_expected(e));
            return;
        }
        end_session_call(b, t, t->op.last_line);
        if (!session) return;
    }
    if (t->phase == Phase::Done) emit_op(b, t);
    // The calls of this process on its other threads have returned: one
    // that may have ended has, and goes out before this one.
    // An open refused for another process's session comes after that
    // session's open: one of another process that may have ended has.
    bool other_holds = l.kind == LineKind::SBusy && l.number != EBUSY;
    for (ThreadState& other : b->threads) {
        if (&other == t || (other.pid != t->pid && !other_holds)) continue;
        if (other.phase == Phase::Session && other.session.hex_left == 0 && other.session.may_end) {
            end_session_call(b, &other, other.op.last_line);
        }
        if (other.phase == Phase::Done) emit_op(b, &other);
    }
    // The open's line settings came first, as they do for an operation of
    // the per-call functions.
    bool settings = (t->phase == Phase::Ready || t->phase == Phase::Config) && !t->per_call.sig_known;
    if (settings && l.fn == SessionFn::Open) {
        CapturedOp& op = t->op;
        op.sig = ScanSig::Session;
        op.fn = l.fn;
        op.sig_text = l.sig_text;
        reset_call(t, l.fn);
        t->first_call = false;
        LineKind next = t->phase == Phase::Ready ? LineKind::SOpen : LineKind::SCfgFail;
        t->phase = Phase::Session;
        CallEnd end;
        if (l.kind == next && fits(*t, l, &end)) {
            take(b, t, e, l, end);
        } else {
            damage(b, t, e.line, not_expected(e));
        }
        return;
    }
    if (mid_op(*t)) {
        damage(b, t, e.line, "a session line inside another operation");
        return;
    }
    begin_call(b, t, e, l);
}

}  // namespace capture_steps
