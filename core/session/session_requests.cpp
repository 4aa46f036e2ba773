// The writes, questions and waits of a session. A request asks the reader
// thread for a moment when no message is arriving, writes its frame on
// the caller's thread and waits until the frame has left the port
// (tcdrain); a question then waits for the reader to hand it the answer
// that carries its echo. Scans that arrive meanwhile are the reader's:
// they are queued for the next scan_session_wait_scan.
#include "session_state.h"
#include "logtext.h"
#include "operations.h"
#include "clock.h"
#include "frames.h"
#include "line.h"
#include "log.h"
#include "port.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <termios.h>

namespace {

// Waits until the request has reached `until` (or is done). Returns its
// state then, or REQUEST_DONE with a lost port when the reader never came.
int wait_request(Session *s, int until)
{
    int64_t give_up_us = port_now_us() + kRequestLongestMs * 1000;
    for (;;) {
        pthread_mutex_lock(&s->lock);
        int st = s->request.state;
        pthread_mutex_unlock(&s->lock);
        if (st == until || st == REQUEST_DONE)
            return st;
        struct pollfd pfd;
        pfd.fd = s->done_fd;
        pfd.events = POLLIN;
        if (port_poll_by(&pfd, 1, give_up_us) == 0) {
            pthread_mutex_lock(&s->lock);
            s->request.state = REQUEST_DONE;
            s->request.result = SCAN_SESSION_PORT_LOST;
            pthread_mutex_unlock(&s->lock);
            return REQUEST_DONE;
        }
        session_drain(s->done_fd);
    }
}

// Writes the frame whole and waits until it has left the port.
bool write_out(int fd, const unsigned char *frame, size_t len)
{
    if (port_write_frame(fd, frame, len) != static_cast<int>(len))
        return false;
    int drained;
    while ((drained = tcdrain(fd)) == -1 && errno == EINTR) {
    }
    return drained == 0;
}

// One request on the held port: the frame, and for a question (echo
// given) its answer. Returns 0 (len for a write alone) or a negative
// ScanSessionError; errno tells why a frame was not sent.
int request(Session *s, const unsigned char *frame, size_t len, const char *echo,
            size_t echo_len, size_t min_len, SessionAnswer *answer, const WriteReport &report)
{
    FineSlack fine;
    pthread_mutex_lock(&s->requests);
    int result = SCAN_SESSION_PORT_LOST;
    pthread_mutex_lock(&s->lock);
    bool usable = !s->lost && __atomic_load_n(&s->state, __ATOMIC_SEQ_CST) == SESSION_OPEN;
    if (usable) {
        SessionRequest *q = &s->request;
        memset(q, 0, sizeof *q);
        q->state = REQUEST_WANT;
        q->question = echo != nullptr;
        if (q->question)
            memcpy(q->echo, echo, echo_len);
        q->echo_len = echo_len;
        q->min_len = min_len;
    }
    pthread_mutex_unlock(&s->lock);
    if (usable) {
        session_poke(s->ctl_fd);
        if (wait_request(s, REQUEST_GO) == REQUEST_GO) {
            bool sent = write_out(s->fd, frame, len);
            int err = errno;
            pthread_mutex_lock(&s->lock);
            if (s->request.state == REQUEST_GO) {
                s->request.sent_us = port_now_us();
                s->request.state = sent && echo != nullptr ? REQUEST_SENT : REQUEST_NONE;
            }
            pthread_mutex_unlock(&s->lock);
            session_poke(s->ctl_fd);
            errno = err;
            report.written(report.ctx, sent ? static_cast<int>(len) : -1);
            if (!sent)
                result = SCAN_SESSION_NOT_SENT;
            else if (echo == nullptr)
                result = static_cast<int>(len);
            else
                wait_request(s, REQUEST_DONE);
            errno = err;
        }
        pthread_mutex_lock(&s->lock);
        if (s->request.state == REQUEST_DONE) {
            result = s->request.result;
            if (answer != nullptr)
                *answer = s->request.answer;
        }
        s->request.state = REQUEST_NONE;
        pthread_mutex_unlock(&s->lock);
    }
    pthread_mutex_unlock(&s->requests);
    return result;
}

// Where a session call's write is logged, as the session logs it: the
// bytes written, or why not.
struct SessionWrite {
    const char *sig;
    const unsigned char *frame;
    size_t len;
};

void log_session_write(void *ctx, int ret)
{
    const SessionWrite *w = static_cast<const SessionWrite *>(ctx);
    if (ret < 0) {
        CORE_LOG(PRIO_ERROR, FMT_S_WRITE_FAIL, w->sig, errno);
        return;
    }
    CORE_LOG(PRIO_DEBUG, FMT_S_WRITE, w->sig, static_cast<int>(w->len));
    log_hex_lines(w->sig, HEX_OUT, w->frame, w->len);
}

// A session call, counted in from entry to return so that a close waits
// for it: s is null, after one line, when the handle names no open session.
struct Call {
    Session *s;
    Call(ScanSession *handle, const char *sig) : s(session_call_in(handle, sig)) {}
    ~Call()
    {
        if (s != nullptr)
            session_leave(s);
    }
};

// A question that writes its answer into the caller's buffer needs one.
bool has_buffer(const char *sig, const void *buffer)
{
    if (buffer != nullptr)
        return true;
    CORE_LOG(PRIO_ERROR, FMT_S_NO_BUFFER, sig);
    return false;
}

} // namespace

