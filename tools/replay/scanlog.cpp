#include "scanlog.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "logtext.h"

namespace {

struct SigRow {
    ScanSig sig;
    const char* text;
};

const SigRow kSigs[] = {
    {ScanSig::OpenDev, SIG_OPEN_DEV},
    {ScanSig::EnableType, SIG_ENABLE_TYPE},
    {ScanSig::SetTimeout, SIG_SET_TIMEOUT},
    {ScanSig::SetCommand, SIG_SET_COMMAND},
    {ScanSig::Profile, SIG_PROFILE},
    {ScanSig::TypeCheck, SIG_TYPE_CHECK},
    {ScanSig::GetTimeout, SIG_GET_TIMEOUT},
    {ScanSig::QueryData, SIG_QUERY_DATA},
    {ScanSig::ReadData, SIG_READ_DATA},
    {ScanSig::Uart, SIG_UART},
};

struct SessionRow {
    SessionFn fn;
    const char* text;
};

const SessionRow kSessionSigs[] = {
    {SessionFn::Open, SIG_S_OPEN},
    {SessionFn::Close, SIG_S_CLOSE},
    {SessionFn::OpenDev, SIG_S_OPEN_DEV},
    {SessionFn::EnableType, SIG_S_ENABLE_TYPE},
    {SessionFn::SetTimeout, SIG_S_SET_TIMEOUT},
    {SessionFn::SetCommand, SIG_S_SET_COMMAND},
    {SessionFn::Profile, SIG_S_PROFILE},
    {SessionFn::CheckType, SIG_S_CHECK_TYPE},
    {SessionFn::GetTimeout, SIG_S_GET_TIMEOUT},
    {SessionFn::Query, SIG_S_QUERY},
    {SessionFn::WaitScan, SIG_S_WAIT_SCAN},
    {SessionFn::Reader, SIG_S_READER},
    {SessionFn::WaitFree, SIG_S_WAIT_FREE},
};

// The "%s" of each write operation's result line; flag is the
// operation's bool argument where the word tells it.
struct WriteWhat {
    ScanSig sig;
    const char* what;
    bool flag;
};

const WriteWhat kWrites[] = {
    {ScanSig::OpenDev, WHAT_OPEN, true},        {ScanSig::OpenDev, WHAT_CLOSE, false},
    {ScanSig::EnableType, WHAT_ENABLE, true},   {ScanSig::EnableType, WHAT_DISABLE, false},
    {ScanSig::SetTimeout, WHAT_TIMEOUT, false}, {ScanSig::SetCommand, WHAT_COMMAND, false},
    {ScanSig::Profile, WHAT_PROFILE, false},    {ScanSig::TypeCheck, WHAT_CHECK, false},
    {ScanSig::GetTimeout, WHAT_GET_TIMEOUT, false}, {ScanSig::QueryData, WHAT_QUERY, false},
};

struct BridgeRow {
    const char* text;
    const char* method;
    ScanSig core;
    bool flag;
    SessionFn fn;  // a ScanPortNative adapter's session function
};

const BridgeRow kBridge[] = {
    {SIG_J_OPEN_DEV, "openDev", ScanSig::OpenDev, true, SessionFn::None},
    {SIG_J_CLOSE_DEV, "closeDev", ScanSig::OpenDev, false, SessionFn::None},
    {SIG_J_CHECK_TYPE, "checkType", ScanSig::TypeCheck, false, SessionFn::None},
    {SIG_J_ENABLE_TYPE, "enableType", ScanSig::EnableType, true, SessionFn::None},
    {SIG_J_DISABLE_TYPE, "disableType", ScanSig::EnableType, false, SessionFn::None},
    {SIG_J_SET_TIMEOUT, "setTimeout", ScanSig::SetTimeout, false, SessionFn::None},
    {SIG_J_GET_TIMEOUT, "getTimeout", ScanSig::GetTimeout, false, SessionFn::None},
    {SIG_J_SEND_COMMAND, "sendCommand", ScanSig::SetCommand, false, SessionFn::None},
    {SIG_J_QUERY_DATA, "queryData", ScanSig::QueryData, false, SessionFn::None},
    {SIG_J_PROFILE, "profileScanType", ScanSig::Profile, false, SessionFn::None},
    {SIG_J_PORT_OPEN, "ScanPortNative.open", ScanSig::Uart, false, SessionFn::Open},
    {SIG_J_PORT_CLOSE, "ScanPortNative.close", ScanSig::Uart, false, SessionFn::Close},
    {SIG_J_PORT_WRITE_OPEN, "ScanPortNative.writeOpen", ScanSig::Uart, false, SessionFn::OpenDev},
    {SIG_J_PORT_ENABLE_TYPE, "ScanPortNative.enableType", ScanSig::Uart, false, SessionFn::EnableType},
    {SIG_J_PORT_SET_TIMEOUT, "ScanPortNative.setTimeout", ScanSig::Uart, false, SessionFn::SetTimeout},
    {SIG_J_PORT_SEND_COMMAND, "ScanPortNative.sendCommand", ScanSig::Uart, false, SessionFn::SetCommand},
    {SIG_J_PORT_PROFILE, "ScanPortNative.profile", ScanSig::Uart, false, SessionFn::Profile},
    {SIG_J_PORT_CHECK_TYPE, "ScanPortNative.checkType", ScanSig::Uart, false, SessionFn::CheckType},
    {SIG_J_PORT_GET_TIMEOUT, "ScanPortNative.getTimeout", ScanSig::Uart, false, SessionFn::GetTimeout},
    {SIG_J_PORT_QUERY, "ScanPortNative.query", ScanSig::Uart, false, SessionFn::Query},
    {SIG_J_PORT_WAIT_SCAN, "ScanPortNative.waitScan", ScanSig::Uart, false, SessionFn::WaitScan},
    {SIG_J_PORT_WAIT_FREE, "ScanPortNative.waitFree", ScanSig::Uart, false, SessionFn::WaitFree},
};
constexpr int kBridgeCount = static_cast<int>(sizeof kBridge / sizeof kBridge[0]);

// A line's form: its kind and its format.
struct Form {
    LineKind kind;
    const char* fmt;
};

// The lines of each group of functions, tried in order.
const Form kPerCall[] = {
    {LineKind::Byte, FMT_BYTE},
    {LineKind::OpenFail, FMT_OPEN_FAIL},
    {LineKind::CfgFail, FMT_CFG_FAIL},
    {LineKind::ReplyError, FMT_REPLY_ERROR},
    {LineKind::ReadError, FMT_READ_ERROR},
    {LineKind::Length, FMT_SCAN_LENGTH},
    {LineKind::TypeIs, FMT_TYPE_IS},
    {LineKind::Enable, FMT_ENABLE},
    {LineKind::QueryWriteLen, FMT_QUERY_WRITE_LEN},
    {LineKind::Dropped, FMT_TAIL},
    {LineKind::NoMemory, FMT_NO_MEMORY},
    {LineKind::TimeIs, FMT_TIME_IS},
    {LineKind::QueryCommand, FMT_QUERY_COMMAND},
    {LineKind::CommandIs, FMT_COMMAND_IS},
    {LineKind::HeldElsewhere, FMT_HELD_ELSEWHERE},
    {LineKind::OnHeldPort, FMT_ON_HELD_PORT},
    {LineKind::HeldNoScan, FMT_HELD_NO_SCAN},
    {LineKind::CallWaited, FMT_CALL_WAITED},
    {LineKind::CallBusy, FMT_CALL_BUSY},
    {LineKind::SNoAnswer, FMT_S_NO_ANSWER},
};

const Form kRefusals[] = {
    {LineKind::InvalidType, FMT_INVALID_TYPE},
    {LineKind::TimeoutRange, FMT_TIMEOUT_RANGE},
    {LineKind::CommandNull, FMT_COMMAND_NULL},
    {LineKind::CommandLong, FMT_COMMAND_LONG},
};

const Form kUartForms[] = {
    {LineKind::UartBaud, FMT_STANDARD_BAUD},
    {LineKind::UartBaud, FMT_CUSTOM_BAUD},
    {LineKind::UartSummary, FMT_UART_SUMMARY},
};

const Form kSessionForms[] = {
    {LineKind::SOpenFail, FMT_S_OPEN_FAIL},
    {LineKind::SBusy, FMT_S_BUSY},
    {LineKind::SCfgFail, FMT_S_CFG_FAIL},
    {LineKind::Dropped, FMT_S_TAIL},
    {LineKind::SNoRoom, FMT_S_NO_ROOM},
    {LineKind::SWriteFail, FMT_S_WRITE_FAIL},
    {LineKind::SWrite, FMT_S_WRITE},
    {LineKind::SReply, FMT_S_REPLY},
    {LineKind::SScan, FMT_S_SCAN},
    {LineKind::SClose, FMT_S_CLOSE},
    {LineKind::SNoAnswer, FMT_S_NO_ANSWER},
    {LineKind::SNoSession, FMT_S_NO_SESSION},
    {LineKind::SNoBuffer, FMT_S_NO_BUFFER},
    {LineKind::SHungUp, FMT_S_HUNG_UP},
    {LineKind::SOpen, FMT_S_OPEN},
    {LineKind::SAnswer, FMT_S_ANSWER},
    {LineKind::SLost, FMT_S_LOST},
    {LineKind::SFree, FMT_S_FREE},
};

// Under any signature: the first call of a process that met them logs them.
const Form kDeviceForms[] = {
    {LineKind::SNoWatch, FMT_S_NO_WATCH},
    {LineKind::LocksRefused, FMT_LOCKS_REFUSED},
    {LineKind::LocksWholeFile, FMT_LOCKS_WHOLE_FILE},
};

bool is_conversion_end(char c) { return std::strchr("dsciuxX", c) != nullptr; }

// The message's rest (after "signature, ") against a format of logtext.h
// after its "%s," and blank: literal text, %d (or %zu, %lld) an int, %s
// text (as much as leaves the rest matching, so that a text holding the
// format's next words is taken whole), %c one character, %.2X two hex
// digits. A format's final blanks and line end are not in the message.
bool matches(const char* fmt, const char* s, const char* end, ScanLine* l) {
    for (;;) {
        if (*fmt == '\0' || std::strspn(fmt, " \r\n") == std::strlen(fmt)) return s == end;
        if (*fmt != '%') {
            if (s == end || *s != *fmt) return false;
            ++fmt;
            ++s;
            continue;
        }
        const char* conv = fmt + 1;
        while (*conv != '\0' && !is_conversion_end(*conv)) ++conv;
        if (*conv == '\0') return false;
        const char* next = conv + 1;
        if (*conv == 's') {
            for (const char* stop = end;; --stop) {
                ScanLine attempt = *l;
                if (matches(next, stop, end, &attempt)) {
                    *l = attempt;
                    l->text.assign(s, static_cast<size_t>(stop - s));
                    return true;
                }
                if (stop == s) return false;
            }
        }
        if (*conv == 'c') {
            if (s == end) return false;
            ++s;
        } else if (*conv == 'X' || *conv == 'x') {
            if (end - s < 2 || !std::isxdigit(static_cast<unsigned char>(s[0])) ||
                !std::isxdigit(static_cast<unsigned char>(s[1]))) {
                return false;
            }
            s += 2;
        } else {
            const char* from = s;
            if (s < end && *s == '-') ++s;
            while (s < end && *s >= '0' && *s <= '9') ++s;
            if (!scan_parse_int(from, static_cast<size_t>(s - from), &l->number)) return false;
        }
        fmt = next;
    }
}

bool classify_by(const Form* forms, size_t n, ScanLine* l) {
    for (size_t i = 0; i < n; ++i) {
        const char* fmt = forms[i].fmt + 3;  // after "%s,"
        if (*fmt == ' ') ++fmt;
        ScanLine attempt = *l;
        if (!matches(fmt, attempt.rest.data(), attempt.rest.data() + attempt.rest.size(), &attempt)) continue;
        *l = attempt;
        l->kind = forms[i].kind;
        return true;
    }
    return false;
}

template <size_t N>
bool classify(const Form (&forms)[N], ScanLine* l) {
    return classify_by(forms, N, l);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "XX XX ..." with one blank between pairs, 1 to kHexLineMax bytes.
bool hex_list(const char* p, size_t n, ScanLine* out) {
    out->nbytes = 0;
    for (size_t i = 0; i < n; i += 3) {
        if (i + 2 > n || out->nbytes == kHexLineMax) return false;
        int hi = hex_value(p[i]), lo = hex_value(p[i + 1]);
        if (hi < 0 || lo < 0 || (i + 2 < n && p[i + 2] != ' ')) return false;
        out->bytes[out->nbytes++] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return out->nbytes > 0;
}

// "<what> successful! ret = %d" or "<what> fail! ret = %d" of the
// operation's own "<what>".
bool write_result(ScanLine* l) {
    static const Form kResults[] = {{LineKind::WriteOk, FMT_WRITE_OK}, {LineKind::WriteFail, FMT_WRITE_FAIL}};
    ScanLine result = *l;
    if (!classify(kResults, &result)) return false;
    for (const WriteWhat& w : kWrites) {
        if (w.sig != l->sig || result.text != w.what) continue;
        *l = result;
        l->flag = w.flag;
        l->text.clear();
        return true;
    }
    return false;
}

void classify_per_call(ScanLine* l) {
    if (classify(kRefusals, l) || write_result(l)) return;
    if (classify(kPerCall, l)) {
        if (l->kind == LineKind::Byte) {
            l->nbytes = hex_list(l->rest.data(), l->rest.size(), l) ? 1 : 0;
            if (l->nbytes == 0) l->kind = LineKind::Other;
        }
        // The command's whole line: its ", length" end was seen.
        l->flag = l->kind == LineKind::CommandIs;
        return;
    }
    // A command text that holds a line end: the ", length = %d" end comes
    // on a later line.
    static const char kCommandFmt[] = FMT_COMMAND_IS;
    static const char* const kCommandIs = kCommandFmt + sizeof "%s, " - 1;  // up to the text's "%s"
    static const size_t kCommandIsLen = std::strcspn(kCommandIs, "%");
    if (l->rest.compare(0, kCommandIsLen, kCommandIs, kCommandIsLen) == 0) {
        l->kind = LineKind::CommandIs;
        l->text = l->rest.substr(kCommandIsLen);
        return;
    }
    l->kind = LineKind::Other;
}

void classify_session(ScanLine* l) {
    const std::string& r = l->rest;
    if ((r.compare(0, 2, HEX_OUT " ") == 0 || r.compare(0, 2, HEX_IN " ") == 0) &&
        hex_list(r.data() + 2, r.size() - 2, l)) {
        l->kind = LineKind::SHex;
        l->flag = r[0] == HEX_OUT[0];
        return;
    }
    if (classify(kRefusals, l) || classify(kSessionForms, l)) {
        if (l->kind == LineKind::SLost) l->kind = l->text == WHAT_POLL ? LineKind::SPollFail : LineKind::SReadFail;
        return;
    }
    l->kind = LineKind::Other;
}

}  // namespace

const char* scan_sig_text(ScanSig sig) {
    for (const SigRow& s : kSigs) {
        if (s.sig == sig) return s.text;
    }
    return "";
}

namespace {

void split_sig(const std::string& text, std::string* name, std::string* rest);

// The function's name, from its signature text: "scan_type_check".
const char* call_name(const char* text, std::string* kept) {
    if (kept->empty()) {
        std::string rest;
        split_sig(text, kept, &rest);
    }
    return kept->c_str();
}

}  // namespace

const char* scan_sig_call(ScanSig sig) {
    static std::string names[sizeof kSigs / sizeof kSigs[0]];
    for (size_t i = 0; i < sizeof kSigs / sizeof kSigs[0]; ++i) {
        if (kSigs[i].sig == sig) return call_name(kSigs[i].text, &names[i]);
    }
    return "";
}

const char* scan_session_call(SessionFn fn) {
    static std::string names[sizeof kSessionSigs / sizeof kSessionSigs[0]];
    for (size_t i = 0; i < sizeof kSessionSigs / sizeof kSessionSigs[0]; ++i) {
        if (kSessionSigs[i].fn == fn) return call_name(kSessionSigs[i].text, &names[i]);
    }
    return "";
}

bool scan_is_device_line(LineKind kind) {
    return kind == LineKind::SNoWatch || kind == LineKind::LocksRefused || kind == LineKind::LocksWholeFile;
}

bool scan_is_question(ScanSig sig) {
    return sig == ScanSig::TypeCheck || sig == ScanSig::GetTimeout || sig == ScanSig::QueryData;
}

bool scan_session_question(SessionFn fn) {
    return fn == SessionFn::CheckType || fn == SessionFn::GetTimeout || fn == SessionFn::Query;
}

bool scan_session_write(SessionFn fn) {
    return fn == SessionFn::OpenDev || fn == SessionFn::EnableType || fn == SessionFn::SetTimeout ||
           fn == SessionFn::SetCommand || fn == SessionFn::Profile;
}

bool scan_parse_int(const char* p, size_t n, int* out) {
    size_t i = (n > 0 && p[0] == '-') ? 1 : 0;
    if (i == n || n - i > 10) return false;
    long long v = 0;
    for (; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + (p[i] - '0');
    }
    if (p[0] == '-') v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

namespace {

bool is_known_sig(const std::string& text) {
    for (const SigRow& s : kSigs) {
        if (text == s.text) return true;
    }
    for (const SessionRow& s : kSessionSigs) {
        if (text == s.text) return true;
    }
    return false;
}

// "int scan_session_query(ScanSession *, int, char *)": the name
// "scan_session_query" and the rest "int (ScanSession *, int, char *)".
void split_sig(const std::string& text, std::string* name, std::string* rest) {
    size_t open = text.find('(');
    if (open == std::string::npos) {
        name->clear();
        return;
    }
    size_t start = open == 0 ? std::string::npos : text.find_last_of(" *", open - 1);
    start = start == std::string::npos ? 0 : start + 1;
    *name = text.substr(start, open - start);
    *rest = text.substr(0, start) + text.substr(open);
}

size_t common_prefix(const std::string& a, const std::string& b) {
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

// The longest start that today's function `name` shares with another of
// today's functions ("scan_session_" for the session's).
size_t shared_stem(const std::vector<std::string>& names, const std::string& name) {
    size_t most = 0;
    for (const std::string& other : names) {
        if (other != name) most = std::max(most, common_prefix(other, name));
    }
    return most;
}

// Today's signature for one that an earlier or later library logged
// under another name or other parameters: the one of the same name, else
// the one alone of the same return type and parameters whose name starts
// as the logged one does, further than it starts as any other of today's
// (scan_session_check for scan_session_check_type).
bool former_sig(const std::string& text, std::string* today) {
    std::string name, rest;
    split_sig(text, &name, &rest);
    if (name.empty()) return false;
    std::vector<const char*> all;
    for (const SigRow& s : kSigs) all.push_back(s.text);
    for (const SessionRow& s : kSessionSigs) all.push_back(s.text);
    std::vector<std::string> names(all.size()), rests(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        split_sig(all[i], &names[i], &rests[i]);
        if (names[i] == name) {
            *today = all[i];
            return true;
        }
    }
    const char* found = nullptr;
    for (size_t i = 0; i < all.size(); ++i) {
        if (rests[i] != rest || common_prefix(names[i], name) <= shared_stem(names, names[i])) continue;
        if (found != nullptr) return false;
        found = all[i];
    }
    if (found == nullptr) return false;
    *today = found;
    return true;
}

}  // namespace

CoreClass scan_classify_core(const std::string& message, ScanLine* out) {
    *out = ScanLine();
    // A signature ends at its first ')' followed by ','.
    size_t close = message.find("),");
    if (close == std::string::npos) {
        if (message.size() > 1 && message.back() == ')' && message.find('(') != std::string::npos) {
            close = message.size() - 1;
        } else {
            return CoreClass::NotOurs;
        }
    }
    out->sig_text = message.substr(0, close + 1);
    size_t at = close + 2;
    if (at < message.size() && message[at] == ' ') ++at;
    out->rest = at < message.size() ? message.substr(at) : std::string();

    std::string known = out->sig_text;
    out->renamed = !is_known_sig(known) && former_sig(out->sig_text, &known);
    for (const SigRow& s : kSigs) {
        if (known != s.text) continue;
        out->sig = s.sig;
        if (classify(kDeviceForms, out)) return CoreClass::Ours;
        if (s.sig != ScanSig::Uart) classify_per_call(out);
        else if (!classify(kUartForms, out)) out->kind = LineKind::Other;
        return CoreClass::Ours;
    }
    for (const SessionRow& s : kSessionSigs) {
        if (known != s.text) continue;
        out->sig = ScanSig::Session;
        out->fn = s.fn;
        if (!classify(kDeviceForms, out)) classify_session(out);
        return CoreClass::Ours;
    }
    size_t open = out->sig_text.find('(');
    return open != std::string::npos && open > 0 ? CoreClass::UnknownSig : CoreClass::NotOurs;
}

void scan_classify_bridge(const std::string& message, BridgeLine* out) {
    *out = BridgeLine();
    for (int i = 0; i < kBridgeCount; ++i) {
        size_t n = std::strlen(kBridge[i].text);
        if (message.compare(0, n, kBridge[i].text) != 0 || message.compare(n, 2, ", ") != 0) continue;
        out->method = i;
        out->fn = kBridge[i].fn;
        out->rest = message.substr(n + 2);
        break;
    }
    if (out->method < 0) return;
    static const struct {
        const char* start;
        BridgeKind kind;
    } kKinds[] = {{"[ret=", BridgeKind::Ret}, {"[enable=", BridgeKind::Enable}, {"[data=", BridgeKind::Data},
                  {"[str=", BridgeKind::Str}};
    for (const auto& k : kKinds) {
        if (out->rest.compare(0, std::strlen(k.start), k.start) == 0) out->kind = k.kind;
    }
}

const char* scan_bridge_method(int method) {
    return method >= 0 && method < kBridgeCount ? kBridge[method].method : "";
}

ScanSig scan_bridge_core(int method, bool* flag) {
    if (method < 0 || method >= kBridgeCount || kBridge[method].fn != SessionFn::None) return ScanSig::Uart;
    *flag = kBridge[method].flag;
    return kBridge[method].core;
}

bool scan_is_reader(const std::string& message) {
    static const char kReader[] = SIG_S_READER;
    return message.compare(0, sizeof kReader - 1, kReader) == 0;
}
