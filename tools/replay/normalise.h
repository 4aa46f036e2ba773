// The bytes of a capture file made into plain lines of UTF-8 text, free
// of any I/O, before the logcat parser sees them: the encoding told by the
// first bytes (UTF-16 in either byte order, as a PowerShell redirect
// writes; UTF-8 with or without a byte order mark), terminal colour
// escapes (`-v color`) and other control sequences removed, Windows line
// ends cut.
//
// Usage:
//   Normaliser n;
//   std::string text;
//   for each block of the file: normalise_bytes(&n, data, len, &text);
//   normalise_end(&n, &text);
//   split text at '\n'; normalise_line(&line) on each line
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class CaptureEncoding { Unknown, Utf8, Utf16Le, Utf16Be };

struct Normaliser {
    CaptureEncoding encoding = CaptureEncoding::Unknown;
    uint8_t head[3] = {};  // the first bytes, kept until they tell the encoding
    size_t nhead = 0;
    bool have_odd = false;  // half a UTF-16 unit
    uint8_t odd = 0;
    uint16_t high = 0;      // a high surrogate waiting for its pair
};

// Appends the text of the next len bytes of the file to *out, as UTF-8.
void normalise_bytes(Normaliser* n, const uint8_t* in, size_t len, std::string* out);
// The end of the file: what was kept back goes out.
void normalise_end(Normaliser* n, std::string* out);
// One line cleaned in place: escape sequences, a byte order mark at its
// start and '\r' at its end removed.
void normalise_line(std::string* line);
