// The answers of the three questions, taken out of arbitrary reads.
//
// Input: one byte that sets the echo length of the query (0 to 16), then
// up to ten reads, each a length byte L and its bytes. L % 18 - 1 is what
// the read returns (-1 a failed read, else 0 to 16 bytes, fewer when the
// input runs out). Each question polls the same reads the way the core
// does: one 16-byte reply buffer, zeroed once and never cleared between
// reads, the reply text taken from the bytes of the latest read only.
#include "fuzz_check.h"
#include "reply.h"

#include <stddef.h>
#include <stdint.h>

namespace {

const int kAttempts = 10;

struct Reads {
    const uint8_t *data;
    size_t size;
};

// Runs the poll over the reads; returns the accepted reply's length, or
// -1 when none was accepted. reply holds exactly kReplyBufLen bytes.
long poll(Reads in, unsigned char *reply, size_t min_len)
{
    for (int attempt = 0; attempt < kAttempts && in.size > 0; attempt++) {
        long got = static_cast<long>(in.data[0] % (kReplyBufLen + 2)) - 1;
        in.data++;
        in.size--;
        if (got < 0)
            continue; // a failed read stores nothing
        if (static_cast<size_t>(got) > in.size)
            got = static_cast<long>(in.size);
        memcpy(reply, in.data, static_cast<size_t>(got));
        in.data += got;
        in.size -= static_cast<size_t>(got);

        size_t n = text_len(reply, got);
        // Only this read's bytes, up to the first zero among them.
        FUZZ_REQUIRE(n <= static_cast<size_t>(got));
        FUZZ_REQUIRE(no_zero(reply, n));
        FUZZ_REQUIRE(n == static_cast<size_t>(got) || reply[n] == 0);
        if (reply_accepted(reply, n, min_len)) {
            FUZZ_REQUIRE(n >= 2 && n >= min_len && reply[n - 2] == kAck);
            return static_cast<long>(n);
        }
        FUZZ_REQUIRE(n < 2 || n < min_len || reply[n - 2] != kAck);
    }
    return -1;
}

void check_question(Reads in)
{
    auto reply = exact_buffer<unsigned char>(kReplyBufLen);
    long n = poll(in, reply.get(), kCheckReplyMin);
    if (n < 0)
        return;
    bool enabled = check_reply_enabled(reply.get(), static_cast<size_t>(n));
    FUZZ_REQUIRE(enabled == (reply[n - 3] == '1'));
}

void timeout_question(Reads in)
{
    auto reply = exact_buffer<unsigned char>(kReplyBufLen);
    long n = poll(in, reply.get(), kTimeoutReplyMin);
    if (n < 0)
        return;
    auto value = exact_buffer<char>(5);
    timeout_reply_value(reply.get(), static_cast<size_t>(n), value.get());
    // The four bytes right before the ACK byte, none of them zero.
    FUZZ_REQUIRE(strlen(value.get()) == 4);
    FUZZ_REQUIRE(memcmp(value.get(), reply.get() + n - 6, 4) == 0);
}

void query_question(Reads in, size_t echo_len)
{
    auto reply = exact_buffer<unsigned char>(kReplyBufLen);
    long n = poll(in, reply.get(), kQueryReplyMin);
    if (n < 0)
        return;
    // The value buffer is as small as the function allows: n - 1 bytes.
    size_t len = static_cast<size_t>(n);
    auto value = exact_buffer<char>(len - 1);
    size_t k = query_reply_value(reply.get(), len, echo_len, value.get());
    if (len <= echo_len + 2) {
        FUZZ_REQUIRE(k == 0);
    } else {
        // Everything between the echo and the ACK byte.
        FUZZ_REQUIRE(echo_len + k + 2 == len);
        FUZZ_REQUIRE(memcmp(value.get(), reply.get() + echo_len, k) == 0);
    }
    FUZZ_REQUIRE(strlen(value.get()) == k);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t echo_len = data[0] % (kReplyBufLen + 1);
    Reads reads = {data + 1, size - 1};
    check_question(reads);
    timeout_question(reads);
    query_question(reads, echo_len);
    return 0;
}
