// The held-port session inside the library: its state and the steps that
// its functions share. A process has one session, in static storage, so
// that nothing is allocated (scansession.h is the public side).
#ifndef SCANJNI_CORE_SESSION_STATE_H
#define SCANJNI_CORE_SESSION_STATE_H

#include "scansession.h"
#include "port.h"
#include "reply.h"

#include <stddef.h>
#include <stdint.h>

// Scans kept while requests run, until scan_session_wait_scan hands them
// out. A caller that waits between requests never needs more than one.
constexpr size_t kPendingScans = 4;

// A message as it came off the line, and when its first and its latest
// bytes were read (port_now_us).
struct SessionMessage {
    unsigned char bytes[kScanBufLen];
    size_t len;
    int64_t first_us;
    int64_t last_us;
    bool tail; // the rest of a message that was on the line at the open's flush
};

// Where the session stands. Only changed and read with atomic operations:
// scan_session_wake looks at it from any thread.
enum SessionState { SESSION_FREE, SESSION_OPENING, SESSION_OPEN, SESSION_CLOSING };

struct ScanSession {
    int state;   // a SessionState
    int wakers;  // scan_session_wake calls under way (atomic)
    int fd;      // the port, locked with flock
    int wake_fd; // an eventfd that scan_session_wake counts up
    bool lost;   // the port is gone; that was logged once
    SessionMessage incoming;               // being read; empty between messages
    SessionMessage pending[kPendingScans]; // ended scans not handed out yet
    size_t pending_head;                   // the oldest of them
    size_t pending_count;
    // The echo of the last question until its answer has come: a message
    // that answers it (a refusal, or a reply after the question's budget)
    // is dropped as a reply, never handed out as a scan.
    char awaited_echo[kReplyBufLen];
    size_t awaited_echo_len;
    // The first message after the open is judged by the tail rule when its
    // first bytes arrive, whenever that is; a tail that fills the buffer
    // goes on as a tail.
    int64_t flushed_us;
    bool first_message;
    bool tail_goes_on;
};

// While a session call waits, the calling thread's timer slack is the
// port cycle's fine one, for the same reason (a gather or a quiet gap
// stretched by a background thread's slack); its own comes back when the
// call returns.
struct FineSlack {
    int had = port_set_timer_slack(kFineSlackNs);
    ~FineSlack() { port_set_timer_slack(had); }
};

inline int64_t earlier_us(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

// True when s is the open session; otherwise logs so under sig.
bool session_usable(ScanSession *s, const char *sig);

// Marks the port lost and logs why, the first time only: hung up (what is
// null) or the call that failed ("read", "poll") and its errno.
void session_lost(ScanSession *s, const char *sig, const char *what, int err);

enum class SessionInput { Ready, Quiet, Woken, Lost };

// Waits until the port has input, or the deadline has passed and a last
// look found none (Quiet), or, when wakeable, until scan_session_wake was
// called (its count is taken). A hung-up or failing port is Lost.
SessionInput session_wait_input(ScanSession *s, const char *sig, int64_t deadline_us, bool wakeable);

// Starts the incoming message: its first bytes arrived at at_us. The
// first message after the open is judged by the tail rule here.
void session_begin_message(ScanSession *s, int64_t at_us);

// Reads what the port holds (it was found readable) onto the incoming
// message, which must have room. False when the port is lost.
bool session_read(ScanSession *s, const char *sig);

enum class MessageEnd { Ended, Woken, Lost };

// Reads the incoming message on, a batch at a time, to its end: the quiet
// gap after its latest bytes, a full buffer, or kScanMessageMaxMs after its
// first byte. `ready` says that the port has input waiting already.
MessageEnd session_finish_message(ScanSession *s, const char *sig, bool ready, bool wakeable);

// The incoming message has ended as scan data: logs it, keeps it for
// scan_session_wait_scan (or logs that there was no room) and empties it.
// What became of an ended message.
enum class Kept {
    Scan,    // kept for scan_session_wait_scan
    Answer,  // the answer to the awaited question (logged as a reply)
    Dropped, // the tail of a message that was on the line at the open
};

// Keeps the incoming message as a scan, unless it is an answer or a tail.
Kept session_keep_scan(ScanSession *s, const char *sig);

// Before a frame goes out: a message in progress, or one whose bytes wait
// in the port, is read to its end and kept. 0, or SCAN_SESSION_PORT_LOST.
int session_settle_input(ScanSession *s, const char *sig);

#endif
