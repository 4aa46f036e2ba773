// The monotonic clock and the waits on it, shared by everything that
// times the line: no termios, no knowledge of the port.
#ifndef SCANJNI_CORE_CLOCK_H
#define SCANJNI_CORE_CLOCK_H

#include <poll.h>
#include <stdint.h>

// The monotonic clock in microseconds; every deadline is on it.
int64_t port_now_us();

inline int64_t earlier_us(int64_t a, int64_t b)
{
    return a < b ? a : b;
}

// Polls the descriptors until one of them has an event or the deadline
// has passed, and looks at them once more, without waiting, when the
// caller comes in late. Returns what ppoll returns: the number of
// descriptors with events (0 at the deadline), or -1 with errno set when
// it fails with anything but EINTR, which only restarts the wait.
int port_poll_by(struct pollfd *fds, nfds_t n, int64_t deadline_us);

// Sleeps until the deadline.
void port_sleep_until(int64_t deadline_us);

// Sleeps while *word holds value, until port_wake_sleepers(word) or the
// deadline (a negative deadline: none). Returns at once when the word has
// changed already; may return early, so the caller looks again.
void port_sleep_while(int *word, int value, int64_t deadline_us);

// Wakes every thread of this process sleeping on word.
void port_wake_sleepers(int *word);

// Timer slack while the line is timed: the kernel's default for a thread.
// A phone may give background threads 40 ms or more, which would stretch
// a gather or a quiet gap by that much.
constexpr int kFineSlackNs = 50000;

// Sets the calling thread's timer slack; returns the one it had.
int port_set_timer_slack(int slack_ns);

// The thread's fine slack for as long as the object lives.
struct FineSlack {
    int had = port_set_timer_slack(kFineSlackNs);
    ~FineSlack() { port_set_timer_slack(had); }
};

#endif
