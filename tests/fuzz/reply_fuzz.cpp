// The answers of the three questions, taken out of arbitrary reads.
//
// Input: one byte that sets the echo length of the query (0 to 16; the
// echo is the first bytes of the first read, or of "861001" padded), then
// reads, each a length byte L and its bytes: L % 18 - 1 is what the read
// returns (-1 a failed read, else 0 to 16 bytes, fewer when the input runs
// out). Each question feeds the reads to a reply stream the way the core
// does (each read's bytes up to its first zero byte; a zero byte starts the
// stream anew) and takes its answer from the reply found at the end.
#include "fuzz_check.h"
#include "reply.h"

#include <stddef.h>
#include <stdint.h>

namespace {

const int kMaxReads = 64;

struct Reads {
    const uint8_t *data;
    size_t size;
};

// Feeds the reads; returns true with the reply found at the stream's end.
bool poll(Reads in, ReplyStream *s, size_t min_len, Reply *reply)
{
    reply_stream_clear(s);
    for (int i = 0; i < kMaxReads && in.size > 0; i++) {
        long got = static_cast<long>(in.data[0] % (kReplyBufLen + 2)) - 1;
        in.data++;
        in.size--;
        if (got < 0)
            continue;
        if (static_cast<size_t>(got) > in.size)
            got = static_cast<long>(in.size);
        auto buf = exact_buffer<unsigned char>(kReplyBufLen);
        if (got > 0)
            memcpy(buf.get(), in.data, static_cast<size_t>(got));
        in.data += got;
        in.size -= static_cast<size_t>(got);

        size_t n = text_len(buf.get(), got);
        FUZZ_REQUIRE(n <= static_cast<size_t>(got));
        FUZZ_REQUIRE(no_zero(buf.get(), n));
        reply_stream_append(s, buf.get(), n);
        FUZZ_REQUIRE(s->len <= kReplyBufLen);
        if (reply_find(s, min_len, reply)) {
            // Inside the stream, at its end, long enough, ACK second to last.
            FUZZ_REQUIRE(reply->text >= s->bytes && reply->text + reply->n == s->bytes + s->len);
            FUZZ_REQUIRE(reply->n >= 2 && reply->n >= min_len && reply->text[reply->n - 2] == kAck);
            FUZZ_REQUIRE(no_zero(reply->text, reply->n));
            return true;
        }
        if (n < static_cast<size_t>(got))
            reply_stream_clear(s);
    }
    return false;
}

void check_question(Reads in)
{
    ReplyStream s;
    Reply r;
    if (!poll(in, &s, kCheckReplyMin, &r))
        return;
    bool enabled = check_reply_enabled(r.text, r.n);
    FUZZ_REQUIRE(enabled == (r.text[r.n - 3] == '1'));
}

void timeout_question(Reads in)
{
    ReplyStream s;
    Reply r;
    if (!poll(in, &s, kTimeoutReplyMin, &r))
        return;
    auto value = exact_buffer<char>(5);
    timeout_reply_value(r.text, r.n, value.get());
    // The four bytes right before the ACK byte, none of them zero.
    FUZZ_REQUIRE(strlen(value.get()) == 4);
    FUZZ_REQUIRE(memcmp(value.get(), r.text + r.n - 6, 4) == 0);
}

void query_question(Reads in, const char *echo, size_t echo_len)
{
    ReplyStream s;
    Reply r;
    if (!poll(in, &s, kQueryReplyMin, &r))
        return;
    // The value buffer is as small as the function allows: n - 1 bytes.
    auto value = exact_buffer<char>(r.n - 1);
    size_t k = query_reply_value(r.text, r.n, echo, echo_len, value.get());
    FUZZ_REQUIRE(strlen(value.get()) == k);
    // A run of bytes that ends right before the ACK byte, after the echo
    // or at least after echo_len bytes.
    FUZZ_REQUIRE(k + 2 <= r.n);
    FUZZ_REQUIRE(memcmp(value.get(), r.text + r.n - 2 - k, k) == 0);
    const unsigned char *from = r.text + r.n - 2 - k;
    bool after_echo = static_cast<size_t>(from - r.text) >= echo_len &&
                      memcmp(from - echo_len, echo, echo_len) == 0;
    FUZZ_REQUIRE(k == 0 || after_echo || from == r.text + echo_len);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t echo_len = data[0] % (kReplyBufLen + 1);
    char echo[kReplyBufLen + 1] = "861001";
    for (size_t i = 6; i < echo_len; i++)
        echo[i] = '0';
    Reads reads = {data + 1, size - 1};
    check_question(reads);
    timeout_question(reads);
    query_question(reads, echo, echo_len);
    return 0;
}
