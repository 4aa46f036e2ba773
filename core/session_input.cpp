// Reading the held port: waits that a wake can end, messages read in
// batches up to the line's quiet gap, the scans kept while requests run,
// and the loss of the port. Nothing is read or logged while the line is
// idle: a wait that finds no input makes no read.
#include "session_state.h"
#include "line.h"
#include "log.h"
#include "port.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

namespace {

// Events that mean the port is gone, whatever else it reports.
const short kPortGone = POLLHUP | POLLERR | POLLNVAL;

// Copies the oldest kept scan into buf (cut to cap) and lets it go.
// Returns the bytes copied.
int hand_out(ScanSession *s, unsigned char *buf, size_t cap, int64_t *first_byte_us)
{
    SessionMessage *m = &s->pending[s->pending_head];
    size_t n = m->len < cap ? m->len : cap;
    memcpy(buf, m->bytes, n);
    if (first_byte_us != nullptr)
        *first_byte_us = m->first_us;
    s->pending_head = (s->pending_head + 1) % kPendingScans;
    s->pending_count--;
    return static_cast<int>(n);
}

} // namespace

void session_lost(ScanSession *s, const char *sig, const char *what, int err)
{
    if (s->lost)
        return;
    s->lost = true;
    if (what == nullptr)
        CORE_LOG(PRIO_ERROR, "%s, port hung up", sig);
    else
        CORE_LOG(PRIO_ERROR, "%s, %s fail! errno = %d", sig, what, err);
}

SessionInput session_wait_input(ScanSession *s, const char *sig, int64_t deadline_us, bool wakeable)
{
    struct pollfd fds[2];
    fds[0].fd = s->fd;
    fds[0].events = POLLIN;
    fds[1].fd = wakeable ? s->wake_fd : -1; // ppoll() ignores a negative descriptor
    fds[1].events = POLLIN;
    if (port_poll_by(fds, 2, deadline_us) < 0) {
        session_lost(s, sig, "poll", errno);
        return SessionInput::Lost;
    }
    if (fds[0].revents & kPortGone) {
        session_lost(s, sig, nullptr, 0);
        return SessionInput::Lost;
    }
    if (fds[1].revents & POLLIN) {
        uint64_t count;
        ssize_t got = read(s->wake_fd, &count, sizeof count); // resets the count
        (void)got;
        return SessionInput::Woken;
    }
    return (fds[0].revents & POLLIN) ? SessionInput::Ready : SessionInput::Quiet;
}

void session_begin_message(ScanSession *s, int64_t at_us)
{
    SessionMessage *m = &s->incoming;
    m->len = 0;
    m->first_us = at_us;
    m->last_us = at_us;
    m->tail = s->tail_goes_on;
    s->tail_goes_on = false;
    if (s->first_message) {
        s->first_message = false;
        int waiting = port_waiting(s->fd);
        m->tail = waiting >= 0 &&
                  began_before_flush(at_us - s->flushed_us, static_cast<size_t>(waiting));
    }
}

bool session_read(ScanSession *s, const char *sig)
{
    SessionMessage *m = &s->incoming;
    for (;;) {
        ssize_t got = read(s->fd, m->bytes + m->len, kScanBufLen - m->len);
        if (got > 0) {
            m->len += static_cast<size_t>(got);
            m->last_us = port_now_us();
            return true;
        }
        if (got < 0 && errno == EINTR)
            continue;
        // The port was readable: nothing now (the end of the line, or no
        // bytes at all) means that it is gone, and waiting for it again
        // would only spin.
        if (got == 0)
            session_lost(s, sig, nullptr, 0);
        else
            session_lost(s, sig, "read", errno);
        return false;
    }
}

MessageEnd session_finish_message(ScanSession *s, const char *sig, bool ready, bool wakeable)
{
    SessionMessage *m = &s->incoming;
    int64_t give_up_us = m->first_us + kScanMessageMaxMs * 1000;
    bool arriving = ready;
    while (m->len < kScanBufLen) {
        if (!arriving) {
            // The message is over once the line stays quiet for the gap
            // after its latest bytes.
            int64_t quiet_us = m->last_us + kScanQuietGapMs * 1000;
            SessionInput in = session_wait_input(s, sig, earlier_us(quiet_us, give_up_us), wakeable);
            if (in == SessionInput::Quiet)
                return MessageEnd::Ended;
            if (in == SessionInput::Woken)
                return MessageEnd::Woken;
            if (in == SessionInput::Lost)
                return MessageEnd::Lost;
        }
        // Bytes are arriving: let a batch gather, then look without
        // waiting (a wake is seen there too). While the line stays busy,
        // that is one wakeup a batch.
        port_sleep_until(earlier_us(port_now_us() + kBatchUs, give_up_us));
        SessionInput in = session_wait_input(s, sig, port_now_us(), wakeable);
        if (in == SessionInput::Woken)
            return MessageEnd::Woken;
        if (in == SessionInput::Lost)
            return MessageEnd::Lost;
        arriving = in == SessionInput::Ready;
        if (!arriving)
            continue;
        if (!session_read(s, sig))
            return MessageEnd::Lost;
        if (m->last_us >= give_up_us)
            break;
    }
    return MessageEnd::Ended;
}

