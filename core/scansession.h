// libscanjni: a held port session on "/dev/ttyMT1".
//
// The functions of scanjni.h run a whole port cycle per call. A session
// instead opens the port once, configures it (115200 8N1, raw), and holds
// it until scan_session_close: writes, questions and waits for scan data
// all run on the one descriptor, so that no scan is lost to a flush around
// a request and an idle wait costs nothing. One session owns the port: a
// second one, in this process or another, is refused (SCAN_SESSION_BUSY).
// While a session holds the port, the per-call functions of scanjni.h
// never touch the line on their own: in another process they fail at once
// with their failure result; in this process they run on the session,
// one request at a time with the owner's (scan_read_data excepted: the
// scans are the session's, and it returns no text).
//
// Threads: the session reads the line on a thread of its own, started by
// scan_session_open and ended by scan_session_close, so a message's end is
// seen whatever the callers do; it queues whole scans (about 32 KiB or 64
// scans; past that the oldest is dropped and logged, never merged) until
// scan_session_wait_scan hands them out. Requests may come from any
// thread and run one at a time; one thread at a time waits for scans;
// scan_session_wake and scan_session_close may be called from any thread.
// No function allocates after scan_session_open.
//
// Replies are known by their form: a question's answer carries its echo
// (the number text it asked about), value bytes, ACK or NAK and a final
// byte. Such an answer is never handed out as a scan, also when it comes
// late (within a second of its question's end) or right after a scan. A
// frame is never written while a message is arriving: it waits for that
// message's end.
//
// Everything is logged under "SCANLIB_CORE", the frames and messages in
// hexadecimal, nothing while the line is idle.
#ifndef SCANJNI_SCANSESSION_H
#define SCANJNI_SCANSESSION_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifndef SCANJNI_EXPORT
#define SCANJNI_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ScanSession ScanSession;

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

// Waits up to timeout_ms until no session, of this process or another,
// holds the port. Returns 1 when none does (at once when none does now),
// 0 when the time ran out or scan_session_wake_free ended the wait, or a
// negative ScanSessionError (SCAN_SESSION_NO_PORT: the device cannot be
// opened; SCAN_SESSION_INVALID: a negative timeout). The holder's release
// is seen within a few milliseconds, also when its process dies: the wait
// watches the device for the close of a descriptor (inotify) and looks at
// the locks again then. Where the system refuses the watch it looks every
// 20 ms; where it refuses locks only this process's session is known.
// Per-call cycles do not count as holders. Any thread, several at once.
SCANJNI_EXPORT int scan_session_wait_free(int timeout_ms);

// Ends every scan_session_wait_free in progress at once, or the next one
// when none is in progress. Any thread.
SCANJNI_EXPORT void scan_session_wake_free(void);

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

#ifdef __cplusplus
}
#endif

#endif
