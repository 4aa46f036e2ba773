#include "clock.h"

#include <errno.h>
#include <limits.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/prctl.h>
#include <time.h>

namespace {

// Longest single poll, 4000 s: a longer deadline (a session's wait may be
// long) is waited for in pieces, so that the time fits in 32 bits.
const uint32_t kLongestPollUs = 4000000000u;

} // namespace

int64_t port_now_us()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int port_poll_by(struct pollfd *fds, nfds_t n, int64_t deadline_us)
{
    for (;;) {
        // A thread that wakes after its deadline still looks once, without
        // waiting: bytes that arrived while it was held off the processor
        // are not quiet on the line. The time is divided in 32 bits (a
        // 64-bit division costs a library routine on 32-bit ARM).
        int64_t left_us = deadline_us - port_now_us();
        bool piece = left_us > kLongestPollUs;
        uint32_t left = piece ? kLongestPollUs : left_us > 0 ? static_cast<uint32_t>(left_us) : 0;
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(left / 1000000u);
        ts.tv_nsec = static_cast<long>(left % 1000000u) * 1000L;
        for (nfds_t i = 0; i < n; i++)
            fds[i].revents = 0;
        int r = ppoll(fds, n, &ts, nullptr);
        if (r == 0 && piece)
            continue;
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

void port_sleep_until(int64_t deadline_us)
{
    struct pollfd none;
    none.fd = -1; // ppoll() ignores a negative descriptor: it only waits
    none.events = 0;
    port_poll_by(&none, 1, deadline_us);
}

int port_set_timer_slack(int slack_ns)
{
    int had = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (had != slack_ns)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack_ns), 0, 0, 0);
    return had;
}

void port_sleep_while(int *word, int value, int64_t deadline_us)
{
    struct timespec ts;
    struct timespec *limit = nullptr;
    if (deadline_us >= 0) {
        int64_t left_us = deadline_us - port_now_us();
        if (left_us <= 0)
            return;
        ts.tv_sec = static_cast<time_t>(left_us / 1000000);
        ts.tv_nsec = static_cast<long>(left_us % 1000000) * 1000L;
        limit = &ts;
    }
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, value, limit, nullptr, 0);
}

void port_wake_sleepers(int *word)
{
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}
