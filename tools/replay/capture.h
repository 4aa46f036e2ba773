// Rebuilding the scanner operations of a logcat capture, free of any I/O.
//
// Entries go in one at a time (from logcat_feed), in capture order; every
// operation comes out once it is complete, with the core's lines as the
// capture shows them, what the engine sent and when, the call and its
// arguments, and the Java call that made it where the bridge logged one.
// Lines that cannot be used come out as notes with their line numbers.
// Memory stays bounded whatever the capture's size: at most one open
// operation per thread, kCaptureMaxThreads threads, kCaptureMaxOpLines
// lines per operation.
//
// Usage:
//   CaptureBuilder b;
//   for each LogEntry e:  capture_feed(&b, e);
//   for each damaged line: capture_damaged_line(&b, number);
//   capture_finish(&b);                     // at the end of the capture
//   CaptureEvent ev;
//   while (capture_next(&b, &ev)) ...       // after any of the calls above
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "logcat.h"
#include "exchange.h"
#include "line.h"
#include "logtext.h"
#include "reply.h"
#include "scanlog.h"

constexpr size_t kCaptureMaxThreads = 32;
// The thread id given to the session reader's lines where the format has
// none (other threads of the process share the process's -1).
constexpr int kCaptureReaderNoTid = -2;
// Likewise a wait for the port to be free: a line of its own, which may
// come from any thread.
constexpr int kCaptureWaitNoTid = -3;
// A scan data read that drops a line's bytes for its whole window and
// the longest message after it, one line a byte, and the rest.
constexpr size_t kCaptureMaxOpLines =
    (kReadWindowMs + kScanMessageMaxMs) * 1000u / (kByteTimeNs / 1000u) + 256;
// The longest an operation of the library takes: an operation that the
// capture shows no end of, although its lines stopped longer ago than
// this, was abandoned.
constexpr int64_t kCaptureLongestCallUs = (kReadWindowMs + kScanMessageMaxMs + kScanQuietGapMs) * 1000;
// Bytes of a dropped tail that the replay sends at once, as the bytes
// waiting at a flush arrive: more than the line could carry since the flush
// for as long as the replay may take to send them (64 bytes: 5.6 ms, where
// a loaded or sanitized run has been seen to need more than 1 ms). The
// rest follows at the line's pace.
constexpr size_t kCaptureTailBurst = 64;
// Most bytes the device's log daemon keeps of one entry (priority, tag,
// text and their ends); a longer message is cut.
constexpr size_t kLogPayloadMax = 4068;
// Longest command text rebuilt from a "command longer than" line.
constexpr int kCaptureMaxCommandText = 65536;

// What the device looked like to the operation.
enum class PortShape {
    Pty,           // there, configurable
    Missing,       // the open failed
    NotTty,        // opened, but cannot be configured
    WriteBlocked,  // the frame could not be written
    HeldHere,      // a session of the same process holds the port: the call runs on it
    HeldByOther,   // a session of another process holds the port: the call fails at once
    CyclesAhead,   // another process's calls held the line: the call waited `waited_ms`, then ran
    CyclesBusy,    // another process's calls held the line past the wait: the call fails
};

// One capture line of the operation; its text is in CapturedOp::texts.
struct ExpectedLine {
    size_t line;
    char prio;
    uint32_t off;
    uint32_t len;
};

// Where a session call stands when the engine's message comes, which
// tells the replay when to send it.
enum class SessionStage {
    BeforeCall,  // a write or a question before its frame: no message comes
    AfterOpen,   // the open's dropped tail: on the line when the port was flushed
    AfterWrite,  // a question's answer, after its frame
    InCall,      // the reader's message, whenever it comes
};

// Bytes that reached the library together.
struct InChunk {
    std::vector<uint8_t> bytes;
    int errors_before = 0;   // failed-read lines since the previous chunk or the reference line
    int64_t offset_us = -1;  // first byte after the reference line, -1 where the capture has no times
    bool tail = false;       // the tail of an earlier message, dropped by a scan data read or a session's open
    int64_t end_us = -1;     // a scan data read's tail: its last byte after the reference line, where the capture has times
    // A session's message: logged as a reply (else as a scan or a tail),
    // and where.
    bool reply = false;
    SessionStage stage = SessionStage::BeforeCall;
};

