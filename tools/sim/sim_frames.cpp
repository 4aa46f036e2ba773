#include "sim_frames.h"

#include <cstdio>
#include <cstring>

#include "sim_codes.h"

namespace {

enum class Mode { Feed, BurstEnd, CycleEnd };

constexpr uint8_t kStart = 0xFF;
constexpr uint8_t kCr = 0x0D;

bool is_header_at(const std::vector<uint8_t>& b, size_t i) {
    return i + 2 < b.size() && b[i] == kStart && b[i + 1] >= 'A' &&
           b[i + 1] <= 'Z' && b[i + 2] == kCr;
}

// True when the bytes from i to the end could still become a frame header.
bool is_partial_header_at(const std::vector<uint8_t>& b, size_t i) {
    size_t left = b.size() - i;
    if (left == 0 || left > 2 || b[i] != kStart) return false;
    return left == 1 || (b[i + 1] >= 'A' && b[i + 1] <= 'Z');
}

void emit(std::vector<uint8_t>& pending, size_t n, SimChunks& out) {
    if (n == 0) return;
    out.emplace_back(pending.begin(), pending.begin() + static_cast<long>(n));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
}

size_t next_header(const std::vector<uint8_t>& b, size_t from) {
    for (size_t i = from; i < b.size(); ++i) {
        if (is_header_at(b, i)) return i;
    }
    return b.size();
}

// Emits the bytes before the first frame start. Returns false when the
// remaining bytes must wait for more input.
bool take_stray(std::vector<uint8_t>& p, Mode mode, SimChunks& out) {
    size_t h = next_header(p, 0);
    if (h == p.size() && mode != Mode::CycleEnd) {
        size_t keep = p.size();
        for (size_t i = p.size() >= 2 ? p.size() - 2 : 0; i < p.size(); ++i) {
            if (is_partial_header_at(p, i)) { keep = i; break; }
        }
        emit(p, keep, out);
        return false;
    }
    emit(p, h, out);
    return true;
}

// Emits one command frame that starts at 0. Returns false to wait.
bool take_command(std::vector<uint8_t>& p, Mode mode, SimChunks& out) {
    size_t end = next_header(p, 3);
    size_t dot = 0;
    for (size_t i = 3; i < end; ++i) {
        if (p[i] == '.') dot = i;
    }
    if (end == p.size()) {
        if (mode == Mode::Feed) return false;
        if (dot == 0 && mode == Mode::BurstEnd) return false;
    }
    if (dot == 0) {
        emit(p, end, out);
    } else {
        emit(p, dot + 1, out);
        if (end < p.size() || mode == Mode::CycleEnd) {
            emit(p, end - dot - 1, out);
        }
    }
    return true;
}

void extract(SimParser* parser, Mode mode, SimChunks& out) {
    std::vector<uint8_t>& p = parser->pending;
    while (!p.empty()) {
        if (!is_header_at(p, 0)) {
            if (is_partial_header_at(p, 0) && mode != Mode::CycleEnd) return;
            if (!take_stray(p, mode, out)) return;
            continue;
        }
        if (p[1] != 'M') {
            emit(p, 3, out);
            continue;
        }
        if (!take_command(p, mode, out)) return;
    }
}

bool all_digits(const uint8_t* s, size_t n) {
    if (n == 0) return false;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

bool is_number_text(const uint8_t* s, size_t n) {
    if (n > 0 && s[0] == '-') return all_digits(s + 1, n - 1);
    return all_digits(s, n);
}

SimFrameKind classify_body(const uint8_t* body, size_t n, int* type_index) {
    const char* text = reinterpret_cast<const char*>(body);
    size_t profile_len = sizeof(kSimProfileBody) - 1;
    if (n == profile_len && std::memcmp(text, kSimProfileBody, n) == 0) {
        return SimFrameKind::Profile;
    }
    if (n > 0 && body[n - 1] == '?') {
        int row = sim_type_index(text, n - 1);
        if (row >= 0) {
            *type_index = row;
            return SimFrameKind::Check;
        }
        if (n - 1 == 6 && std::memcmp(text, kSimTimeoutCode, 6) == 0) {
            return SimFrameKind::TimeoutQuery;
        }
        return is_number_text(body, n - 1) ? SimFrameKind::Query
                                           : SimFrameKind::Command;
    }
    if (n > 6 && all_digits(body, 6)) {
        if (std::memcmp(text, kSimTimeoutCode, 6) == 0) {
            return SimFrameKind::Timeout;
        }
        int row = sim_type_index(text, 6);
        if (row >= 0 && n == 7 && (body[6] == '0' || body[6] == '1')) {
            *type_index = row;
            return body[6] == '1' ? SimFrameKind::Enable
                                  : SimFrameKind::Disable;
        }
        return SimFrameKind::SettingWrite;
    }
    return SimFrameKind::Command;
}

}  // namespace

void sim_parser_feed(SimParser* p, const uint8_t* data, size_t n,
                     SimChunks& out) {
    p->pending.insert(p->pending.end(), data, data + n);
    extract(p, Mode::Feed, out);
}

void sim_parser_burst_end(SimParser* p, SimChunks& out) {
    extract(p, Mode::BurstEnd, out);
}

void sim_parser_cycle_end(SimParser* p, SimChunks& out) {
    extract(p, Mode::CycleEnd, out);
}

SimFrameKind sim_classify(const uint8_t* f, size_t n, int* type_index) {
    int ignored = -1;
    if (type_index == nullptr) type_index = &ignored;
    *type_index = -1;
    if (n < 3 || f[0] != kStart || f[1] < 'A' || f[1] > 'Z' || f[2] != kCr) {
        return SimFrameKind::Stray;
    }
    if (f[1] != 'M') {
        if (n != 3) return SimFrameKind::Unknown;
        if (f[1] == 'T') return SimFrameKind::Open;
        if (f[1] == 'U') return SimFrameKind::Close;
        return SimFrameKind::Unknown;
    }
    if (n < 4 || f[n - 1] != '.') return SimFrameKind::Unknown;
    return classify_body(f + 3, n - 4, type_index);
}

const char* sim_kind_name(SimFrameKind kind) {
    switch (kind) {
        case SimFrameKind::Open: return "open";
        case SimFrameKind::Close: return "close";
        case SimFrameKind::Check: return "check";
        case SimFrameKind::Enable: return "enable";
        case SimFrameKind::Disable: return "disable";
        case SimFrameKind::Timeout: return "timeout";
        case SimFrameKind::TimeoutQuery: return "timeout-query";
        case SimFrameKind::Profile: return "profile";
        case SimFrameKind::SettingWrite: return "setting-write";
        case SimFrameKind::Query: return "query";
        case SimFrameKind::Command: return "command";
        case SimFrameKind::Unknown: return "unknown";
        case SimFrameKind::Stray: return "stray";
    }
    return "?";
}

std::string sim_format_bytes(const uint8_t* data, size_t n) {
    std::string s;
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X",
                      static_cast<unsigned>(data[i]));
        s += hex;
    }
    s += "  |";
    for (size_t i = 0; i < n; ++i) {
        s += (data[i] >= 0x20 && data[i] < 0x7F) ? static_cast<char>(data[i])
                                                 : '.';
    }
    s += '|';
    return s;
}
