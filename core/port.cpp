#include "port.h"
#include "line.h"
#include "log.h"
#include "scanjni.h"
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace {

const unsigned int kWriteBudgetMs = 100;

// Longest single poll, 4000 s: a longer deadline (a session's wait may be
// long) is waited for in pieces, so that the time fits in 32 bits.
const uint32_t kLongestPollUs = 4000000000u;

long elapsed_ms(const struct timespec &start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

} // namespace

int port_set_timer_slack(int slack_ns)
{
    int had = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (had != slack_ns)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack_ns), 0, 0, 0);
    return had;
}

int port_open_device(int extra_flags)
{
    return open(SCANNER_PORT, O_RDWR | O_NOCTTY | O_NONBLOCK | extra_flags);
}

bool port_open(const char *sig, int cfg_fail_prio, PortCycle *cycle)
{
    int fd = port_open_device(0);
    if (fd == -1) {
        CORE_LOG(PRIO_ERROR, "%s, open device fail! Fd = %d", sig, -1);
        return false;
    }
    if (uart_configure(fd, 115200, 8, 'N', 1, &cycle->flushed_us) == -1) {
        CORE_LOG(cfg_fail_prio, "%s, set uart parm fail! ret = %d", sig, -1);
        close(fd);
        return false;
    }
    cycle->fd = fd;
    cycle->slack_ns = port_set_timer_slack(kFineSlackNs);
    return true;
}

void port_close(const PortCycle *cycle)
{
    close(cycle->fd);
    if (cycle->slack_ns != kFineSlackNs)
        port_set_timer_slack(cycle->slack_ns);
}

int port_write_frame(int fd, const void *frame, size_t len)
{
    const unsigned char *p = static_cast<const unsigned char *>(frame);
    size_t done = 0;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);

    while (done < len) {
        ssize_t w = write(fd, p + done, len - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return done == 0 ? static_cast<int>(w) : -1;

        // The output queue is full: wait for room within what is left.
        long left = static_cast<long>(kWriteBudgetMs) - elapsed_ms(start);
        if (left <= 0)
            return -1;
        struct pollfd pfd;
        pfd.fd = fd;
        pfd.events = POLLOUT;
        pfd.revents = 0;
        poll(&pfd, 1, static_cast<int>(left));
    }
    return static_cast<int>(len);
}

void port_wait_ms(unsigned int ms)
{
    usleep(ms * 1000u);
}

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

bool port_wait_input(int fd, int64_t deadline_us)
{
    struct pollfd pfd;
    pfd.fd = fd; // ppoll() ignores a negative descriptor: then it only waits
    pfd.events = POLLIN;
    int r = port_poll_by(&pfd, 1, deadline_us);
    if (r < 0 && fd >= 0) {
        pfd.fd = -1; // wait out the time instead: never a busy loop
        r = port_poll_by(&pfd, 1, deadline_us);
    }
    return r > 0; // otherwise the port was looked at when the time ran out
}

void port_sleep_until(int64_t deadline_us)
{
    port_wait_input(-1, deadline_us);
}

int port_waiting(int fd)
{
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
}

ssize_t port_read_by(int fd, void *buf, size_t len, int64_t deadline_us, uint32_t gather_us,
                     PortArrival *arrival)
{
    for (;;) {
        bool readable = port_wait_input(fd, deadline_us);
        int waiting = readable ? port_waiting(fd) : 0;
        if (readable && arrival != nullptr) {
            arrival->at_us = port_now_us();
            arrival->bytes = waiting;
        }
        uint32_t gather_left = gather_left_us(gather_us, waiting);
        if (readable && gather_left > 0) {
            // Bytes have begun to arrive: let the rest of the batch come
            // in, so that one read takes them all (never past the deadline).
            int64_t gathered_us = port_now_us() + gather_left;
            port_sleep_until(gathered_us < deadline_us ? gathered_us : deadline_us);
        }
        ssize_t got = read(fd, buf, len);
        if (got > 0 && !readable && arrival != nullptr) {
            // The bytes came in between the last look and the read.
            arrival->at_us = port_now_us();
            arrival->bytes = static_cast<int>(got);
        }
        if (got >= 0 || !readable)
            return got;
        if (errno != EAGAIN && errno != EINTR) {
            port_sleep_until(deadline_us);
            return got;
        }
    }
}
