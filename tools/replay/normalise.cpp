#include "normalise.h"

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kBel = 0x07;
constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint16_t kHighFirst = 0xD800, kLowFirst = 0xDC00, kLowEnd = 0xE000;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr size_t kUtf8BomLen = 3;

void put_utf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void put_unit(Normaliser* n, uint16_t u, std::string* out) {
    bool high = u >= kHighFirst && u < kLowFirst;
    bool low = u >= kLowFirst && u < kLowEnd;
    if (n->high != 0) {
        uint16_t h = n->high;
        n->high = 0;
        if (low) {
            put_utf8(0x10000 + ((static_cast<uint32_t>(h - kHighFirst) << 10) | (u - kLowFirst)), out);
            return;
        }
        put_utf8(kReplacement, out);
    }
    if (high) n->high = u;
    else put_utf8(low ? kReplacement : u, out);
}

void utf16(Normaliser* n, const uint8_t* in, size_t len, std::string* out) {
    bool le = n->encoding == CaptureEncoding::Utf16Le;
    for (size_t i = 0; i < len; ++i) {
        if (!n->have_odd) {
            n->odd = in[i];
            n->have_odd = true;
            continue;
        }
        n->have_odd = false;
        uint8_t a = n->odd, b = in[i];
        put_unit(n, static_cast<uint16_t>(le ? (b << 8 | a) : (a << 8 | b)), out);
    }
}

// The encoding from the first bytes: a byte order mark, or ASCII text
// with every other byte zero.
size_t decide(Normaliser* n) {
    const uint8_t* h = n->head;
    if (n->nhead >= 2 && h[0] == 0xFF && h[1] == 0xFE) {
        n->encoding = CaptureEncoding::Utf16Le;
        return 2;
    }
    if (n->nhead >= 2 && h[0] == 0xFE && h[1] == 0xFF) {
        n->encoding = CaptureEncoding::Utf16Be;
        return 2;
    }
    if (n->nhead >= 2 && h[0] != 0 && h[1] == 0) {
        n->encoding = CaptureEncoding::Utf16Le;
        return 0;
    }
    if (n->nhead >= 2 && h[0] == 0 && h[1] != 0) {
        n->encoding = CaptureEncoding::Utf16Be;
        return 0;
    }
    n->encoding = CaptureEncoding::Utf8;
    bool bom = n->nhead == kUtf8BomLen && std::string(reinterpret_cast<const char*>(h), kUtf8BomLen) == kUtf8Bom;
    return bom ? kUtf8BomLen : 0;
}

void decoded(Normaliser* n, const uint8_t* in, size_t len, std::string* out) {
    if (n->encoding == CaptureEncoding::Utf8) out->append(reinterpret_cast<const char*>(in), len);
    else utf16(n, in, len, out);
}

void flush_head(Normaliser* n, std::string* out) {
    size_t skip = decide(n);
    decoded(n, n->head + skip, n->nhead - skip, out);
    n->nhead = 0;
}

}  // namespace

void normalise_bytes(Normaliser* n, const uint8_t* in, size_t len, std::string* out) {
    while (n->encoding == CaptureEncoding::Unknown && len > 0) {
        n->head[n->nhead++] = *in++;
        --len;
        if (n->nhead == sizeof n->head) flush_head(n, out);
    }
    decoded(n, in, len, out);
}

void normalise_end(Normaliser* n, std::string* out) {
    if (n->encoding == CaptureEncoding::Unknown) flush_head(n, out);
    if (n->high != 0 || n->have_odd) put_utf8(kReplacement, out);
    n->high = 0;
    n->have_odd = false;
}

void normalise_line(std::string* line) {
    std::string& s = *line;
    if (s.compare(0, kUtf8BomLen, kUtf8Bom) == 0) s.erase(0, kUtf8BomLen);
    size_t to = 0;
    for (size_t i = 0; i < s.size();) {
        if (static_cast<uint8_t>(s[i]) != kEsc) {
            s[to++] = s[i++];
            continue;
        }
        ++i;
        if (i < s.size() && s[i] == '[') {
            // A control sequence: parameters and intermediates, then one final byte.
            for (++i; i < s.size() && (s[i] < 0x40 || s[i] > 0x7E); ++i) {
            }
            if (i < s.size()) ++i;
        } else if (i < s.size() && s[i] == ']') {
            // An operating system command, to BEL or ESC '\'.
            for (++i; i < s.size() && s[i] != static_cast<char>(kBel) && s[i] != static_cast<char>(kEsc); ++i) {
            }
            i += (i + 1 < s.size() && s[i] == static_cast<char>(kEsc)) ? 2 : 1;
        } else {
            if (i < s.size()) ++i;  // a two-byte escape
        }
    }
    s.resize(to);
    while (!s.empty() && s.back() == '\r') s.pop_back();
}
