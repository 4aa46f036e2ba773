#include "reader.h"
#include "clock.h"
#include "line.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <string.h>
#include <unistd.h>

namespace {

// Events that mean the port is gone, whatever else it reports.
const short kPortGone = POLLHUP | POLLERR | POLLNVAL;

} // namespace

LineInput line_wait(const LineReader *r, int64_t deadline_us)
{
    struct pollfd fds[2];
    fds[0].fd = r->fd; // ppoll() ignores a negative descriptor
    fds[0].events = POLLIN;
    fds[1].fd = r->wake_fd;
    fds[1].events = POLLIN;
    if (port_poll_by(fds, 2, deadline_us) < 0)
        return LineInput::Failed;
    if (fds[0].revents & kPortGone)
        return LineInput::Gone;
    if (fds[1].revents & POLLIN) {
        uint64_t count;
        ssize_t got = read(r->wake_fd, &count, sizeof count); // resets the count
        (void)got;
        return LineInput::Woken;
    }
    return (fds[0].revents & POLLIN) ? LineInput::Ready : LineInput::Quiet;
}

int line_waiting(int fd)
{
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 ? waiting : -1;
}

ssize_t line_read_by(int fd, void *buf, size_t len, int64_t deadline_us, uint32_t gather_us,
                     PortArrival *arrival)
{
    const LineReader r = {fd, -1};
    for (;;) {
        LineInput in = line_wait(&r, deadline_us);
        if (in == LineInput::Failed)
            port_sleep_until(deadline_us); // never a busy loop
        // A hung-up port is readable: its read tells the end of the line.
        bool readable = in == LineInput::Ready || in == LineInput::Gone;
        int waiting = readable ? line_waiting(fd) : 0;
        if (readable && arrival != nullptr) {
            arrival->at_us = port_now_us();
            arrival->bytes = waiting;
        }
        uint32_t gather_left = gather_left_us(gather_us, waiting);
        if (readable && gather_left > 0) {
            // Bytes have begun to arrive: let the rest of the batch come
            // in, so that one read takes them all (never past the deadline).
            port_sleep_until(earlier_us(port_now_us() + gather_left, deadline_us));
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

MessageEnd line_read_message(const LineReader *r, LineMessage *m, const MessageWatch *watch)
{
    int64_t give_up_us = m->first_us + kScanMessageMaxMs * 1000;
    while (m->len < m->cap) {
        int64_t now_us = port_now_us();
        if (now_us >= give_up_us)
            return MessageEnd::TooLong;
        // The line is busy: let a batch gather before the next read.
        port_sleep_until(earlier_us(now_us + kBatchUs, give_up_us));
        size_t from = m->len;
        ssize_t got = read(r->fd, m->bytes + m->len, m->cap - m->len);
        if (got > 0) {
            m->len += static_cast<size_t>(got);
            m->last_us = port_now_us();
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            return MessageEnd::Gone;
        }
        if (watch != nullptr && watch->after_read != nullptr && watch->after_read(watch->ctx, m, from))
            return MessageEnd::Watched;
        if (got > 0)
            continue;
        // Nothing in this batch: the message is over once the line stays
        // quiet for the gap after its latest bytes (and, when watched, not
        // before the watch allows).
        int64_t quiet_us = m->last_us + kScanQuietGapMs * 1000;
        if (watch != nullptr && watch->quiet_not_before != nullptr) {
            int64_t not_before_us = watch->quiet_not_before(watch->ctx, m);
            if (not_before_us > quiet_us)
                quiet_us = not_before_us;
        }
        int64_t look_us = earlier_us(quiet_us, give_up_us);
        if (watch != nullptr && watch->look_by != nullptr)
            look_us = earlier_us(look_us, watch->look_by(watch->ctx));
        LineInput in = line_wait(r, look_us);
        if (in == LineInput::Woken)
            return MessageEnd::Woken;
        if (in == LineInput::Gone || in == LineInput::Failed)
            return MessageEnd::Gone;
        now_us = port_now_us();
        if (in == LineInput::Quiet && now_us < quiet_us && now_us < give_up_us)
            continue; // the watch's look: a read, and after_read
        if (in == LineInput::Quiet)
            return now_us >= give_up_us ? MessageEnd::TooLong : MessageEnd::Quiet;
    }
    return MessageEnd::Full;
}

bool line_first_is_tail(int64_t flushed_us, int64_t at_us, int waiting)
{
    return began_before_flush(at_us - flushed_us, waiting > 0 ? static_cast<size_t>(waiting) : 0);
}

size_t line_drop_tail(const LineReader *r, LineMessage *m, int64_t window_end_us, BytesLog log,
                      const char *sig)
{
    size_t dropped = 0;
    for (;;) {
        log(sig, m->bytes, m->len);
        dropped += m->len;
        memset(m->bytes, 0, m->len);
        bool full = m->len == m->cap;
        m->len = 0;
        if (!full || port_now_us() >= window_end_us)
            return dropped;
        m->first_us = port_now_us();
        m->last_us = m->first_us;
        while (line_read_message(r, m, nullptr) == MessageEnd::Woken) {
        }
    }
}
