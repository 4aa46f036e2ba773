// Parsing of fault specifications, durations and hex bytes.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "number.h"
#include "options.h"

namespace {

struct FaultName {
    const char* name;
    SimFaultKind kind;
    char arg;  // 0 none, 'm' optional ms, 'M' required ms, 'c' optional count,
               // 't' required text, 'h' required hex
};

const FaultName kFaultNames[] = {
    {"silence", SimFaultKind::Silence, 0},
    {"noack", SimFaultKind::NoAck, 0},
    {"ackmisplaced", SimFaultKind::AckMisplaced, 0},
    {"garbage", SimFaultKind::Garbage, 0},
    {"extra", SimFaultKind::ExtraBytes, 0},
    {"delay", SimFaultKind::Delay, 'M'},
    {"twice", SimFaultKind::Twice, 'm'},
    {"hangup", SimFaultKind::Hangup, 'm'},
    {"overlong", SimFaultKind::Overlong, 'c'},
    {"value", SimFaultKind::CustomValue, 't'},
    {"raw", SimFaultKind::RawReply, 'h'},
};

bool fault_arg(const FaultName& f, const char* arg, SimFault* out) {
    if (arg == nullptr) return f.arg == 0 || f.arg == 'm' || f.arg == 'c';
    switch (f.arg) {
        case 'm':
        case 'M':
            return parse_duration_ms(arg, &out->ms);
        case 'c':
            return parse_int_in(arg, 1, 4096, &out->count);
        case 't':
            out->bytes.assign(arg, arg + strlen(arg));
            return true;
        case 'h':
            return parse_hex(arg, &out->bytes);
        default:
            return false;
    }
}

int hex_digit(char c) {
    static const char kDigits[] = "0123456789abcdef";
    const char* p = c ? strchr(kDigits, tolower(static_cast<unsigned char>(c))) : nullptr;
    return p ? static_cast<int>(p - kDigits) : -1;
}

}  // namespace

bool parse_fault(const char* text, SimFault* out) {
    const char* colon = strchr(text, ':');
    size_t name_len = colon ? static_cast<size_t>(colon - text) : strlen(text);
    for (const FaultName& f : kFaultNames) {
        if (strlen(f.name) != name_len || strncmp(f.name, text, name_len) != 0) {
            continue;
        }
        *out = SimFault();
        out->kind = f.kind;
        return fault_arg(f, colon ? colon + 1 : nullptr, out);
    }
    return false;
}

bool parse_duration_ms(const char* text, int* ms) {
    size_t n = strlen(text);
    std::string digits(text, n);
    long scale = 1;
    if (n > 2 && strcmp(text + n - 2, "ms") == 0) {
        digits.resize(n - 2);
    } else if (n > 1 && text[n - 1] == 's') {
        digits.resize(n - 1);
        scale = 1000;
    }
    int value = 0;
    if (!parse_int_in(digits.c_str(), 0, 86400000 / scale, &value)) return false;
    *ms = static_cast<int>(value * scale);
    return true;
}

bool parse_delay_us(const char* text, int* us) {
    constexpr int kMaxMs = 60000;
    constexpr int kUsPerMs = 1000;
    constexpr size_t kMaxDecimals = 3;  // microseconds
    std::string t(text);
    if (t.size() > 2 && t.compare(t.size() - 2, 2, "ms") == 0) t.resize(t.size() - 2);
    size_t dot = t.find('.');
    std::string whole = t.substr(0, dot);
    std::string decimals = dot == std::string::npos ? "" : t.substr(dot + 1);
    if (dot != std::string::npos && (decimals.empty() || decimals.size() > kMaxDecimals)) {
        return false;
    }
    for (char c : decimals) {
        if (!isdigit(static_cast<unsigned char>(c))) return false;
    }
    int ms = 0;
    if (whole.empty() || !isdigit(static_cast<unsigned char>(whole[0])) ||
        !parse_int_in(whole.c_str(), 0, kMaxMs, &ms)) {
        return false;
    }
    decimals.resize(kMaxDecimals, '0');
    int fraction = atoi(decimals.c_str());
    if (ms == kMaxMs && fraction > 0) return false;
    *us = ms * kUsPerMs + fraction;
    return true;
}

bool parse_hex(const char* text, std::vector<uint8_t>* out) {
    out->clear();
    for (const char* p = text; *p != '\0';) {
        if (*p == ' ' || *p == ':') {
            ++p;
            continue;
        }
        int hi = hex_digit(p[0]);
        int lo = hi < 0 ? -1 : hex_digit(p[1]);
        if (lo < 0) return false;
        out->push_back(static_cast<uint8_t>(hi * 16 + lo));
        p += 2;
    }
    return !out->empty();
}
