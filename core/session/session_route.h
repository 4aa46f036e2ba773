// What the rest of the library reaches of the held session: a per-call
// operation of a process that holds the port runs on the session instead
// of a port cycle of its own, serialised with the session owner's calls.
// Nothing here logs: the caller logs its own lines.
#ifndef SCANJNI_CORE_SESSION_ROUTE_H
#define SCANJNI_CORE_SESSION_ROUTE_H

#include "reply.h"
#include "scansession.h"

#include <stddef.h>

struct Session;

// This process's open session, entered for one call (it is not closed
// until session_leave), or null when the process holds no session. A
// session being opened is waited for. After null the caller runs a port
// cycle of its own and calls session_cycle_locked once the cycle's lock is
// taken (or refused): a session's open waits for that, so that it never
// takes the port between the caller's look and its lock.
Session *session_enter(void);
void session_cycle_locked(void);
void session_leave(Session *s);

// Told on the caller's thread the moment a request's frame has left the
// port (ret = its length) or could not be written whole (ret = -1, errno
// set), before any answer is waited for, so that the write is logged when
// it happened. Not told when the request never came to its write.
struct WriteReport {
    void (*written)(void *ctx, int ret);
    void *ctx;
};

// Writes the frame on the held port once no message is arriving, and
// waits until it has left the port. Returns len, or a negative
// ScanSessionError.
int session_send(Session *s, const unsigned char *frame, size_t len, const WriteReport &report);

// The answer to a question, as the session's reader took it off the line.
struct SessionAnswer {
    unsigned char bytes[kReplyBufLen];
    size_t len;   // echo, value, ACK or NAK, final byte
    bool refused; // NAK: the engine does not take the question
};

// Writes a question frame (its echo is the number text it carries) and
// waits, within the reply budget, for the answer that carries its echo.
// Returns 0 with *answer filled in (also a refusal), or a negative
// ScanSessionError (SCAN_SESSION_NO_ANSWER when none came in time).
int session_ask(Session *s, const unsigned char *frame, size_t len, size_t min_len,
                SessionAnswer *answer, const WriteReport &report);

#endif
