#include "scanlog.h"

#include <climits>
#include <cstring>

namespace {

struct SigRow {
    ScanSig sig;
    const char* text;
    const char* call;
};

const SigRow kSigs[] = {
    {ScanSig::OpenDev, "int scan_open_dev(bool)", "scan_open_dev"},
    {ScanSig::EnableType, "int scan_enable_type(bool, int)", "scan_enable_type"},
    {ScanSig::SetTimeout, "int scan_set_timeout(int)", "scan_set_timeout"},
    {ScanSig::SetCommand, "int scan_set_command(const char *)", "scan_set_command"},
    {ScanSig::Profile, "int profile_scan_type()", "profile_scan_type"},
    {ScanSig::TypeCheck, "bool scan_type_check(int)", "scan_type_check"},
    {ScanSig::GetTimeout, "char *scan_get_timeout()", "scan_get_timeout"},
    {ScanSig::QueryData, "char *scan_query_data(int)", "scan_query_data"},
    {ScanSig::ReadData, "char *scan_read_data()", "scan_read_data"},
    {ScanSig::Uart, "int set_uart_parm(int, unsigned int, int, char, int)", "set_uart_parm"},
};

struct SessionRow {
    SessionFn fn;
    const char* text;
    const char* call;
};

const SessionRow kSessionSigs[] = {
    {SessionFn::Open, "ScanSession *scan_session_open(int *)", "scan_session_open"},
    {SessionFn::Close, "void scan_session_close(ScanSession *)", "scan_session_close"},
    {SessionFn::OpenDev, "int scan_session_open_dev(ScanSession *, bool)", "scan_session_open_dev"},
    {SessionFn::EnableType, "int scan_session_enable_type(ScanSession *, bool, int)",
     "scan_session_enable_type"},
    {SessionFn::SetTimeout, "int scan_session_set_timeout(ScanSession *, int)", "scan_session_set_timeout"},
    {SessionFn::SetCommand, "int scan_session_set_command(ScanSession *, const char *)",
     "scan_session_set_command"},
    {SessionFn::Profile, "int scan_session_profile(ScanSession *)", "scan_session_profile"},
    {SessionFn::CheckType, "int scan_session_check_type(ScanSession *, int)", "scan_session_check_type"},
    {SessionFn::GetTimeout, "int scan_session_get_timeout(ScanSession *, char *)", "scan_session_get_timeout"},
    {SessionFn::Query, "int scan_session_query(ScanSession *, int, char *)", "scan_session_query"},
    {SessionFn::WaitScan, "int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)",
     "scan_session_wait_scan"},
};

// The "<what>" of each write operation's "<what> successful!/fail! ret"
// line; flag is the operation's bool argument where the word tells it.
struct WriteWhat {
    ScanSig sig;
    const char* what;
    bool flag;
};

const WriteWhat kWrites[] = {
    {ScanSig::OpenDev, "open", true},          {ScanSig::OpenDev, "close", false},
    {ScanSig::EnableType, "write enable", true}, {ScanSig::EnableType, "write disable", false},
    {ScanSig::SetTimeout, "write timeout", false}, {ScanSig::SetCommand, "write command", false},
    {ScanSig::Profile, "profile_cmd", false},  {ScanSig::TypeCheck, "write check", false},
    {ScanSig::GetTimeout, "write", false},     {ScanSig::QueryData, "write query", false},
};

struct BridgeRow {
    const char* text;
    const char* method;
    ScanSig core;
    bool flag;
};

const BridgeRow kBridge[] = {
    {"jboolean openDev(JNIEnv *, jobject)", "openDev", ScanSig::OpenDev, true},
    {"jboolean closeDev(JNIEnv *, jobject)", "closeDev", ScanSig::OpenDev, false},
    {"jboolean checkType(JNIEnv *, jobject, jint)", "checkType", ScanSig::TypeCheck, false},
    {"jboolean enableType(JNIEnv *, jobject, jint)", "enableType", ScanSig::EnableType, true},
    {"jboolean disableType(JNIEnv *, jobject, jint)", "disableType", ScanSig::EnableType, false},
    {"jboolean setTimeout(JNIEnv *, jobject, jint)", "setTimeout", ScanSig::SetTimeout, false},
    {"jstring getTimeout(JNIEnv *, jobject)", "getTimeout", ScanSig::GetTimeout, false},
    {"jboolean sendCommand(JNIEnv *, jobject, jstring)", "sendCommand", ScanSig::SetCommand, false},
    {"jstring queryData(JNIEnv *, jobject, jint)", "queryData", ScanSig::QueryData, false},
    {"jboolean profileScanType(JNIEnv *, jobject)", "profileScanType", ScanSig::Profile, false},
};
constexpr int kBridgeCount = static_cast<int>(sizeof kBridge / sizeof kBridge[0]);

struct PortBridgeRow {
    const char* text;
    const char* method;
    SessionFn fn;
};

const PortBridgeRow kPortBridge[] = {
    {"jlong portOpen(JNIEnv *, jclass)", "ScanPortNative.open", SessionFn::Open},
    {"void portClose(JNIEnv *, jclass, jlong)", "ScanPortNative.close", SessionFn::Close},
    {"jint portWriteOpen(JNIEnv *, jclass, jlong, jboolean)", "ScanPortNative.writeOpen", SessionFn::OpenDev},
    {"jint portEnableType(JNIEnv *, jclass, jlong, jboolean, jint)", "ScanPortNative.enableType",
     SessionFn::EnableType},
    {"jint portSetTimeout(JNIEnv *, jclass, jlong, jint)", "ScanPortNative.setTimeout", SessionFn::SetTimeout},
    {"jint portSendCommand(JNIEnv *, jclass, jlong, jstring)", "ScanPortNative.sendCommand",
     SessionFn::SetCommand},
    {"jint portProfile(JNIEnv *, jclass, jlong)", "ScanPortNative.profile", SessionFn::Profile},
    {"jint portCheckType(JNIEnv *, jclass, jlong, jint)", "ScanPortNative.checkType", SessionFn::CheckType},
    {"jint portGetTimeout(JNIEnv *, jclass, jlong, jbyteArray)", "ScanPortNative.getTimeout",
     SessionFn::GetTimeout},
    {"jint portQuery(JNIEnv *, jclass, jlong, jint, jbyteArray)", "ScanPortNative.query", SessionFn::Query},
    {"jint portWaitScan(JNIEnv *, jclass, jlong, jint, jbyteArray, jlongArray)", "ScanPortNative.waitScan",
     SessionFn::WaitScan},
};
constexpr int kPortBridgeCount = static_cast<int>(sizeof kPortBridge / sizeof kPortBridge[0]);

// "signature, rest": the rest, or false.
bool after_sig(const std::string& message, const char* sig, std::string* rest) {
    size_t n = std::strlen(sig);
    if (message.size() < n + 2 || message.compare(0, n, sig) != 0 || message.compare(n, 2, ", ") != 0) {
        return false;
    }
    *rest = message.substr(n + 2);
    return true;
}

// A line that is a fixed text around one int.
struct Simple {
    const char* prefix;
    const char* suffix;
    LineKind kind;
};

bool starts(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool ends(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// prefix, an int, then suffix and nothing more.
bool int_between(const std::string& s, const char* prefix, const char* suffix, int* out) {
    size_t a = std::strlen(prefix), b = std::strlen(suffix);
    if (s.size() < a + b || !starts(s, prefix) || !ends(s, suffix)) return false;
    return scan_parse_int(s.data() + a, s.size() - a - b, out);
}

bool simple_line(const Simple* rows, size_t count, ScanLine* l) {
    for (size_t i = 0; i < count; ++i) {
        if (int_between(l->rest, rows[i].prefix, rows[i].suffix, &l->number)) {
            l->kind = rows[i].kind;
            return true;
        }
    }
    return false;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool hex_pair(const char* p, uint8_t* out) {
    int hi = hex_value(p[0]), lo = hex_value(p[1]);
    if (hi < 0 || lo < 0) return false;
    *out = static_cast<uint8_t>(hi * 16 + lo);
    return true;
}

// "XX XX ..." with one blank between pairs, 1 to kHexLineMax bytes.
bool hex_list(const char* p, size_t n, ScanLine* out) {
    out->nbytes = 0;
    for (size_t i = 0; i < n; i += 3) {
        if (i + 2 > n || out->nbytes == kHexLineMax) return false;
        if (!hex_pair(p + i, &out->bytes[out->nbytes])) return false;
        ++out->nbytes;
        if (i + 2 < n && p[i + 2] != ' ') return false;
    }
    return out->nbytes > 0;
}

// "<what> successful! ret = %d" or "<what> fail! ret = %d".
bool write_result(ScanLine* l) {
    static const char kOk[] = " successful! ret = ";
    static const char kFail[] = " fail! ret = ";
    for (const WriteWhat& w : kWrites) {
        if (w.sig != l->sig || !starts(l->rest, w.what)) continue;
        std::string tail = l->rest.substr(std::strlen(w.what));
        int n = 0;
        if (int_between(tail, kOk, "", &n)) {
            l->kind = LineKind::WriteOk;
        } else if (int_between(tail, kFail, "", &n)) {
            l->kind = LineKind::WriteFail;
        } else {
            continue;
        }
        l->number = n;
        l->flag = w.flag;
        return true;
    }
    return false;
}

// The refusals of an argument that no engine takes, with the same texts
// in the per-call functions and the session's.
bool argument_refusal(ScanLine* l) {
    static const Simple kSimple[] = {
        {"invalid type index! type = ", "", LineKind::InvalidType},
        {"timeout out of range -999..9999! time = ", "", LineKind::TimeoutRange},
    };
    if (simple_line(kSimple, sizeof kSimple / sizeof kSimple[0], l)) return true;
    const std::string& r = l->rest;
    if (r == "command is null!") {
        l->kind = LineKind::CommandNull;
        return true;
    }
    static const char kLength[] = "! length = ";
    size_t at = r.rfind(kLength);
    size_t from = at + sizeof kLength - 1;
    if (starts(r, "command longer than ") && at != std::string::npos &&
        scan_parse_int(r.data() + from, r.size() - from, &l->number)) {
        l->kind = LineKind::CommandLong;
        return true;
    }
    return false;
}

void classify_per_call(ScanLine* l) {
    const std::string& r = l->rest;
    if (r.size() == 2 && hex_pair(r.data(), &l->bytes[0])) {
        l->kind = LineKind::Byte;
        l->nbytes = 1;
        return;
    }
    static const Simple kSimple[] = {
        {"open device fail! Fd = ", "", LineKind::OpenFail},
        {"set uart parm fail! ret = ", "", LineKind::CfgFail},
        {"check type error! ret = ", "", LineKind::ReplyError},
        {"read data error! ret = ", "", LineKind::ReadError},
        {"length = ", "", LineKind::Length},
        {"type = ", "", LineKind::TypeIs},
        {"[enable=", "]", LineKind::Enable},
        {"writelength = ", "", LineKind::QueryWriteLen},
        {"dropped ", " bytes: tail of an earlier message", LineKind::Dropped},
    };
    if (simple_line(kSimple, sizeof kSimple / sizeof kSimple[0], l) || argument_refusal(l)) return;
    if (r == "no memory for the result!") {
        l->kind = LineKind::NoMemory;
    } else if (starts(r, "time = ")) {
        size_t comma = r.find(", timeArray = ");
        if (comma != std::string::npos && scan_parse_int(r.data() + 7, comma - 7, &l->number)) {
            l->kind = LineKind::TimeIs;
            l->text = r.substr(comma + 14);
        }
    } else if (starts(r, "commandlength = ")) {
        size_t comma = r.find(", commandArray = ");
        if (comma != std::string::npos &&
            scan_parse_int(r.data() + 16, comma - 16, &l->number)) {
            l->kind = LineKind::QueryCommand;
            l->text = r.substr(comma + 17);
        }
    } else if (starts(r, "command = ")) {
        // The text may hold line ends: then the ", length = %d" end comes
        // on a later line.
        l->kind = LineKind::CommandIs;
        size_t at = r.rfind(", length = ");
        l->flag = at != std::string::npos && at >= 10 &&
                  scan_parse_int(r.data() + at + 11, r.size() - at - 11, &l->number);
        l->text = l->flag ? r.substr(10, at - 10) : r.substr(10);
    } else if (!write_result(l)) {
        l->kind = LineKind::Other;
    }
}

void classify_uart(ScanLine* l) {
    const std::string& r = l->rest;
    if (r == "Standard baud" || r == "Custom baud") {
        l->kind = LineKind::UartBaud;
    } else if (starts(r, "nSpeed = ")) {
        l->kind = LineKind::UartSummary;
    }
}

void classify_session(ScanLine* l) {
    const std::string& r = l->rest;
    static const Simple kSimple[] = {
        {"open device fail! errno = ", "", LineKind::SOpenFail},
        {"port busy! errno = ", "", LineKind::SBusy},
        {"set uart parm fail! errno = ", "", LineKind::SCfgFail},
        {"dropped ", " bytes: tail of an earlier message", LineKind::Dropped},
        {"write ", " bytes", LineKind::SWrite},
        {"write fail! errno = ", "", LineKind::SWriteFail},
        {"reply ", " bytes", LineKind::SReply},
        {"scan ", " bytes", LineKind::SScan},
        {"read fail! errno = ", "", LineKind::SReadFail},
        {"poll fail! errno = ", "", LineKind::SPollFail},
        {"close fd = ", "", LineKind::SClose},
        {"dropped ", " bytes: no room for another scan", LineKind::SNoRoom},
    };
    if (simple_line(kSimple, sizeof kSimple / sizeof kSimple[0], l) || argument_refusal(l)) return;
    if (r == "no answer") {
        l->kind = LineKind::SNoAnswer;
    } else if (r == "no open session!") {
        l->kind = LineKind::SNoSession;
    } else if (r == "no buffer!") {
        l->kind = LineKind::SNoBuffer;
    } else if (r == "port hung up") {
        l->kind = LineKind::SHungUp;
    } else if (starts(r, "answer ")) {
        l->kind = LineKind::SAnswer;
        l->text = r.substr(7);
    } else if ((starts(r, "> ") || starts(r, "< ")) && hex_list(r.data() + 2, r.size() - 2, l)) {
        l->kind = LineKind::SHex;
        l->flag = r[0] == '>';
    } else if (starts(r, "open ") && ends(r, ", 115200 8N1")) {
        size_t at = r.rfind(" fd = ");
        if (at != std::string::npos &&
            scan_parse_int(r.data() + at + 6, r.size() - at - 6 - 12, &l->number)) {
            l->kind = LineKind::SOpen;
            l->text = r.substr(5, at - 5);
        }
    }
}

}  // namespace

const char* scan_sig_text(ScanSig sig) {
    for (const SigRow& s : kSigs) {
        if (s.sig == sig) return s.text;
    }
    return "";
}

const char* scan_sig_call(ScanSig sig) {
    for (const SigRow& s : kSigs) {
        if (s.sig == sig) return s.call;
    }
    return "";
}

const char* scan_session_call(SessionFn fn) {
    for (const SessionRow& s : kSessionSigs) {
        if (s.fn == fn) return s.call;
    }
    return "";
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

CoreClass scan_classify_core(const std::string& message, ScanLine* out) {
    *out = ScanLine();
    // A signature ends at its first ')' followed by ','.
    size_t close = message.find("),");
    if (close == std::string::npos) {
        if (ends(message, ")") && message.find('(') != std::string::npos) close = message.size() - 1;
        else return CoreClass::NotOurs;
    }
    out->sig_text = message.substr(0, close + 1);
    size_t at = close + 2;
    if (at < message.size() && message[at] == ' ') ++at;
    out->rest = at < message.size() ? message.substr(at) : std::string();

    for (const SigRow& s : kSigs) {
        if (out->sig_text == s.text) {
            out->sig = s.sig;
            if (s.sig == ScanSig::Uart) classify_uart(out);
            else classify_per_call(out);
            return CoreClass::Ours;
        }
    }
    for (const SessionRow& s : kSessionSigs) {
        if (out->sig_text == s.text) {
            out->sig = ScanSig::Session;
            out->fn = s.fn;
            classify_session(out);
            return CoreClass::Ours;
        }
    }
    size_t open = out->sig_text.find('(');
    return open != std::string::npos && open > 0 ? CoreClass::UnknownSig : CoreClass::NotOurs;
}

void scan_classify_bridge(const std::string& message, BridgeLine* out) {
    *out = BridgeLine();
    for (int i = 0; i < kBridgeCount + kPortBridgeCount && out->method < 0; ++i) {
        bool port = i >= kBridgeCount;
        if (!after_sig(message, port ? kPortBridge[i - kBridgeCount].text : kBridge[i].text, &out->rest)) continue;
        out->method = i;
        if (port) out->fn = kPortBridge[i - kBridgeCount].fn;
    }
    if (out->method < 0) return;
    if (starts(out->rest, "[ret=")) out->kind = BridgeKind::Ret;
    else if (starts(out->rest, "[enable=")) out->kind = BridgeKind::Enable;
    else if (starts(out->rest, "[data=")) out->kind = BridgeKind::Data;
    else if (starts(out->rest, "[str=")) out->kind = BridgeKind::Str;
}

const char* scan_bridge_method(int method) {
    if (method >= kBridgeCount && method < kBridgeCount + kPortBridgeCount) {
        return kPortBridge[method - kBridgeCount].method;
    }
    return method >= 0 && method < kBridgeCount ? kBridge[method].method : "";
}

ScanSig scan_bridge_core(int method, bool* flag) {
    if (method < 0 || method >= kBridgeCount) return ScanSig::Uart;
    *flag = kBridge[method].flag;
    return kBridge[method].core;
}
