#include "exchange.h"
#include "logtext.h"
#include "clock.h"
#include "frames.h"
#include "line.h"
#include "log.h"
#include "reader.h"
#include "session_route.h"

#include <string.h>

namespace {

// The reply being read: where it is looked for, and how long it is at
// least (the echo and the shortest value), which tells how long its
// missing bytes need on the wire.
struct ReplyRead {
    ReplyStream *stream;
    size_t min_len;    // shortest reply that holds a value
    size_t expect_len; // the echo and the shortest reply
    size_t seen;       // bytes read in this exchange
};

enum class Attempt { Found, Nothing, SomeBytes };

// One attempt of the reply poll, until deadline_us. Every read that brings
// bytes is logged and joins the stream. A read that brings nothing on a
// readable port (a hung-up line) ends the attempt at its deadline.
Attempt reply_attempt(int fd, const char *sig, int64_t deadline_us, ReplyRead *r, Reply *reply,
                      ssize_t *last_read)
{
    bool got_bytes = false;
    for (;;) {
        unsigned char buf[kReplyBufLen];
        ssize_t got = line_read_by(fd, buf, sizeof buf, deadline_us,
                                   reply_gather_us(r->expect_len, r->seen), nullptr);
        *last_read = got;
        if (got == 0)
            port_sleep_until(deadline_us);
        if (got <= 0)
            break;
        got_bytes = true;
        r->seen += static_cast<size_t>(got);
        size_t n = text_len(buf, got);
        log_byte_lines(sig, buf, n);
        // Judged at the end of each read: a reply is the text that a read
        // ends in, so bytes after an ACK in the same read make it none.
        reply_stream_append(r->stream, buf, n);
        if (reply_find(r->stream, r->min_len, reply))
            return Attempt::Found;
        // A reply holds no zero byte: nothing before one can be part of it.
        if (n < static_cast<size_t>(got))
            reply_stream_clear(r->stream);
    }
    return got_bytes ? Attempt::SomeBytes : Attempt::Nothing;
}

// The reply poll of a port cycle.
bool poll_reply(int fd, const char *sig, size_t min_len, size_t expect_len, ReplyStream *stream,
                Reply *reply)
{
    reply_stream_clear(stream);
    ReplyRead r = {stream, min_len, expect_len, 0};
    int64_t deadline_us = port_now_us();
    for (int attempt = 0; attempt < kReplyAttempts; attempt++) {
        deadline_us += kPollIntervalMs * 1000;
        ssize_t last_read = -1;
        Attempt a = reply_attempt(fd, sig, deadline_us, &r, reply, &last_read);
        if (a == Attempt::Found)
            return true;
        if (a == Attempt::Nothing && last_read < 0)
            CORE_LOG(PRIO_ERROR, FMT_REPLY_ERROR, sig,
                     static_cast<int>(last_read));
    }
    return false;
}

// A per-call write on the held port, logged with the operation's own
// line the moment the frame has left (or could not).
struct CallWrite {
    const char *sig;
    const char *what;
    int fail_prio;
    bool logged;
};

void log_call_write(void *ctx, int ret)
{
    CallWrite *w = static_cast<CallWrite *>(ctx);
    log_write_result(w->sig, w->what, ret, w->fail_prio);
    w->logged = true;
}

} // namespace

bool call_open(const char *sig, int cfg_fail_prio, CallPort *port)
{
    port->session = session_enter();
    if (port->session != nullptr) {
        CORE_LOG(PRIO_DEBUG, FMT_ON_HELD_PORT, sig);
        return true;
    }
    bool opened = port_open(sig, cfg_fail_prio, &port->cycle);
    session_cycle_locked();
    return opened;
}

void call_close(CallPort *port)
{
    if (port->session != nullptr)
        session_leave(port->session);
    else
        port_close(&port->cycle);
}

int send_frame(const WriteOp &op, const void *frame, size_t len)
{
    CallPort port;
    if (!call_open(op.sig, op.cfg_fail_prio, &port))
        return op.fail_result;
    const unsigned char *bytes = static_cast<const unsigned char *>(frame);
    int ret;
    if (port.session == nullptr) {
        ret = port_write_frame(port.cycle.fd, bytes, len);
        log_write_result(op.sig, op.what, ret, op.write_fail_prio);
    } else {
        CallWrite w = {op.sig, op.what, op.write_fail_prio, false};
        int r = session_send(port.session, bytes, len, WriteReport{log_call_write, &w});
        ret = r < 0 ? -1 : r;
        if (!w.logged) // the request never came to its write
            log_write_result(op.sig, op.what, ret, op.write_fail_prio);
    }
    if (op.settle)
        port_sleep_until(port_now_us() + kSettleMs * 1000);
    call_close(&port);
    return ret;
}

bool ask(CallPort *port, const char *sig, const char *what, const unsigned char *frame,
         size_t len, size_t min_len, ReplyStream *stream, Reply *reply)
{
    if (port->session == nullptr) {
        int ret = port_write_frame(port->cycle.fd, frame, len);
        log_write_result(sig, what, ret, PRIO_ERROR);
        return poll_reply(port->cycle.fd, sig, min_len, question_echo_len(len) + min_len, stream,
                          reply);
    }
    SessionAnswer answer;
    CallWrite w = {sig, what, PRIO_ERROR, false};
    int r = session_ask(port->session, frame, len, min_len, &answer, WriteReport{log_call_write, &w});
    if (!w.logged) // the request never came to its write
        log_write_result(sig, what, -1, PRIO_ERROR);
    if (r == 0) {
        log_byte_lines(sig, answer.bytes, answer.len);
        memcpy(stream->bytes, answer.bytes, answer.len);
        stream->len = answer.len;
        reply->text = stream->bytes;
        reply->n = answer.len;
        if (reply_accepted(reply->text, reply->n, min_len)) // a refusal ends in NAK
            return true;
    }
    CORE_LOG(PRIO_ERROR, FMT_S_NO_ANSWER, sig);
    return false;
}
