// The session's byte lines: frames and messages in hexadecimal, several
// bytes a line, so that an 8192-byte scan takes 512 lines instead of 8192.
#include "log.h"
#include "logtext.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Two digits and a blank per byte; the last blank becomes the end.
const size_t kHexCharsPerByte = 3;

} // namespace

void log_hex_lines(const char *sig, const char *mark, const void *bytes, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    for (size_t at = 0; at < n; at += kHexBytesPerLine) {
        char line[kHexBytesPerLine * kHexCharsPerByte];
        size_t count = n - at < kHexBytesPerLine ? n - at : kHexBytesPerLine;
        for (size_t i = 0; i < count; i++) {
            line[i * kHexCharsPerByte] = kHexDigits[p[at + i] >> 4];
            line[i * kHexCharsPerByte + 1] = kHexDigits[p[at + i] & 0x0F];
            line[i * kHexCharsPerByte + 2] = ' ';
        }
        line[count * kHexCharsPerByte - 1] = '\0';
        CORE_LOG(PRIO_DEBUG, FMT_S_HEX, sig, mark, line);
    }
}
