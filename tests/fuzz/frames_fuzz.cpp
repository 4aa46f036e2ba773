// The frames built from a caller's input: the free command frame, the
// query frame of any int, the timeout frame of any value in range and the
// type frames of any valid type index.
//
// Input: the command text is the input's first 255 bytes (any bytes; the
// builder copies them as they are). The query number is the first four
// bytes as a little-endian int, the timeout value the next two as a
// little-endian short, the type index the seventh as a signed byte; zero
// bytes stand in for missing input.
#include "fuzz_check.h"
#include "frames.h"

#include <errno.h>
#include <stddef.h>
#include <stdint.h>

namespace {

const unsigned char kHeader[3] = {0xFF, 'M', 0x0D};

bool has_header(const unsigned char *frame)
{
    return memcmp(frame, kHeader, sizeof kHeader) == 0;
}

// The plain decimal form: an optional '-', then digits without leading
// zeros; "-0" is no form of zero.
bool plain_decimal(const char *text, size_t len)
{
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == len || (text[i] == '0' && (len - i > 1 || i == 1)))
        return false;
    for (; i < len; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// strtol of the whole text gives back value.
bool reads_back(const char *text, size_t len, long value)
{
    char *end = nullptr;
    errno = 0;
    long back = strtol(text, &end, 10);
    return errno == 0 && end == text + len && back == value;
}

void command(const uint8_t *data, size_t size)
{
    size_t n = size < kMaxCommandText ? size : kMaxCommandText;
    auto text = exact_buffer<char>(n);
    if (n > 0)
        memcpy(text.get(), data, n);
    // Exactly the n + 4 bytes the frame takes: a byte more would be caught.
    auto frame = exact_buffer<unsigned char>(n + 4);
    size_t m = command_frame(text.get(), n, frame.get());
    FUZZ_REQUIRE(m == n + 4 && m <= kCommandFrameMax);
    FUZZ_REQUIRE(has_header(frame.get()));
    FUZZ_REQUIRE(n == 0 || memcmp(frame.get() + 3, data, n) == 0);
    FUZZ_REQUIRE(frame[3 + n] == '.');
}

void query(int32_t number)
{
    auto text = exact_buffer<char>(16);
    size_t len = query_text(number, text.get());
    FUZZ_REQUIRE(len >= 1 && len <= 11);
    FUZZ_REQUIRE(strlen(text.get()) == len);
    for (size_t i = len; i < 16; i++)
        FUZZ_REQUIRE(text[i] == 0);
    FUZZ_REQUIRE(plain_decimal(text.get(), len));
    FUZZ_REQUIRE(reads_back(text.get(), len, number));

    auto frame = exact_buffer<unsigned char>(len + 5);
    size_t m = query_frame(text.get(), len, frame.get());
    FUZZ_REQUIRE(m == len + 5 && m <= kQueryFrameMax);
    FUZZ_REQUIRE(has_header(frame.get()));
    FUZZ_REQUIRE(memcmp(frame.get() + 3, text.get(), len) == 0);
    FUZZ_REQUIRE(frame[3 + len] == '?' && frame[4 + len] == '.');
}

void timeout(int value)
{
    if (!timeout_in_range(value))
        return;
    auto text = exact_buffer<char>(5);
    timeout_text(value, text.get());
    size_t len = strlen(text.get());
    FUZZ_REQUIRE(len >= 1 && len <= 4);
    FUZZ_REQUIRE(plain_decimal(text.get(), len));
    FUZZ_REQUIRE(reads_back(text.get(), len, value));

    auto frame = exact_buffer<unsigned char>(kTimeoutFrameLen);
    timeout_frame(text.get(), frame.get());
    FUZZ_REQUIRE(has_header(frame.get()));
    FUZZ_REQUIRE(memcmp(frame.get() + 3, "861001", 6) == 0);
    FUZZ_REQUIRE(memcmp(frame.get() + 9, text.get(), 4) == 0);
    FUZZ_REQUIRE(frame[13] == '.');
}

void type_frames(int type)
{
    if (!type_index_valid(type))
        return;
    static const TypeFrameKind kKinds[3] = {TYPE_ENABLE, TYPE_DISABLE, TYPE_CHECK};
    static const char kValue[3] = {'1', '0', '?'};
    unsigned char code[6] = {};
    for (int k = 0; k < 3; k++) {
        auto frame = exact_buffer<unsigned char>(kTypeFrameLen);
        FUZZ_REQUIRE(type_frame(kKinds[k], type, frame.get()) == kTypeFrameLen);
        FUZZ_REQUIRE(has_header(frame.get()));
        for (size_t i = 3; i < 9; i++)
            FUZZ_REQUIRE(frame[i] >= '0' && frame[i] <= '9');
        // One code per row, whichever the frame.
        FUZZ_REQUIRE(k == 0 || memcmp(code, frame.get() + 3, 6) == 0);
        memcpy(code, frame.get() + 3, 6);
        FUZZ_REQUIRE(frame[9] == kValue[k] && frame[10] == '.');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t b[7] = {};
    memcpy(b, data, size < sizeof b ? size : sizeof b);
    uint32_t number = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    int16_t value = static_cast<int16_t>(b[4] | b[5] << 8);

    command(data, size);
    query(static_cast<int32_t>(number));
    timeout(value);
    type_frames(static_cast<int8_t>(b[6]));
    return 0;
}
