// The capture builder's own steps, shared by its per-call part
// (capture.cpp) and its held-port session part (capture_session.cpp).
// Not for use outside the builder.
#pragma once

#include <string>

#include "capture.h"

namespace capture_steps {

std::string quoted(const std::string& text);             // 'text', cut after 60 characters
std::string at_line(size_t line, const std::string& what);  // "line N: what"
std::string thread_name(const ThreadState& t);             // "thread T", or "process P" without thread ids
std::string not_expected(const LogEntry& e);
bool mid_op(const ThreadState& t);  // an operation is open on the thread
// A question waits kReplyBudgetMs for its reply after its write. Where the
// capture has times, a "no answer" before the budget ran out with nothing
// read (answered: a refusal was), or a reply taken as the answer well
// after it, is what today's library does not do: noted as the op's timing.
void check_reply_time(CapturedOp* op, bool reply, bool answered, int64_t after_us, size_t write_line, size_t line);
void push_note(CaptureBuilder* b, const CaptureNote& n);
// Whether a line of the session's reader belongs to this thread's session
// call: the tail of the first message after an open (or the line's loss
// while it drops one), which the replay must make the open send; the
// line's loss after a question's frame, which ends the question.
bool takes_reader_line(const ThreadState& t, const ScanLine& l);
// The thread's operation goes out; the thread has none open after it.
void emit_op(CaptureBuilder* b, ThreadState* t);
void end_skip(CaptureBuilder* b, ThreadState* t);
// Gives up the operation in progress (if any; a complete one goes out) and
// skips the thread's lines up to the next operation's first line.
// In a part already skipped, its note grows.
void begin_skip(CaptureBuilder* b, ThreadState* t, size_t line, const std::string& reason, NoteKind kind);
void damage(CaptureBuilder* b, ThreadState* t, size_t line, const std::string& reason);
// The thread's first lines begin inside an operation: cut by the capture's
// start where they come near it (in time, or in lines without times),
// else lines lost.
void skip_inside(CaptureBuilder* b, ThreadState* t, const LogEntry& e);
// Gives up the operation in progress with a note of its own lines, which
// goes out when the thread's next operation goes out (the thread skips on
// to that one's first line); in a part already skipped, the note grows.
void drop_op(ThreadState* t, const std::string& reason, NoteKind kind);
// The thread's operation begins at the entry: its process, thread, first
// line, time, and the time since the scanner's previous line.
void op_begins(const CaptureBuilder* b, ThreadState* t, const LogEntry& e);
// Adds the entry to the operation; false (and skips) past kCaptureMaxOpLines.
bool add_line(CaptureBuilder* b, ThreadState* t, const LogEntry& e);

// A line of a held-port session function, or the first line after a
// session call on the thread (which then ends that call and goes on as
// the caller's).
void on_session(CaptureBuilder* b, ThreadState* t, const LogEntry& e, const ScanLine& l);
// The session call open on the thread ends here (at capture line `line`):
// it goes out, or a note says why it cannot.
void end_session_call(CaptureBuilder* b, ThreadState* t, size_t line);

}  // namespace capture_steps
