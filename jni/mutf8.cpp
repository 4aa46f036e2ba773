// Byte text to modified UTF-8; the rules are in mutf8.h.
#include "mutf8.h"

#include <stdint.h>

namespace {

bool is_cont(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Length of the valid sequence that starts at p (1 to 4), or 0 when the
// byte at p starts none. Stops at the terminating zero, which is never a
// continuation byte.
size_t valid_length(const unsigned char *p)
{
    unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    if (b == 0xC0)
        return p[1] == 0x80 ? 2 : 0;
    if (b >= 0xC2 && b <= 0xDF)
        return is_cont(p[1]) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        unsigned char lo = b == 0xE0 ? 0xA0 : 0x80; // no overlong form
        return p[1] >= lo && p[1] <= 0xBF && is_cont(p[2]) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        unsigned char lo = b == 0xF0 ? 0x90 : 0x80; // no overlong form
        unsigned char hi = b == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        return p[1] >= lo && p[1] <= hi && is_cont(p[2]) && is_cont(p[3]) ? 4 : 0;
    }
    return 0;
}

void put_three(unsigned char *out, uint32_t unit)
{
    out[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
}

// The modified UTF-8 of the sequence or single byte at p into unit
// (at most 6 bytes); returns how many input bytes it took and sets *len
// to the number of output bytes.
size_t convert_one(const unsigned char *p, unsigned char *unit, size_t *len)
{
    size_t n = valid_length(p);
    if (n == 0) {
        unit[0] = static_cast<unsigned char>(0xC0 | (p[0] >> 6));
        unit[1] = static_cast<unsigned char>(0x80 | (p[0] & 0x3F));
        *len = 2;
        return 1;
    }
    if (n < 4) {
        for (size_t i = 0; i < n; i++)
            unit[i] = p[i];
        *len = n;
        return n;
    }
    uint32_t cp = (static_cast<uint32_t>(p[0] & 0x07) << 18) |
                  (static_cast<uint32_t>(p[1] & 0x3F) << 12) |
                  (static_cast<uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    cp -= 0x10000;
    put_three(unit, 0xD800 | (cp >> 10));
    put_three(unit + 3, 0xDC00 | (cp & 0x3FF));
    *len = 6;
    return 4;
}

} // namespace

size_t mutf8_convert(const char *text, char *out, size_t out_size)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    size_t total = 0;
    size_t written = 0;
    bool fits = out_size > 0;
    while (*p) {
        unsigned char unit[6];
        size_t len;
        p += convert_one(p, unit, &len);
        if (fits && written + len < out_size) {
            for (size_t i = 0; i < len; i++)
                out[written++] = static_cast<char>(unit[i]);
        } else {
            fits = false; // keep whole characters only
        }
        total += len;
    }
    if (out_size > 0)
        out[written] = '\0';
    return total;
}
