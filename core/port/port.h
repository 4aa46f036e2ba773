// The port cycle: open and configure the scanner port, exchange bytes,
// close it again. Shared by every per-call scanner operation.
#ifndef SCANJNI_CORE_PORT_H
#define SCANJNI_CORE_PORT_H

#include <stddef.h>
#include <stdint.h>

#define SCANNER_PORT "/dev/ttyMT1"

// Length of one attempt of a reply poll or a scan data poll.
constexpr unsigned int kPollIntervalMs = 10;

// An open port cycle: the descriptor, the calling thread's own timer
// slack, given back at the close, and when the configuration's last flush
// was made.
struct PortCycle {
    int fd;
    int slack_ns;
    int64_t flushed_us;
};

// Opens the scanner port in the mode of every port cycle (read and write,
// non-blocking, never the controlling terminal, close-on-exec), plus
// extra_flags. Returns the descriptor, or -1 with errno set.
int port_open_device(int extra_flags);

// Opens the scanner port non-blocking, takes it from the cycles ahead of
// this one (a session's port is never touched: see owner.h) and applies
// 115200 8N1. On failure logs why (the open-failure message at error, the
// port held, or the configure-failure message at cfg_fail_prio), closes
// what it opened and returns false. For as long as the cycle is open, the
// thread's timer slack is kFineSlackNs.
bool port_open(const char *sig, int cfg_fail_prio, PortCycle *cycle);

// Closes the descriptor (its result is of no use to anyone), and with it
// the cycle's locks, and gives the thread its timer slack back.
void port_close(const PortCycle *cycle);

// Writes the whole frame. A short write is continued and a full output
// queue waited out, 100 ms at most in all. Returns len when every byte
// went out, the write's own negative result when it failed at once, and
// -1 when the frame could not be completed in time. A partial frame is
// never reported as success.
int port_write_frame(int fd, const void *frame, size_t len);

#endif
