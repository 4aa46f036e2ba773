// libscanjni: a held port session on "/dev/ttyMT1".
//
// The functions of scanjni.h run a whole port cycle per call. A session
// instead opens the port once, configures it (115200 8N1, raw), and holds
// it until scan_session_close: writes, questions and waits for scan data
// all run on the one descriptor, so that no scan is lost to a flush around
// a request and an idle wait costs nothing. One session owns the port: a
// second one, in this process or another, is refused (SCAN_SESSION_BUSY);
// the per-call functions are not affected by it.
//
// Threads: one thread at a time uses a session (the caller serialises);
// only scan_session_wake may be called from any thread, at any time while
// the session is open. No function allocates after scan_session_open.
//
// Scan data that arrives while a question is being asked is kept and
// handed out by the next scan_session_wait_scan, in order; bytes that
// arrive after a reply stay for the next wait too. A frame is never
// written while a scan is arriving: that scan is finished and kept first.
//
// Everything is logged under "SCANLIB_CORE", the frames and messages in
// hexadecimal, nothing while the line is idle.
#ifndef SCANJNI_SCANSESSION_H
#define SCANJNI_SCANSESSION_H

#include "scanjni.h"

#include <stddef.h>
#include <stdint.h>

struct ScanSession;

// Negative results of the session functions.
enum ScanSessionError {
    SCAN_SESSION_BUSY = -1,      // another session holds the port
    SCAN_SESSION_NO_PORT = -2,   // the port cannot be opened or configured
    SCAN_SESSION_PORT_LOST = -3, // hung up, or a read or poll failed: close the session
    SCAN_SESSION_NO_ANSWER = -4, // no reply to a question within its budget (100 ms)
    SCAN_SESSION_NOT_SENT = -5,  // a frame could not be written whole
    SCAN_SESSION_INVALID = -6,   // an argument no engine takes; nothing was sent
};

// Longest scan message, as for scan_read_data.
#define SCAN_SESSION_MAX_SCAN 8192

// Opens and configures the port and discards what it holds, including the
// rest of a message already on the line. Returns the session, or null
// with *error set (SCAN_SESSION_BUSY or SCAN_SESSION_NO_PORT).
SCANJNI_EXPORT ScanSession *scan_session_open(int *error);

// Closes the port. Scans not yet handed out are dropped (and were logged).
SCANJNI_EXPORT void scan_session_close(ScanSession *s);

// Ends a scan_session_wait_scan in progress at once, or the next one when
// none is in progress. Any thread; async-signal-safe.
SCANJNI_EXPORT void scan_session_wake(ScanSession *s);

// The five writes, with the frames of the per-call functions. Each
// returns the frame's byte count once the frame has left the port
// (tcdrain), or a negative ScanSessionError.
SCANJNI_EXPORT int scan_session_open_dev(ScanSession *s, bool open);
SCANJNI_EXPORT int scan_session_enable_type(ScanSession *s, bool enable, int type);
SCANJNI_EXPORT int scan_session_set_timeout(ScanSession *s, int timeout);
SCANJNI_EXPORT int scan_session_set_command(ScanSession *s, const char *command);
SCANJNI_EXPORT int scan_session_profile(ScanSession *s);

// The three questions, in one exchange each. check_type returns 1 when
// the type is enabled, 0 when disabled; get_timeout writes the four
// characters and a zero into value and returns 4; query writes the value
// text (at most 15 characters) and a zero into value and returns its
// length. Otherwise a negative ScanSessionError.
SCANJNI_EXPORT int scan_session_check_type(ScanSession *s, int type);
SCANJNI_EXPORT int scan_session_get_timeout(ScanSession *s, char value[5]);
SCANJNI_EXPORT int scan_session_query(ScanSession *s, int number, char value[16]);

// Waits up to timeout_ms for a whole scan message (ended by the line's
// quiet gap, at most SCAN_SESSION_MAX_SCAN bytes) and copies it, exactly
// as it came, zero bytes included, into buf (cap bytes; a longer message
// is cut to cap). *first_byte_us, when given, is when its first byte
// arrived, on CLOCK_MONOTONIC in microseconds. Returns the message's
// length; 0 when the time ran out or the wait was woken; a negative
// ScanSessionError.
SCANJNI_EXPORT int scan_session_wait_scan(ScanSession *s, int timeout_ms, unsigned char *buf,
                                          size_t cap, int64_t *first_byte_us);

#endif
