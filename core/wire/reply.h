// Reading the engine's answers, without any I/O.
//
// A reply is the value's text followed by the ACK byte 0x06 and one final
// byte, possibly after an echo; it is at most 15 bytes long and holds no
// zero byte. The engine's bytes reach the library over several reads, so
// the bytes of one question's exchange are gathered in a ReplyStream and
// the reply is looked for at the stream's end, where it has to stand.
#ifndef SCANJNI_CORE_REPLY_H
#define SCANJNI_CORE_REPLY_H

#include <stddef.h>

constexpr unsigned char kAck = 0x06;
// What the engine puts in the ACK byte's place when it refuses a question
// (a setting it does not know).
constexpr unsigned char kNak = 0x15;
constexpr size_t kReplyBufLen = 16;
constexpr size_t kScanBufLen = 8192;

// Shortest reply that holds a value for each question.
constexpr size_t kCheckReplyMin = 3;   // value, ACK, final byte
constexpr size_t kTimeoutReplyMin = 6; // four value bytes, ACK, final byte
constexpr size_t kQueryReplyMin = 2;   // ACK, final byte

// Characters of the timeout's value in its reply.
constexpr size_t kTimeoutValueLen = 4;

// Length of the text in the first got bytes of buf: up to the first zero
// byte among them, or got when there is none; 0 when got is not positive.
size_t text_len(const void *buf, long got);

// The bytes of one exchange, oldest first. Only the newest kReplyBufLen
// are kept: that is more than the longest reply, and what went before it
// can only be noise.
struct ReplyStream {
    unsigned char bytes[kReplyBufLen];
    size_t len;
};

void reply_stream_clear(ReplyStream *s);

// Adds n bytes at the end, dropping the oldest bytes beyond kReplyBufLen.
void reply_stream_append(ReplyStream *s, const unsigned char *p, size_t n);

// The reply that the stream ends in: the bytes after the last earlier
// message (an earlier ACK byte and the final byte after it) up to the end.
struct Reply {
    const unsigned char *text;
    size_t n;
};

// True, with the reply in *out, when the stream ends in a reply: its
// second-to-last byte is the ACK byte and the reply, counted from the end
// of any earlier message in the stream, holds at least min_len bytes.
bool reply_find(const ReplyStream *s, size_t min_len, Reply *out);

// Adds the n bytes of a read to the stream one at a time and stops as soon
// as the stream ends in a reply (reply_find), so that bytes that follow a
// reply in the same read are not taken for part of it. A zero byte
// empties the stream instead of joining it: a reply holds none. True, with
// the reply in *out and in *used how many of the n bytes were taken (the
// reply's last byte is the last of them), when a reply was found.
bool reply_find_in(ReplyStream *s, const unsigned char *p, size_t n, size_t min_len, Reply *out,
                   size_t *used);

// True when the reply text holds at least min_len bytes and its
// second-to-last byte is the ACK byte.
bool reply_accepted(const unsigned char *reply, size_t n, size_t min_len);

// Check reply: enabled when the byte before the ACK byte is '1'.
bool check_reply_enabled(const unsigned char *reply, size_t n);

// Timeout reply: the four bytes before the ACK byte, zero-terminated.
void timeout_reply_value(const unsigned char *reply, size_t n, char value[5]);

// Where the echoed number text (echo, echo_len bytes) stands in the reply:
// its first copy, looked for from the reply's start, that ends before the
// ACK byte. True, with its offset in *at, when there is one.
bool reply_echo_at(const unsigned char *reply, size_t n, const char *echo, size_t echo_len,
                   size_t *at);

// Query reply: the bytes between the echoed number text (echo, echo_len
// bytes) and the ACK byte, zero-terminated in value (at least n - 1
// bytes). The echo is looked for from the reply's start, so that noise
// ahead of the reply is skipped; where it is not found, the first echo_len
// bytes are skipped instead. Returns the value's length; 0 when nothing
// stands between the echo and the ACK byte.
size_t query_reply_value(const unsigned char *reply, size_t n, const char *echo, size_t echo_len,
                         char *value);

// The engine's answer to a question, as the held port tells it from scan
// data: the question's echo (its number text), value bytes, the ACK or NAK
// byte and one final byte, at most kReplyBufLen - 1 bytes in all, no zero
// byte. An accepted answer (ACK) holds at least min_len bytes after the
// echo; a refusal (NAK) may hold no value.
enum class AnswerForm {
    None,    // p does not begin with such an answer, nor could it
    Partial, // p is the start of one: more bytes may complete it
    Whole    // p begins with a whole one (its length in *len)
};
AnswerForm answer_at(const unsigned char *p, size_t n, const char *echo, size_t echo_len,
                     size_t min_len, size_t *len);

#endif