Kept session_keep_scan(ScanSession *s, const char *sig)
{
    SessionMessage *m = &s->incoming;
    if (m->tail) {
        CORE_LOG(PRIO_DEBUG, "%s, dropped %d bytes: tail of an earlier message", sig,
                 static_cast<int>(m->len));
        log_hex_lines(sig, "<", m->bytes, m->len);
        s->tail_goes_on = m->len == kScanBufLen;
        m->len = 0;
        return Kept::Dropped;
    }
    if (answers_echo(m->bytes, m->len, s->awaited_echo, s->awaited_echo_len)) {
        CORE_LOG(PRIO_DEBUG, "%s, reply %d bytes", sig, static_cast<int>(m->len));
        log_hex_lines(sig, "<", m->bytes, m->len);
        s->awaited_echo_len = 0;
        m->len = 0;
        return Kept::Answer;
    }
    CORE_LOG(PRIO_DEBUG, "%s, scan %d bytes", sig, static_cast<int>(m->len));
    log_hex_lines(sig, "<", m->bytes, m->len);
    if (s->pending_count == kPendingScans) {
        CORE_LOG(PRIO_ERROR, "%s, dropped %d bytes: no room for another scan", sig,
                 static_cast<int>(m->len));
    } else {
        SessionMessage *kept = &s->pending[(s->pending_head + s->pending_count) % kPendingScans];
        memcpy(kept->bytes, m->bytes, m->len);
        kept->len = m->len;
        kept->first_us = m->first_us;
        kept->last_us = m->last_us;
        s->pending_count++;
    }
    m->len = 0;
    return Kept::Scan;
}

int session_settle_input(ScanSession *s, const char *sig)
{
    if (s->lost)
        return SCAN_SESSION_PORT_LOST;
    bool ready = false;
    if (s->incoming.len == 0) {
        // One look at the port, without waiting.
        SessionInput in = session_wait_input(s, sig, port_now_us(), false);
        if (in == SessionInput::Lost)
            return SCAN_SESSION_PORT_LOST;
        if (in != SessionInput::Ready)
            return 0;
        session_begin_message(s, port_now_us());
        ready = true;
    }
    if (session_finish_message(s, sig, ready, false) == MessageEnd::Lost)
        return SCAN_SESSION_PORT_LOST;
    session_keep_scan(s, sig);
    return 0;
}

int scan_session_wait_scan(ScanSession *s, int timeout_ms, unsigned char *buf, size_t cap,
                           int64_t *first_byte_us)
{
    static const char sig[] =
        "int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)";
    if (!session_usable(s, sig))
        return SCAN_SESSION_INVALID;
    if (buf == nullptr || cap == 0) {
        CORE_LOG(PRIO_ERROR, "%s, no buffer!", sig);
        return SCAN_SESSION_INVALID;
    }
    if (s->lost)
        return SCAN_SESSION_PORT_LOST;
    if (s->pending_count > 0)
        return hand_out(s, buf, cap, first_byte_us);
    FineSlack fine;

    int64_t wait_us = timeout_ms > 0 ? static_cast<int64_t>(timeout_ms) * 1000 : 0;
    int64_t deadline_us = port_now_us() + wait_us;
    for (;;) {
        bool ready = false;
        if (s->incoming.len == 0) {
            SessionInput in = session_wait_input(s, sig, deadline_us, true);
            if (in == SessionInput::Lost)
                return SCAN_SESSION_PORT_LOST;
            if (in != SessionInput::Ready)
                return 0; // the time ran out, or the wait was woken
            session_begin_message(s, port_now_us());
            ready = true;
        }
        // A wake leaves the message as far as it was read; the next wait,
        // or the next request, reads it on.
        MessageEnd end = session_finish_message(s, sig, ready, true);
        if (end == MessageEnd::Lost)
            return SCAN_SESSION_PORT_LOST;
        if (end == MessageEnd::Woken)
            return 0;
        if (session_keep_scan(s, sig) == Kept::Scan)
            return hand_out(s, buf, cap, first_byte_us);
        // That was a late answer to an earlier question, or a tail: wait on.
    }
}
