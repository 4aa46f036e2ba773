#include "reply.h"

#include <string.h>

size_t text_len(const void *buf, long got)
{
    if (got <= 0)
        return 0;
    const void *zero = memchr(buf, 0, static_cast<size_t>(got));
    if (zero)
        return static_cast<size_t>(static_cast<const unsigned char *>(zero) -
                                   static_cast<const unsigned char *>(buf));
    return static_cast<size_t>(got);
}

void reply_stream_clear(ReplyStream *s)
{
    s->len = 0;
}

void reply_stream_append(ReplyStream *s, const unsigned char *p, size_t n)
{
    if (n >= kReplyBufLen) {
        memcpy(s->bytes, p + n - kReplyBufLen, kReplyBufLen);
        s->len = kReplyBufLen;
        return;
    }
    size_t keep = s->len + n > kReplyBufLen ? kReplyBufLen - n : s->len;
    memmove(s->bytes, s->bytes + s->len - keep, keep);
    memcpy(s->bytes + keep, p, n);
    s->len = keep + n;
}

bool reply_find(const ReplyStream *s, size_t min_len, Reply *out)
{
    size_t n = s->len;
    if (n < 2 || s->bytes[n - 2] != kAck)
        return false;
    // An earlier ACK byte ends an earlier message together with the byte
    // after it; the reply starts behind them, never before its own ACK.
    size_t start = 0;
    for (size_t i = n - 2; i-- > 0;) {
        if (s->bytes[i] == kAck) {
            start = i + 2 < n - 2 ? i + 2 : n - 2;
            break;
        }
    }
    if (!reply_accepted(s->bytes + start, n - start, min_len))
        return false;
    out->text = s->bytes + start;
    out->n = n - start;
    return true;
}

bool reply_find_in(ReplyStream *s, const unsigned char *p, size_t n, size_t min_len, Reply *out,
                   size_t *used)
{
    for (size_t i = 0; i < n; i++) {
        if (p[i] == 0) {
            reply_stream_clear(s);
            continue;
        }
        reply_stream_append(s, p + i, 1);
        if (reply_find(s, min_len, out)) {
            *used = i + 1;
            return true;
        }
    }
    return false;
}

bool reply_accepted(const unsigned char *reply, size_t n, size_t min_len)
{
    return n >= 2 && n >= min_len && reply[n - 2] == kAck;
}

bool check_reply_enabled(const unsigned char *reply, size_t n)
{
    return reply[n - 3] == '1';
}

void timeout_reply_value(const unsigned char *reply, size_t n, char value[5])
{
    memcpy(value, reply + n - 6, 4);
    value[4] = '\0';
}

bool reply_echo_at(const unsigned char *reply, size_t n, const char *echo, size_t echo_len,
                   size_t *at)
{
    size_t end = n >= 2 ? n - 2 : 0; // the ACK byte's position
    for (size_t p = 0; echo_len > 0 && p + echo_len <= end; p++) {
        if (memcmp(reply + p, echo, echo_len) == 0) {
            *at = p;
            return true;
        }
    }
    return false;
}

size_t query_reply_value(const unsigned char *reply, size_t n, const char *echo, size_t echo_len,
                         char *value)
{
    size_t end = n >= 2 ? n - 2 : 0; // the ACK byte's position
    size_t from = echo_len;
    if (reply_echo_at(reply, n, echo, echo_len, &from))
        from += echo_len;
    size_t k = end > from ? end - from : 0;
    if (k > 0)
        memcpy(value, reply + from, k);
    value[k] = '\0';
    return k;
}

AnswerForm answer_at(const unsigned char *p, size_t n, const char *echo, size_t echo_len,
                     size_t min_len, size_t *len)
{
    const size_t longest = kReplyBufLen - 1;
    if (echo_len == 0 || echo_len + 2 > longest)
        return AnswerForm::None;
    size_t head = n < echo_len ? n : echo_len;
    if (memcmp(p, echo, head) != 0)
        return AnswerForm::None;
    for (size_t i = echo_len; i < n && i + 1 < longest; i++) {
        if (p[i] == 0)
            return AnswerForm::None;
        if (p[i] != kAck && p[i] != kNak)
            continue;
        if (p[i] == kAck && i + 2 - echo_len < min_len)
            return AnswerForm::None;
        if (i + 1 == n)
            return AnswerForm::Partial;
        if (p[i + 1] == 0)
            return AnswerForm::None;
        *len = i + 2;
        return AnswerForm::Whole;
    }
    return n + 1 < longest ? AnswerForm::Partial : AnswerForm::None;
}
