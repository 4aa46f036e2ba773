// The held-port session inside the library: its state and the steps that
// its files share. A process has one session, in static storage, so that
// nothing is allocated (scansession.h is the public side).
//
// Threads: the session's reader thread, started by the open and joined by
// the close, is the only one that reads the line. It ends each message at
// the line's quiet gap, tells answers from scans, and queues the scans. A
// caller's request asks the reader for a moment when no message is
// arriving, writes its frame on its own thread, and for a question waits
// for the reader to hand it the answer. The lock guards only what the
// threads exchange (the queue, the request, the loss of the port); nobody
// holds it across a wait or a read.
#ifndef SCANJNI_CORE_SESSION_STATE_H
#define SCANJNI_CORE_SESSION_STATE_H

#include "scansession.h"
#include "reply.h"
#include "scan_queue.h"
#include "session_route.h"
#include "line_timing.h"

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

// Where the session stands. Only changed and read with atomic operations:
// scan_session_wake looks at it from any thread.
enum SessionState { SESSION_FREE, SESSION_OPENING, SESSION_OPEN, SESSION_CLOSING };

// A caller's request, as it passes between its thread and the reader.
enum RequestState {
    REQUEST_NONE,
    REQUEST_WANT, // the caller waits for a moment when no message arrives
    REQUEST_GO,   // the reader gave it; the caller writes its frame
    REQUEST_SENT, // the frame has left; the reader looks for the answer
    REQUEST_DONE  // result (and answer) are in
};

struct SessionRequest {
    int state;             // a RequestState
    bool question;         // an answer is awaited
    char echo[kReplyBufLen];
    size_t echo_len;
    size_t min_len;        // shortest accepted answer after its echo
    int64_t sent_us;       // when the frame had left (REQUEST_SENT)
    int result;            // 0, or a ScanSessionError (REQUEST_DONE)
    SessionAnswer answer;
};

// A question that ended recently: an answer that carries its echo and
// comes late, or twice, is still an answer, never a scan. One that ended
// without its answer is owed one: a question with its echo is not sent
// until that answer has come or the window is over, so that it cannot be
// handed the earlier question's answer.
struct RecentQuestion {
    char echo[kReplyBufLen];
    size_t echo_len;
    int64_t until_us;
    bool owed;
};
constexpr size_t kRecentQuestions = 4;

struct Session {
    int state;   // a SessionState (atomic)
    unsigned int generation; // counts the opens: the open session's handle (atomic)
    int users;   // calls and wakes under way on the open session (atomic)
    int fd;      // the port, locked (owner.h)
    int wake_fd; // scan_session_wake counts it up: ends a wait
    int ctl_fd;  // counted up for the reader: a request, or the close
    int scan_fd; // the reader counts it up when it queues a scan
    int done_fd; // the reader counts it up when the request moves on
    pthread_t reader;
    bool stopping; // the close asks the reader to end (atomic)

    pthread_mutex_t lock;     // guards what follows, up to the reader's own
    pthread_mutex_t requests; // one request at a time
    bool lost;                // the port is gone; that was logged once
    ScanQueue queue;
    SessionRequest request;

    // The reader's own.
    unsigned char incoming[kScanBufLen];
    int64_t flushed_us;   // the configuration's last flush
    bool first_message;   // the next message is judged by the tail rule
    RecentQuestion recent[kRecentQuestions];
    size_t recent_next;
};

// Counts an eventfd up; any thread, async-signal-safe.
void session_poke(int fd);

// Takes an eventfd's count.
void session_drain(int fd);

// The reader thread's body; arg is the session.
void *session_reader(void *arg);

// The open session that handle names, counted in for one call (until
// session_leave), or null, after one line under sig, when it names none:
// the handle of a closed session stays refused whatever opened since.
Session *session_call_in(ScanSession *handle, const char *sig);

#endif
