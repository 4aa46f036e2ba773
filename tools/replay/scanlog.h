// The scanner's own log lines, free of any I/O: which function wrote a
// message (its signature text, the first "%s" of every line) and what the
// message says.
//
// Usage:
//   ScanLine l;
//   switch (scan_classify_core(message, &l)) {     // tag SCANLIB_CORE
//   case CoreClass::Ours: ... l.sig, l.kind, l.number, l.bytes ...
//   case CoreClass::UnknownSig: ... l.sig_text is the unknown signature ...
//   case CoreClass::NotOurs: ... a cut or foreign line ...
//   }
//   BridgeLine b;
//   scan_classify_bridge(message, &b);              // tag SCANLIB_JNI
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "logtext.h"

constexpr char kCoreTag[] = LOG_TAG_CORE;
constexpr char kBridgeTag[] = LOG_TAG_JNI;

// The functions that log under SCANLIB_CORE.
enum class ScanSig {
    OpenDev,     // int scan_open_dev(bool)
    EnableType,  // int scan_enable_type(bool, int)
    SetTimeout,  // int scan_set_timeout(int)
    SetCommand,  // int scan_set_command(const char *)
    Profile,     // int profile_scan_type()
    TypeCheck,   // bool scan_type_check(int)
    GetTimeout,  // char *scan_get_timeout()
    QueryData,   // char *scan_query_data(int)
    ReadData,    // char *scan_read_data()
    Uart,        // int set_uart_parm(int, unsigned int, int, char, int)
    Session,     // a held-port session function: which one is a SessionFn
};
constexpr int kPerCallSigs = 9;  // OpenDev .. ReadData

// The held-port session's functions that log (scan_session_wake logs nothing).
enum class SessionFn {
    None,
    Open,        // ScanSession *scan_session_open(int *)
    Close,       // void scan_session_close(ScanSession *)
    OpenDev,     // int scan_session_open_dev(ScanSession *, bool)
    EnableType,  // int scan_session_enable_type(ScanSession *, bool, int)
    SetTimeout,  // int scan_session_set_timeout(ScanSession *, int)
    SetCommand,  // int scan_session_set_command(ScanSession *, const char *)
    Profile,     // int scan_session_profile(ScanSession *)
    CheckType,   // int scan_session_check_type(ScanSession *, int)
    GetTimeout,  // int scan_session_get_timeout(ScanSession *, char *)
    Query,       // int scan_session_query(ScanSession *, int, char *)
    WaitScan,    // int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)
    Reader,      // void *session_reader(void *): the session's own thread
    WaitFree,    // int scan_session_wait_free(int): waits for another process to let the port go
};

const char* scan_sig_text(ScanSig sig);  // not for Session
const char* scan_sig_call(ScanSig sig);  // "scan_type_check" ...
const char* scan_session_call(SessionFn fn);  // "scan_session_check_type" ...
bool scan_is_question(ScanSig sig);           // scan_type_check, scan_get_timeout, scan_query_data
bool scan_session_question(SessionFn fn);     // check_type, get_timeout, query
bool scan_session_write(SessionFn fn);        // the five writes

