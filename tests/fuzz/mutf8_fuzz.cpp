// Byte text to modified UTF-8, checked against a decoder of its own.
//
// Input: the text is the input up to its first zero byte. The first two
// bytes (little-endian) also choose the size of a short output buffer for
// a second, cut conversion.
//
// Properties:
// - the output is valid modified UTF-8: 01..7F, C0 80, two-byte forms of
//   U+0080..U+07FF, three-byte forms of U+0800..U+FFFF, nothing else;
// - no byte is lost: walking input and output side by side, each valid
//   UTF-8 character of one to three bytes (and C0 80) appears unchanged,
//   each four-byte character as the surrogate pair of its code point, and
//   every other byte as the character of its own value, U+0080..U+00FF;
// - the output fits in 2 * strlen(text) + 1 bytes, converting it again
//   changes nothing, and the result equals strlen(text) exactly when the
//   text was valid modified UTF-8 already;
// - a cut conversion gives the longest prefix of whole characters that
//   fits before its terminating zero.
#include "fuzz_check.h"
#include "mutf8.h"

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace {

struct Char {
    uint32_t cp;  // code point, or UTF-16 unit for a surrogate
    size_t start; // offset of its first byte
    size_t len;   // bytes in its encoding
};

bool continuation(uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// One UTF-8 character at p, at most avail bytes, judged by the count of
// leading one bits and the shortest-form rule. Returns its length (0 when
// p starts none) and its code point.
size_t decode_utf8(const uint8_t *p, size_t avail, uint32_t *cp)
{
    size_t len = p[0] < 0x80 ? 1 : p[0] >= 0xC0 && p[0] < 0xE0 ? 2
                 : p[0] >= 0xE0 && p[0] < 0xF0                 ? 3
                 : p[0] >= 0xF0 && p[0] < 0xF8                 ? 4
                                                               : 0;
    if (len == 0 || len > avail)
        return 0;
    uint32_t c = len == 1 ? p[0] : p[0] & (0x7F >> len);
    for (size_t i = 1; i < len; i++) {
        if (!continuation(p[i]))
            return 0;
        c = c << 6 | (p[i] & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF)
        return 0;
    *cp = c;
    return len;
}

// Modified UTF-8 differs from UTF-8 in two places: U+0000 is C0 80 (and
// never a single zero), and there is no four-byte form.
size_t decode_mutf8(const uint8_t *p, size_t avail, uint32_t *cp)
{
    if (avail >= 2 && p[0] == 0xC0 && p[1] == 0x80) {
        *cp = 0;
        return 2;
    }
    size_t len = decode_utf8(p, avail, cp);
    return len == 4 || (len == 1 && *cp == 0) ? 0 : len;
}

// The characters of a modified UTF-8 text; false when it is not one.
bool split_mutf8(const uint8_t *p, size_t n, std::vector<Char> *out)
{
    out->clear();
    for (size_t i = 0; i < n;) {
        Char c = {0, i, 0};
        c.len = decode_mutf8(p + i, n - i, &c.cp);
        if (c.len == 0)
            return false;
        out->push_back(c);
        i += c.len;
    }
    return true;
}

// Walks text and output side by side (see the properties above) and
// collects the output offsets that end each converted piece: the places
// where a cut conversion may stop.
void check_accounting(const uint8_t *text, size_t n, const uint8_t *out,
                      const std::vector<Char> &chars, std::vector<size_t> *ends)
{
    size_t k = 0; // next output character
    ends->assign(1, 0);
    for (size_t i = 0; i < n;) {
        uint32_t cp = 0;
        size_t len = decode_mutf8(text + i, n - i, &cp);
        FUZZ_REQUIRE(k < chars.size());
        if (len > 0) {
            FUZZ_REQUIRE(chars[k].len == len);
            FUZZ_REQUIRE(memcmp(out + chars[k].start, text + i, len) == 0);
            k++;
        } else if ((len = decode_utf8(text + i, n - i, &cp)) == 4) {
            FUZZ_REQUIRE(k + 1 < chars.size());
            FUZZ_REQUIRE(chars[k].cp == 0xD800 + ((cp - 0x10000) >> 10));
            FUZZ_REQUIRE(chars[k + 1].cp == 0xDC00 + ((cp - 0x10000) & 0x3FF));
            k += 2;
        } else {
            len = 1;
            FUZZ_REQUIRE(text[i] >= 0x80);
            FUZZ_REQUIRE(chars[k].cp == text[i] && chars[k].len == 2);
            k++;
        }
        i += len;
        ends->push_back(chars[k - 1].start + chars[k - 1].len);
    }
    FUZZ_REQUIRE(k == chars.size());
}

void check_cut(const char *text, const uint8_t *full, const std::vector<size_t> &ends,
               size_t total, size_t out_size)
{
    auto out = exact_buffer<char>(out_size);
    FUZZ_REQUIRE(mutf8_convert(text, out.get(), out_size) == total);
    if (out_size == 0)
        return;
    size_t written = strlen(out.get());
    FUZZ_REQUIRE(written < out_size);
    FUZZ_REQUIRE(memcmp(out.get(), full, written) == 0);
    size_t piece = 0;
    while (piece < ends.size() && ends[piece] < written)
        piece++;
    FUZZ_REQUIRE(piece < ends.size() && ends[piece] == written);
    // The next piece would not have fitted before the terminating zero.
    FUZZ_REQUIRE(piece + 1 == ends.size() || ends[piece + 1] >= out_size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t n = size == 0 ? 0 : strnlen(reinterpret_cast<const char *>(data), size);
    auto text = exact_buffer<char>(n + 1);
    memcpy(text.get(), data, n);
    const uint8_t *in = reinterpret_cast<const uint8_t *>(text.get());

    // The documented bound: 2 * strlen(text) + 1 bytes hold any result.
    size_t bound = 2 * n + 1;
    auto out = exact_buffer<char>(bound);
    size_t total = mutf8_convert(text.get(), out.get(), bound);
    FUZZ_REQUIRE(total < bound);
    FUZZ_REQUIRE(mutf8_convert(text.get(), nullptr, 0) == total);
    FUZZ_REQUIRE(strlen(out.get()) == total);
    const uint8_t *result = reinterpret_cast<const uint8_t *>(out.get());

    std::vector<Char> chars;
    FUZZ_REQUIRE(split_mutf8(result, total, &chars));
    std::vector<size_t> ends;
    check_accounting(in, n, result, chars, &ends);

    std::vector<Char> in_chars;
    bool valid = split_mutf8(in, n, &in_chars);
    FUZZ_REQUIRE(valid == (total == n));
    if (valid)
        FUZZ_REQUIRE(memcmp(result, in, n) == 0);

    auto again = exact_buffer<char>(total + 1);
    FUZZ_REQUIRE(mutf8_convert(out.get(), again.get(), total + 1) == total);
    FUZZ_REQUIRE(memcmp(again.get(), result, total + 1) == 0);

    size_t pick = size >= 2 ? static_cast<size_t>(data[0] | data[1] << 8) : size;
    check_cut(text.get(), result, ends, total, pick % (total + 2));
    return 0;
}