struct CapturedOp {
    ScanSig sig = ScanSig::Uart;
    int pid = -1;
    int tid = -1;
    // Arguments. `flag`: open / enable; `number`: type index, timeout,
    // setting number; `text`: command bytes (null_text: a null command).
    bool flag = true;
    bool flag_known = false;    // the log shows open/close, enable/disable
    int number = 0;
    std::string text;
    bool null_text = false;
    bool number_known = false;  // the log shows the type index
    PortShape shape = PortShape::Pty;
    int waited_ms = 0;          // CyclesAhead: how long

    std::vector<ExpectedLine> lines;
    std::string texts;
    std::vector<InChunk> chunks;
    size_t first_line = 0;
    size_t last_line = 0;
    int64_t start_us = -1;
    int64_t end_us = -1;
    int64_t gap_us = -1;        // since the scanner's previous line
    std::string sig_text;       // a session function's signature
    std::vector<std::vector<uint8_t>> written;  // a session's frames, as logged
    // A held-port session call. Arguments as above, from the frame it
    // wrote or the line that refused them; `number` is the descriptor of
    // an open or a close.
    SessionFn fn = SessionFn::None;
    bool no_session = false;     // "no open session!": called without one
    bool no_buffer = false;      // "no buffer!"
    int busy_errno = 0;          // the open met another owner: 16 in this process, 11 in another
    bool hangup = false;         // the line hung up, after the call's messages
    int no_room = 0;             // the reader dropped the oldest scans queued
    // Where the capture's own times show what the library cannot do (a
    // "no answer" before its budget ran out), what and at which line.
    std::string timing;
    size_t timing_line = 0;
    std::string java;           // the Java method that made the call, "" when unknown
    std::string java_result;    // its log line's result, e.g. "[enable=1]"
};

// Why lines were not replayed: an operation that the capture's own first
// or last line cut; an operation that stopped while the capture went on
// (its process died, lines were dropped, it never ended); lines that
// cannot be used (damaged, unknown, out of order).
enum class NoteKind { Cut, Abandoned, Damaged };

// Lines that were not replayed.
struct CaptureNote {
    size_t first_line = 0;
    size_t last_line = 0;
    size_t lines = 0;
    std::string reason;
    NoteKind kind = NoteKind::Damaged;
    int pid = -1;
    int tid = -1;
};

struct CaptureEvent {
    bool is_op = false;
    CapturedOp op;
    CaptureNote note;
    size_t done_at = 0;  // the capture line by which it was complete: events go out in that order
};

enum class Phase {
    None,         // no operation open
    Prepare,      // the frame logged before the port opens: its length line where the
                  // function logs one (pre_left < 0), then pre_left byte lines
    CommandText,  // free command: more lines of a text that held a line end
    PreOpen,      // prepared; the port opens next
    Config,       // "Standard baud" seen; the summary or a failure next
    Ready,        // configured; the write or the first read next
    Poll,         // question: reply bytes and failed reads
    Answer,       // question: a reply is in; its answer line next (or more bytes)
    ReadPoll,     // scan data read: failed reads, a dropped tail, the length
    ReadBytes,    // scan data read: the byte lines of "length = N"
    Done,         // complete; kept until the thread's next line (the bridge's)
    Session,      // lines of one call of a held-port session function
};

// What a line of a session call tells of the call's end.
enum class CallEnd { NotYet, Maybe, Here };

// A per-call operation's lines so far: what it logged of its frame, and
// the engine's bytes and failed reads since its reference line. Begins
// anew with each operation.
struct PerCallReading {
    bool sig_known = false;
    int pre_left = 0;          // byte lines still due; below 0, the frame's length line first
    std::vector<uint8_t> frame;
    ReplyStream stream{};
    int errors = 0;            // failed reads since the last chunk or the reference line
    int errors_total = 0;
    int64_t ref_us = -1;
    size_t write_line = 0;     // the capture line of its write
    int byte_attempts = 0;     // attempts of the poll that brought bytes, as far as the log tells
    int64_t last_window = -1;  // the attempt of the last byte line, where the capture has times
    bool chunk_open = false;
    int64_t last_byte_us = -1;
    int continuation_left = 0;  // lines a value text with line ends may still take
    bool open_end = false;      // the operation may end at any line: a scan data read after a dropped
                                // tail, a question on a held port after its "no answer"
};

