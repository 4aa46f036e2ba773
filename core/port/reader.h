// The one reader of the line, under both ways in (a port cycle per call,
// and the held port's reader thread): waiting for input, a batch gathered
// before each read, a message read on to its quiet gap, the tail rule and
// a tail read to its end. What is logged is left to the caller's sink.
#ifndef SCANJNI_CORE_READER_H
#define SCANJNI_CORE_READER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// What a wait found.
enum class LineInput {
    Ready, // bytes to read
    Quiet, // the deadline passed and a last look found none
    Woken, // the wake descriptor was counted up (its count is taken)
    Gone,  // hung up, or the port reports an error
    Failed // the poll itself failed (errno set)
};

// The port and, when wake_fd is not -1, an eventfd whose count ends a wait.
struct LineReader {
    int fd;
    int wake_fd;
};

// Waits until the port has input, the wake descriptor is counted up, or
// the deadline has passed (a caller that comes in late still looks once).
LineInput line_wait(const LineReader *r, int64_t deadline_us);

// When the port turned readable, and how many bytes were waiting then
// (-1 when the port does not tell).
struct PortArrival {
    int64_t at_us;
    int bytes;
};

// Bytes waiting to be read on the port; -1 when it does not tell.
int line_waiting(int fd);

// One attempt of a reply or scan data poll: reads into buf once something
// arrives, at the latest at the deadline. When bytes begin to arrive it
// notes that moment in *arrival (when given), then waits gather_us more
// (never past the deadline) so that one read takes a batch of them.
// Returns the read's result: the bytes read, 0 at the end of the line
// (hung up), or -1 when nothing came by the deadline or the read failed.
// A read that fails although the port was readable first waits out the
// deadline, so that a broken port never turns a caller's loop into a busy
// loop.
ssize_t line_read_by(int fd, void *buf, size_t len, int64_t deadline_us, uint32_t gather_us,
                     PortArrival *arrival);

// A message as it comes off the line.
struct LineMessage {
    unsigned char *bytes;
    size_t cap;
    size_t len;
    int64_t first_us; // its first bytes arrived
    int64_t last_us;  // its latest bytes were read
};

// What a reader of the message may add: a look after every read (true
// ends the read at once, as when an awaited answer is complete), a time
// before which the quiet gap does not end it (an answer with a pause
// inside it), and a time by which it looks again while the line pauses
// (an answer's deadline). Any may be null.
struct MessageWatch {
    bool (*after_read)(void *ctx, LineMessage *m, size_t from);
    int64_t (*quiet_not_before)(void *ctx, const LineMessage *m);
    int64_t (*look_by)(void *ctx);
    void *ctx;
};

enum class MessageEnd {
    Quiet,   // the line was quiet for the gap after its latest bytes
    Full,    // the buffer is full
    TooLong, // kScanMessageMaxMs after its first bytes
    Watched, // the watch's after_read ended it
    Woken,   // the wake descriptor; the message can be read on later
    Gone     // hung up or failed
};

// Reads the message on, a batch at a time, until one of the ends above.
// The port may or may not have bytes waiting when it is called.
MessageEnd line_read_message(const LineReader *r, LineMessage *m, const MessageWatch *watch);

// How a caller logs the bytes it read.
typedef void (*BytesLog)(const char *sig, const void *bytes, size_t n);

// Drops the tail of an earlier message, whose first bytes are in m and
// which the caller has read on to its end: logs them, and while they fill
// the buffer reads on, a buffer at a time (a wake does not end one), until
// the tail ends or window_end_us has passed. Returns how many bytes were
// dropped; m is left empty and its buffer zeroed. A port that has gone
// meanwhile is the caller's next wait's to see.
size_t line_drop_tail(const LineReader *r, LineMessage *m, int64_t window_end_us, BytesLog log,
                      const char *sig);

// The tail rule applied to the first bytes after a flush: true when
// `waiting` bytes, seen at at_us, could not all have crossed the line since
// the flush at flushed_us (a negative count is taken as none).
bool line_first_is_tail(int64_t flushed_us, int64_t at_us, int waiting);

#endif
