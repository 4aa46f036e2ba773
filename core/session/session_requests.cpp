// The writes, questions and waits of a session. A request asks the reader
// thread for a moment when no message is arriving, writes its frame on
// the caller's thread and waits until the frame has left the port
// (tcdrain); a question then waits for the reader to hand it the answer
// that carries its echo. Scans that arrive meanwhile are the reader's:
// they are queued for the next scan_session_wait_scan.
#include "session_state.h"
#include "logtext.h"
#include "arg_checks.h"
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

int send_logged(Session *s, const char *sig, const unsigned char *frame, size_t len)
{
    SessionWrite w = {sig, frame, len};
    return session_send(s, frame, len, WriteReport{log_session_write, &w});
}

// A session call's question: the frame and the answer, logged; 0 with the
// answer in *answer, or a negative ScanSessionError.
int ask_logged(Session *s, const char *sig, const unsigned char *frame, size_t len,
               size_t min_len, SessionAnswer *answer)
{
    SessionWrite w = {sig, frame, len};
    int r = session_ask(s, frame, len, min_len, answer, WriteReport{log_session_write, &w});
    if (r == 0) {
        CORE_LOG(PRIO_DEBUG, FMT_S_REPLY, sig, static_cast<int>(answer->len));
        log_hex_lines(sig, HEX_IN, answer->bytes, answer->len);
        if (answer->refused)
            r = SCAN_SESSION_NO_ANSWER;
    }
    if (r == SCAN_SESSION_NO_ANSWER)
        CORE_LOG(PRIO_ERROR, FMT_S_NO_ANSWER, sig);
    return r;
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

extern "C" int scan_session_open_dev(ScanSession *h, bool open)
{
    static const char sig[] = SIG_S_OPEN_DEV;
    Call call(h, sig);
    if (call.s == nullptr)
        return SCAN_SESSION_INVALID;
    return send_logged(call.s, sig, open ? kOpenFrame : kCloseFrame, kControlFrameLen);
}

extern "C" int scan_session_enable_type(ScanSession *h, bool enable, int type)
{
    static const char sig[] = SIG_S_ENABLE_TYPE;
    Call call(h, sig);
    if (call.s == nullptr || !type_accepted(sig, type))
        return SCAN_SESSION_INVALID;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(enable ? TYPE_ENABLE : TYPE_DISABLE, type, frame);
    return send_logged(call.s, sig, frame, len);
}

extern "C" int scan_session_set_timeout(ScanSession *h, int timeout)
{
    static const char sig[] = SIG_S_SET_TIMEOUT;
    Call call(h, sig);
    if (call.s == nullptr || !timeout_accepted(sig, timeout))
        return SCAN_SESSION_INVALID;
    char text[5];
    unsigned char frame[kTimeoutFrameLen];
    timeout_text(timeout, text);
    timeout_frame(text, frame);
    return send_logged(call.s, sig, frame, kTimeoutFrameLen);
}

extern "C" int scan_session_set_command(ScanSession *h, const char *command)
{
    static const char sig[] = SIG_S_SET_COMMAND;
    Call call(h, sig);
    size_t n = 0;
    if (call.s == nullptr || !command_accepted(sig, command, &n))
        return SCAN_SESSION_INVALID;
    unsigned char frame[kCommandFrameMax];
    size_t len = command_frame(command, n, frame);
    return send_logged(call.s, sig, frame, len);
}

extern "C" int scan_session_profile(ScanSession *h)
{
    static const char sig[] = SIG_S_PROFILE;
    Call call(h, sig);
    if (call.s == nullptr)
        return SCAN_SESSION_INVALID;
    return send_logged(call.s, sig, kProfileFrame, kProfileFrameLen);
}

extern "C" int scan_session_check_type(ScanSession *h, int type)
{
    static const char sig[] = SIG_S_CHECK_TYPE;
    Call call(h, sig);
    if (call.s == nullptr || !type_accepted(sig, type))
        return SCAN_SESSION_INVALID;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(TYPE_CHECK, type, frame);
    SessionAnswer answer;
    int r = ask_logged(call.s, sig, frame, len, kCheckReplyMin, &answer);
    if (r < 0)
        return r;
    bool enabled = check_reply_enabled(answer.bytes, answer.len);
    CORE_LOG(PRIO_DEBUG, FMT_S_ANSWER, sig, enabled ? ANSWER_ENABLED : ANSWER_DISABLED);
    return enabled ? 1 : 0;
}

extern "C" int scan_session_get_timeout(ScanSession *h, char value[5])
{
    static const char sig[] = SIG_S_GET_TIMEOUT;
    Call call(h, sig);
    if (call.s == nullptr || !has_buffer(sig, value))
        return SCAN_SESSION_INVALID;
    SessionAnswer answer;
    int r = ask_logged(call.s, sig, kTimeoutQueryFrame, kTimeoutQueryFrameLen, kTimeoutReplyMin,
                       &answer);
    if (r < 0)
        return r;
    timeout_reply_value(answer.bytes, answer.len, value);
    CORE_LOG(PRIO_DEBUG, FMT_S_ANSWER, sig, value);
    return static_cast<int>(kTimeoutValueLen);
}

extern "C" int scan_session_query(ScanSession *h, int number, char value[16])
{
    static const char sig[] = SIG_S_QUERY;
    Call call(h, sig);
    if (call.s == nullptr || !has_buffer(sig, value))
        return SCAN_SESSION_INVALID;
    char text[16];
    unsigned char frame[kQueryFrameMax];
    size_t text_len = query_text(number, text);
    size_t len = query_frame(text, text_len, frame);
    SessionAnswer answer;
    int r = ask_logged(call.s, sig, frame, len, kQueryReplyMin, &answer);
    if (r < 0)
        return r;
    size_t n = query_reply_value(answer.bytes, answer.len, text, text_len, value);
    CORE_LOG(PRIO_DEBUG, FMT_S_ANSWER, sig, value);
    return static_cast<int>(n);
}

extern "C" int scan_session_wait_scan(ScanSession *h, int timeout_ms, unsigned char *buf,
                                      size_t cap, int64_t *first_byte_us)
{
    static const char sig[] = SIG_S_WAIT_SCAN;
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