enum class LineKind {
    Other,         // a line of a known function that is none of the below (a value text)
    Byte,          // "XX": one byte in hex
    OpenFail,      // "open device fail! Fd = %d"
    CfgFail,       // "set uart parm fail! ret = %d"
    WriteOk,       // "<what> successful! ret = %d"; flag: open / enable
    WriteFail,     // "<what> fail! ret = %d"; flag as WriteOk
    ReplyError,    // "check type error! ret = %d"
    ReadError,     // "read data error! ret = %d"
    Length,        // "length = %d" (scan data read, free command frame)
    TypeIs,        // "type = %d"
    Enable,        // "[enable=%d]"
    InvalidType,   // "invalid type index! type = %d" (also a session's)
    TimeoutRange,  // "timeout out of range -999..9999! time = %d" (also a session's)
    TimeIs,        // "time = %d, timeArray = %s"
    CommandNull,   // "command is null!" (also a session's)
    CommandLong,   // "command longer than %d bytes! length = %d"; number: the length (also a session's)
    CommandIs,     // "command = %s, length = %d"; text, number; flag: the ", length" end was seen
    QueryCommand,  // "commandlength = %d, commandArray = %s"; number: the length, text
    QueryWriteLen, // "writelength = %d"
    NoMemory,      // "no memory for the result!"
    Dropped,       // "dropped %d bytes: tail of an earlier message" (also a session's open)
    UartBaud,      // "Standard baud" / "Custom baud"
    UartSummary,   // "nSpeed = %d,nBits = %d,nEvent = %c,nStop = %d"
    // A per-call function while the port is held.
    HeldElsewhere, // "port held by another process! errno = %d"
    OnHeldPort,    // "on the held port"
    HeldNoScan,    // "port held by this process's session: no scan taken"
    CallWaited,    // "port in use by another call: waited %d ms"
    CallBusy,      // "port in use by another call! errno = %d"
    // The held-port session's lines.
    SOpen,         // "open %s fd = %d, 115200 8N1"; number: fd
    SOpenFail,     // "open device fail! errno = %d"
    SBusy,         // "port busy! errno = %d"
    SCfgFail,      // "set uart parm fail! errno = %d"
    SWrite,        // "write %d bytes"
    SWriteFail,    // "write fail! errno = %d"
    SReply,        // "reply %d bytes"
    SScan,         // "scan %d bytes"
    SNoAnswer,     // "no answer"
    SAnswer,       // "answer %s"; text
    SLost,         // "%s fail! errno = %d" before it is told apart:
    SReadFail,     // "read fail! errno = %d"
    SPollFail,     // "poll fail! errno = %d"
    SHungUp,       // "port hung up"
    SClose,        // "close fd = %d"
    SHex,          // "> HEX..." (flag: written) or "< HEX..." (read), 1 to 16 bytes
    SNoRoom,       // "dropped %d bytes: no room for another scan"
    SNoSession,    // "no open session!"
    SNoBuffer,     // "no buffer!"
    SFree,         // "port free after %d ms" (a wait for the port)
    // What the device's system allows, logged once per process under the
    // signature of the call that first met it: the device's, not a call's.
    SNoWatch,      // "the port cannot be watched (errno = %d): looked at every %d ms"
    LocksRefused,  // "the system refuses locks on the port (errno = %d): ..."
    LocksWholeFile,// "no description locks (errno = %d): whole-file locks, ..."
};

// A line that tells what the device's system allows rather than what a
// call did.
bool scan_is_device_line(LineKind kind);

// Most bytes on one session hex line.
constexpr size_t kHexLineMax = 16;

struct ScanLine {
    ScanSig sig = ScanSig::Uart;
    SessionFn fn = SessionFn::None;  // for ScanSig::Session
    std::string sig_text;    // the signature as logged
    bool renamed = false;    // logged under another signature than today's (another version)
    LineKind kind = LineKind::Other;
    std::string rest;        // the message after "signature, "
    int number = 0;
    bool flag = false;
    std::string text;
    uint8_t bytes[kHexLineMax] = {};
    size_t nbytes = 0;
};

enum class CoreClass { Ours, UnknownSig, NotOurs };

CoreClass scan_classify_core(const std::string& message, ScanLine* out);
// A line of the session's reader thread (signature SIG_S_READER).
bool scan_is_reader(const std::string& message);

// The Java bridge's adapters: ScanNative's in the order of its native
// method table (readData logs nothing and has no entry), then
// ScanPortNative's, which log "[ret=N]" after their session call (wake,
// and a wait that returned 0, log nothing). All formats and signature
// texts come from logtext.h.
enum class BridgeKind { Ret, Enable, Data, Str, Other };

struct BridgeLine {
    int method = -1;  // index into the adapters, -1 for registration lines and others
    SessionFn fn = SessionFn::None;  // the session function a ScanPortNative adapter calls
    BridgeKind kind = BridgeKind::Other;
    std::string rest;  // after "signature, "
};

void scan_classify_bridge(const std::string& message, BridgeLine* out);
const char* scan_bridge_method(int method);  // "checkType", "ScanPortNative.checkType" ...
// The core function a ScanNative adapter calls; *flag: its bool argument
// (openDev: true, closeDev: false, enableType: true, disableType: false).
ScanSig scan_bridge_core(int method, bool* flag);

// Parses a whole optional '-' and decimal digits within int.
bool scan_parse_int(const char* p, size_t n, int* out);
