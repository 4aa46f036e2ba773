#include "port.h"
#include "logtext.h"
#include "clock.h"
#include "log.h"
#include "owner.h"
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const unsigned int kWriteBudgetMs = 100;

// Takes the port for the cycle, or logs why not.
bool take_port(const char *sig, int fd)
{
    unsigned int waited_ms = 0;
    CycleLock lock = owner_lock_cycle(sig, fd, &waited_ms);
    if (lock == CycleLock::SessionHeld) {
        CORE_LOG(PRIO_ERROR, FMT_HELD_ELSEWHERE, sig, errno);
        return false;
    }
    if (lock == CycleLock::CyclesAhead) {
        CORE_LOG(PRIO_ERROR, FMT_CALL_BUSY, sig, errno);
        return false;
    }
    if (waited_ms > 0)
        CORE_LOG(PRIO_DEBUG, FMT_CALL_WAITED, sig, static_cast<int>(waited_ms));
    return true;
}

} // namespace

int port_open_device(int extra_flags)
{
    // Close-on-exec from the open: a child that another thread starts
    // while the port is open must not keep it, nor its lock.
    return open(SCANNER_PORT, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | extra_flags);
}

bool port_open(const char *sig, int cfg_fail_prio, PortCycle *cycle)
{
    int fd = port_open_device(0);
    if (fd == -1) {
        CORE_LOG(PRIO_ERROR, FMT_OPEN_FAIL, sig, -1);
        return false;
    }
    if (!take_port(sig, fd)) {
        close(fd);
        return false;
    }
    if (uart_configure(fd, 115200, 8, 'N', 1, &cycle->flushed_us) == -1) {
        CORE_LOG(cfg_fail_prio, FMT_CFG_FAIL, sig, -1);
        owner_unlock_cycle(fd);
        close(fd);
        return false;
    }
    cycle->fd = fd;
    cycle->slack_ns = port_set_timer_slack(kFineSlackNs);
    return true;
}

void port_close(const PortCycle *cycle)
{
    owner_unlock_cycle(cycle->fd);
    close(cycle->fd);
    if (cycle->slack_ns != kFineSlackNs)
        port_set_timer_slack(cycle->slack_ns);
}

int port_write_frame(int fd, const void *frame, size_t len)
{
    const unsigned char *p = static_cast<const unsigned char *>(frame);
    size_t done = 0;
    int64_t give_up_us = port_now_us() + kWriteBudgetMs * 1000;

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
        if (port_now_us() >= give_up_us)
            return -1;
        struct pollfd pfd;
        pfd.fd = fd;
        pfd.events = POLLOUT;
        port_poll_by(&pfd, 1, give_up_us);
    }
    return static_cast<int>(len);
}
