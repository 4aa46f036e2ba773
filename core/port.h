// The port cycle: open and configure the scanner port, exchange bytes,
// close it again. Shared by every scanner operation.
#ifndef SCANJNI_CORE_PORT_H
#define SCANJNI_CORE_PORT_H

#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#define SCANNER_PORT "/dev/ttyMT1"

// Length of one attempt of a reply poll or a scan data poll.
constexpr unsigned int kPollIntervalMs = 10;

// An open port cycle: the descriptor, and the calling thread's own timer
// slack, given back at the close.
struct PortCycle {
    int fd;
    int slack_ns;
    int64_t flushed_us; // when the configuration's last flush was made
};

// Opens the scanner port in the mode of every port cycle (read and write,
// non-blocking, never the controlling terminal), plus extra_flags. Returns
// the descriptor, or -1 with errno set.
int port_open_device(int extra_flags);

// Opens the scanner port non-blocking and applies 115200 8N1. On failure
// logs the open-failure message (at error) or the configure-failure
// message (at cfg_fail_prio), closes what it opened and returns false.
// For as long as the cycle is open, the thread's timer slack is
// kFineSlackNs: the cycle's waits are a few milliseconds long and must end
// on time, which a large slack (a phone may give background threads 40 ms
// or more) would stretch by that much.
bool port_open(const char *sig, int cfg_fail_prio, PortCycle *cycle);

// Closes the descriptor (its result is of no use to anyone) and gives the
// thread its timer slack back.
void port_close(const PortCycle *cycle);

// Timer slack during a port cycle: the kernel's default for a thread.
constexpr int kFineSlackNs = 50000;

// Sets the calling thread's timer slack; returns the one it had.
int port_set_timer_slack(int slack_ns);

// Writes the whole frame. A short write is continued and a full output
// queue waited out, 100 ms at most in all. Returns len when every byte
// went out, the write's own negative result when it failed at once, and
// -1 when the frame could not be completed in time. A partial frame is
// never reported as success.
int port_write_frame(int fd, const void *frame, size_t len);

// Sleeps for the given number of milliseconds.
void port_wait_ms(unsigned int ms);

// The monotonic clock in microseconds; deadlines below are on it.
int64_t port_now_us();

// Polls the descriptors until one of them has an event or the deadline
// has passed, and looks at them once more, without waiting, when the
// caller comes in late. Returns what ppoll returns: the number of
// descriptors with events (0 at the deadline), or -1 with errno set when
// it fails with anything but EINTR, which only restarts the wait.
int port_poll_by(struct pollfd *fds, nfds_t n, int64_t deadline_us);

// Waits until the port has something to read (bytes, or the end of the
// line when it has hung up) or the deadline has passed. True when the
// port became readable; false only after the port was seen idle at the
// deadline or later, also when the caller comes in late.
bool port_wait_input(int fd, int64_t deadline_us);

// Sleeps until the deadline.
void port_sleep_until(int64_t deadline_us);

// Bytes waiting to be read on the port; -1 when it does not tell.
int port_waiting(int fd);

// When the port turned readable, and how many bytes were waiting then
// (-1 when the port does not tell).
struct PortArrival {
    int64_t at_us;
    int bytes;
};

// Reads into buf once something arrives, at the latest at the deadline.
// When bytes begin to arrive it notes that moment in *arrival (when
// given), then waits gather_us more (never past the deadline) so that one
// read takes a batch of them. Returns the read's result: the bytes read,
// 0 at the end of the line (hung up), or -1 when nothing came by the
// deadline or the read failed. A read that fails although the port was
// readable first waits out the deadline, so that a broken port never
// turns a caller's loop into a busy loop.
ssize_t port_read_by(int fd, void *buf, size_t len, int64_t deadline_us, uint32_t gather_us,
                     PortArrival *arrival);

#endif