int session_send(Session *s, const unsigned char *frame, size_t len, const WriteReport &report)
{
    return request(s, frame, len, nullptr, 0, 0, nullptr, report);
}

int session_ask(Session *s, const unsigned char *frame, size_t len, size_t min_len,
                SessionAnswer *answer, const WriteReport &report)
{
    const char *echo = reinterpret_cast<const char *>(frame + kQuestionHeaderLen);
    return request(s, frame, len, echo, question_echo_len(len), min_len, answer, report);
}

namespace {

// An operation on the session: its arguments checked, its frame written,
// and for a question the result of its answer, logged as the session logs.
int run(ScanSession *h, const char *sig, OpCall c, char *value = nullptr)
{
    Call call(h, sig);
    if (call.s == nullptr || !op_accepted(sig, &c))
        return SCAN_SESSION_INVALID;
    size_t answer_min = op_answer_min(c.id);
    if (answer_min > 0 && c.id != OP_CHECK_TYPE && !has_buffer(sig, value))
        return SCAN_SESSION_INVALID;
    op_frame(&c);
    SessionWrite w = {sig, c.frame, c.len};
    const WriteReport report = {log_session_write, &w};
    if (answer_min == 0)
        return session_send(call.s, c.frame, c.len, report);
    SessionAnswer answer;
    int r = session_ask(call.s, c.frame, c.len, answer_min, &answer, report);
    if (r == 0) {
        CORE_LOG(PRIO_DEBUG, FMT_S_REPLY, sig, static_cast<int>(answer.len));
        log_hex_lines(sig, HEX_IN, answer.bytes, answer.len);
        if (answer.refused)
            r = SCAN_SESSION_NO_ANSWER;
    }
    if (r == SCAN_SESSION_NO_ANSWER)
        CORE_LOG(PRIO_ERROR, FMT_S_NO_ANSWER, sig);
    if (r < 0)
        return r;
    r = op_result(c, answer.bytes, answer.len, value);
    const char *shown = c.id != OP_CHECK_TYPE ? value : r ? ANSWER_ENABLED : ANSWER_DISABLED;
    CORE_LOG(PRIO_DEBUG, FMT_S_ANSWER, sig, shown);
    return r;
}

} // namespace

extern "C" int scan_session_open_dev(ScanSession *h, bool open)
{
    return run(h, SIG_S_OPEN_DEV, op_call(OP_OPEN_DEV, open, 0, nullptr));
}

extern "C" int scan_session_enable_type(ScanSession *h, bool enable, int type)
{
    return run(h, SIG_S_ENABLE_TYPE, op_call(OP_ENABLE_TYPE, enable, type, nullptr));
}

extern "C" int scan_session_set_timeout(ScanSession *h, int timeout)
{
    return run(h, SIG_S_SET_TIMEOUT, op_call(OP_SET_TIMEOUT, false, timeout, nullptr));
}

extern "C" int scan_session_set_command(ScanSession *h, const char *command)
{
    return run(h, SIG_S_SET_COMMAND, op_call(OP_SET_COMMAND, false, 0, command));
}

extern "C" int scan_session_profile(ScanSession *h)
{
    return run(h, SIG_S_PROFILE, op_call(OP_PROFILE, false, 0, nullptr));
}

extern "C" int scan_session_check_type(ScanSession *h, int type)
{
    return run(h, SIG_S_CHECK_TYPE, op_call(OP_CHECK_TYPE, false, type, nullptr));
}

extern "C" int scan_session_get_timeout(ScanSession *h, char value[5])
{
    return run(h, SIG_S_GET_TIMEOUT, op_call(OP_GET_TIMEOUT, false, 0, nullptr), value);
}

extern "C" int scan_session_query(ScanSession *h, int number, char value[16])
{
    return run(h, SIG_S_QUERY, op_call(OP_QUERY, false, number, nullptr), value);
}

extern "C" int scan_session_wait_scan(ScanSession *h, int timeout_ms, unsigned char *buf,
                                      size_t cap, int64_t *first_byte_us)
{
    const char *sig = SIG_S_WAIT_SCAN;
    Call call(h, sig);
    if (call.s == nullptr || !has_buffer(sig, cap > 0 ? buf : nullptr))
        return SCAN_SESSION_INVALID;
    Session *s = call.s;
    int64_t wait_us = timeout_ms > 0 ? static_cast<int64_t>(timeout_ms) * 1000 : 0;
    int64_t deadline_us = port_now_us() + wait_us;
    for (;;) {
        pthread_mutex_lock(&s->lock);
        bool lost = s->lost;
        int64_t first_us = 0;
        int n = s->queue.count > 0
                    ? static_cast<int>(queue_pop(&s->queue, buf, cap, &first_us))
                    : -1;
        pthread_mutex_unlock(&s->lock);
        if (n >= 0) {
            if (first_byte_us != nullptr)
                *first_byte_us = first_us;
            return n;
        }
        if (lost)
            return SCAN_SESSION_PORT_LOST;
        if (__atomic_load_n(&s->state, __ATOMIC_SEQ_CST) != SESSION_OPEN)
            return 0; // closing
        struct pollfd fds[2];
        fds[0].fd = s->scan_fd;
        fds[0].events = POLLIN;
        fds[1].fd = s->wake_fd;
        fds[1].events = POLLIN;
        if (port_poll_by(fds, 2, deadline_us) <= 0)
            return 0; // the time ran out
        if (fds[1].revents & POLLIN) {
            session_drain(s->wake_fd);
            return 0;
        }
        session_drain(s->scan_fd);
    }
}