// A session call's lines so far: the bytes its hex lines still owe, their
// direction and what the block's end means for the call's; where the call
// stands, whether it has ended (or may have: an open, the reader's
// message); its frame's line and time (the write is logged the moment the
// frame has left); why it cannot be replayed. Begins anew with each call.
struct SessionCallReading {
    int hex_left = 0;
    SessionFn hex_fn = SessionFn::None;  // whose block: the call's, or the reader's routed here
    bool hex_out = false;
    CallEnd end_after_block = CallEnd::NotYet;
    SessionStage stage = SessionStage::BeforeCall;
    int call_lines = 0;
    bool call_ended = false;
    bool may_end = false;
    size_t write_line = 0;     // the capture line of its write
    int64_t write_us = -1;
    std::string unreplayable;
};

struct ThreadState {
    int pid = -1;
    int tid = -1;
    bool started = false;      // an operation began here since the capture started
    Phase phase = Phase::None;
    CapturedOp op;
    PerCallReading per_call;
    SessionCallReading session;
    bool first_call = false;   // the session call is the thread's first
    bool skipping = false;
    CaptureNote note;           // the skip in progress
    std::string pending_java;   // a "[str=" line: sendCommand logs before its core call
    bool bridged = false;       // the thread has logged a line of the bridge
    size_t done_line = 0;       // the capture line at which the operation was complete
    bool routed = false;        // the session's reader: its block in progress goes to
    int route_tid = -1;         // this thread of its process
    size_t lost_line = 0;       // the session's reader: where it logged the port's loss
    LogEntry last;  // the thread's latest line, which the log daemon may count again
};

// Most bytes one session log block may announce: a message ends at the
// buffer's size, a longer tail is logged a buffer at a time.
constexpr int kCaptureMaxSessionBytes = static_cast<int>(kScanBufLen);

// A complete operation waits this many capture lines for its bridge line
// before it goes out without one (a native caller logs none).
constexpr size_t kCaptureBridgeWait = 64;

struct CaptureBuilder {
    std::vector<ThreadState> threads;
    std::deque<CaptureEvent> events;
    int64_t last_time_us = -1;  // of the scanner's latest line
    int64_t end_time_us = -1;   // of the capture's latest line
    int64_t first_time_us = -1; // of its first line
    size_t first_scanner_line = 0;
    size_t last_line = 0;
    size_t last_scanner_line = 0;
    int crash_pid = -1;         // the process a crash report is about
    // The first line of each kind that tells what the device's system
    // allows (locks, a watch on the port): not a call's, not replayed.
    std::vector<LogEntry> device_lines;
    bool saw_scanner = false;  // any line of the scanner's tags
};

void capture_feed(CaptureBuilder* b, const LogEntry& e);
void capture_damaged_line(CaptureBuilder* b, size_t line);
void capture_finish(CaptureBuilder* b);
bool capture_next(CaptureBuilder* b, CaptureEvent* out);

// Line i of the operation, its text as the capture shows it.
std::string capture_op_text(const CapturedOp& op, size_t i);

// The call as text: "scan_type_check(3)", "scan_set_command(\"AB\")".
std::string capture_op_call(const CapturedOp& op);

// Both sides of a comparison in one form: each line of the text without
// trailing blanks and '\r', empty last lines dropped.
std::string capture_normalize(const std::string& text);

// When each chunk of the operation should start to arrive, in
// microseconds after its reference line (the question's write line, the
// scan data read's configuration line), so that the library's attempts
// see what they saw in the capture: each chunk in the 10 ms attempt that
// its failed-read lines put it in, at the capture's own time where the
// capture has times and that time fits, else in the middle of the attempt.
// Where the replay saw the read wait again after a dropped tail earlier
// than the capture shows (its "dropped" line, resumed_us after the
// reference line), the chunks after the tail are timed from there.
std::vector<int64_t> capture_chunk_times(const CapturedOp& op, int64_t resumed_us = -1);
