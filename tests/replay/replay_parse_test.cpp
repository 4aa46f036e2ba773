// The capture parser without any I/O: logcat's formats, the scanner's
// lines, the operations rebuilt from hand-written captures, and the times
// at which the replay sends the engine's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture.h"
#include "logcat.h"
#include "normalise.h"
#include "scanlog.h"

namespace {

const char kCheck[] = "bool scan_type_check(int)";
const char kRead[] = "char *scan_read_data()";
const char kQuery[] = "char *scan_query_data(int)";
const char kUart[] = "int set_uart_parm(int, unsigned int, int, char, int)";
const char kOpen[] = "int scan_open_dev(bool)";
const std::string kSOpen = "ScanSession *scan_session_open(int *)";
const std::string kSCheck = "int scan_session_check_type(ScanSession *, int)";
const std::string kSProfile = "int scan_session_profile(ScanSession *)";
const std::string kSWait = "int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)";
const std::string kSWaitFree = "int scan_session_wait_free(int)";
const std::string kRefused = "the system refuses locks on the port (errno = 13): other processes cannot be kept off it";

// A brief-format line of pid 100.
std::string core(char prio, const std::string& sig, const std::string& rest) {
    return std::string(1, prio) + "/SCANLIB_CORE(  100): " + sig + ", " + rest;
}

std::vector<std::string> configure() {
    return {core('D', kUart, "Standard baud"),
            std::string("D/SCANLIB_CORE(  100): ") + kUart + ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"};
}

void add(std::vector<std::string>* to, const std::vector<std::string>& lines) {
    to->insert(to->end(), lines.begin(), lines.end());
}

std::vector<std::string> bytes(const std::string& sig, const std::vector<int>& values) {
    std::vector<std::string> out;
    for (int v : values) {
        char hex[8];
        snprintf(hex, sizeof hex, "%02X ", v);
        out.push_back(core('D', sig, hex));
    }
    return out;
}

std::vector<std::string> repeat(const std::string& line, int n) { return std::vector<std::string>(n, line); }

std::vector<CaptureEvent> rebuild(const std::vector<std::string>& lines, std::vector<LogEntry>* device = nullptr) {
    LogcatParser p;
    CaptureBuilder b;
    LogEntry e;
    for (size_t i = 0; i < lines.size(); ++i) {
        LogcatResult r = logcat_feed(&p, lines[i].data(), lines[i].size(), i + 1, &e);
        if (r == LogcatResult::Entry) capture_feed(&b, e);
        if (r == LogcatResult::Damaged) capture_damaged_line(&b, i + 1);
    }
    if (logcat_finish(&p, &e) == LogcatResult::Entry) capture_feed(&b, e);
    capture_finish(&b);
    std::vector<CaptureEvent> out;
    CaptureEvent ev;
    while (capture_next(&b, &ev)) out.push_back(ev);
    if (device != nullptr) *device = b.device_lines;
    return out;
}

std::vector<std::string> check_enabled() {
    std::vector<std::string> l = {core('D', kCheck, "type = 3")};
    add(&l, configure());
    l.push_back(core('D', kCheck, "write check successful! ret = 11"));
    add(&l, bytes(kCheck, {'9', '0', '0', '0', '0', '3', '1', 0x06, 0x0D}));
    l.push_back(core('D', kCheck, "[enable=1]"));
    return l;
}

TEST(ReplayLogcat, EachFormatGivesTheSameEntry) {
    struct Case {
        std::string line;
        LogcatFormat format;
        int tid;
        bool timed;
    } cases[] = {
        {"D/SCANLIB_CORE( 1234): bool scan_type_check(int), 31 ", LogcatFormat::Brief, -1, false},
        {"12-08 01:31:12.326 D/SCANLIB_CORE( 1234): bool scan_type_check(int), 31 \r", LogcatFormat::Time, -1, true},
        {"12-08 01:31:12.335  1234  1240 D SCANLIB_CORE: bool scan_type_check(int), 31 ", LogcatFormat::Threadtime, 1240, true},
        {"2026-12-08 01:31:12.335123  1234  1240 D SCANLIB_CORE: bool scan_type_check(int), 31 ", LogcatFormat::Threadtime, 1240, true},
    };
    for (const Case& c : cases) {
        LogcatParser p;
        LogEntry e;
        ASSERT_EQ(logcat_feed(&p, c.line.data(), c.line.size(), 7, &e), LogcatResult::Entry) << c.line;
        EXPECT_EQ(e.format, c.format) << c.line;
        EXPECT_EQ(e.prio, 'D');
        EXPECT_EQ(e.tag, "SCANLIB_CORE");
        EXPECT_EQ(e.pid, 1234);
        EXPECT_EQ(e.tid, c.tid);
        EXPECT_EQ(e.time_us >= 0, c.timed);
        EXPECT_EQ(e.message, "bool scan_type_check(int), 31");
        EXPECT_TRUE(e.trailing_blank) << c.line;
        EXPECT_EQ(e.line, 7u);
    }
    // Long: a header, the text's lines, a blank line; the thread id may be hex.
    LogcatParser p;
    LogEntry e;
    const char* block[] = {"[ 12-08 01:31:12.344 18970:0x4a1b E/SCANLIB_CORE ]", "char *scan_query_data(int), A",
                           "B", ""};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(logcat_feed(&p, block[i], strlen(block[i]), i + 1, &e), LogcatResult::None);
    ASSERT_EQ(logcat_feed(&p, block[3], 0, 4, &e), LogcatResult::Entry);
    EXPECT_EQ(e.format, LogcatFormat::Long);
    EXPECT_EQ(e.prio, 'E');
    EXPECT_EQ(e.pid, 18970);
    EXPECT_EQ(e.tid, 0x4a1b);
    EXPECT_EQ(e.message, "char *scan_query_data(int), A\nB");
    EXPECT_EQ(e.line, 1u);
}

TEST(ReplayLogcat, OtherLinesAreToldApart) {
    struct Case {
        const char* line;
        LogcatResult result;
    } cases[] = {
        {"--------- beginning of main", LogcatResult::None},
        {"", LogcatResult::None},
        {"engine <- FF 54 0D  |.T.|  open", LogcatResult::Foreign},
        {"ok: 3 bytes written", LogcatResult::Foreign},
        {"I/ActivityManager(  541): Start proc", LogcatResult::Entry},
        {"D/SCANLIB_CO", LogcatResult::Damaged},
        {"    at com.other.Thing.run(SCANLIB_JNI.java:12)", LogcatResult::Foreign},
        {"12-08 01:31:12.335  1234 D SCANLIB_CORE: no thread id", LogcatResult::Damaged},
        {"13-08 01:31:12.335  1234  1240 D SCANLIB_CORE: month 13", LogcatResult::Damaged},
    };
    for (const Case& c : cases) {
        LogcatParser p;
        LogEntry e;
        EXPECT_EQ(logcat_feed(&p, c.line, strlen(c.line), 1, &e), c.result) << c.line;
    }
    int64_t a = 0, b = 0;
    size_t used = 0;
    ASSERT_TRUE(logcat_parse_time("01-31 23:59:59.999", 18, &used, &a));
    ASSERT_TRUE(logcat_parse_time("02-01 00:00:00.001", 18, &used, &b));
    EXPECT_EQ(b - a, 2000);
}

TEST(ReplayScanLog, LinesAreClassified) {
    struct Case {
        std::string message;
        CoreClass cls;
        LineKind kind;
        int number;
    } cases[] = {
        {"bool scan_type_check(int), 0D", CoreClass::Ours, LineKind::Byte, 0},
        {"bool scan_type_check(int), 3G", CoreClass::Ours, LineKind::Other, 0},
        {"bool scan_type_check(int), check type error! ret = -1", CoreClass::Ours, LineKind::ReplyError, -1},
        {"int scan_open_dev(bool), close fail! ret = -1", CoreClass::Ours, LineKind::WriteFail, -1},
        {"char *scan_get_timeout(), write successful! ret = 11", CoreClass::Ours, LineKind::WriteOk, 11},
        {"char *scan_read_data(), dropped 12 bytes: tail of an earlier message", CoreClass::Ours, LineKind::Dropped, 12},
        {"char *scan_read_data(), length = 8192", CoreClass::Ours, LineKind::Length, 8192},
        {"char *scan_read_data(), length = 99999999999", CoreClass::Ours, LineKind::Other, 0},
        {"int scan_set_command(const char *), command = a, length = 9, length = 1", CoreClass::Ours, LineKind::CommandIs, 1},
        // A command text that holds a line end: its first line.
        {"int scan_set_command(const char *), command = a", CoreClass::Ours, LineKind::CommandIs, 0},
        {"char *scan_query_data(int),", CoreClass::Ours, LineKind::Other, 0},
        {"int set_uart_parm(int, unsigned int, int, char, int),nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1",
         CoreClass::Ours, LineKind::UartSummary, 1},
        // A per-call function on a held port.
        {"bool scan_type_check(int), port held by another process! errno = 11", CoreClass::Ours,
         LineKind::HeldElsewhere, 11},
        {"char *scan_read_data(), port held by this process's session: no scan taken", CoreClass::Ours,
         LineKind::HeldNoScan, 0},
        {"int scan_open_dev(bool), port in use by another call: waited 87 ms", CoreClass::Ours, LineKind::CallWaited,
         87},
        {"int scan_open_dev(bool), write enable successful! ret = 3", CoreClass::Ours, LineKind::Other, 0},
        {"int scan_frobnicate(int), 31", CoreClass::UnknownSig, LineKind::Other, 0},
        {"bool scan_type_ch", CoreClass::NotOurs, LineKind::Other, 0},
        // The held-port session's lines; a signature it does not have.
        {kSOpen + ", open /dev/ttyMT1 fd = 5, 115200 8N1", CoreClass::Ours, LineKind::SOpen, 5},
        {kSOpen + ", port busy! errno = 16", CoreClass::Ours, LineKind::SBusy, 16},
        {kSCheck + ", write 11 bytes", CoreClass::Ours, LineKind::SWrite, 11},
        {kSWait + ", scan 13 bytes", CoreClass::Ours, LineKind::SScan, 13},
        {kSWait + ", read fail! errno = 11", CoreClass::Ours, LineKind::SReadFail, 11},
        {"void *session_reader(void *), poll fail! errno = 4", CoreClass::Ours, LineKind::SPollFail, 4},
        {kSWait + ", no buffer!", CoreClass::Ours, LineKind::SNoBuffer, 0},
        {kSProfile + ", dropped 6 bytes: no room for another scan", CoreClass::Ours, LineKind::SNoRoom, 6},
        {kSProfile + ", no open session!", CoreClass::Ours, LineKind::SNoSession, 0},
        {"int scan_session_set_command(ScanSession *, const char *), command longer than 255 bytes! length = 256",
         CoreClass::Ours, LineKind::CommandLong, 256},
        {"void scan_session_close(ScanSession *), close fd = 5", CoreClass::Ours, LineKind::SClose, 5},
        {kSWait + ", < 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", CoreClass::Ours, LineKind::Other, 0},
        {kSWait + ", < 4F 4B  0D", CoreClass::Ours, LineKind::Other, 0},
        {"int scan_session_read(ScanSession *), scan 13 bytes", CoreClass::UnknownSig, LineKind::Other, 0},
        // A wait for the port; what the device's system allows, under any signature.
        {kSWaitFree + ", port free after 205 ms", CoreClass::Ours, LineKind::SFree, 205},
        {kSWaitFree + ", open device fail! errno = 2", CoreClass::Ours, LineKind::SOpenFail, 2},
        {kSWaitFree + ", the port cannot be watched (errno = 13): looked at every 20 ms", CoreClass::Ours,
         LineKind::SNoWatch, 20},
        {std::string(kCheck) + ", " + kRefused, CoreClass::Ours, LineKind::LocksRefused, 13},
        {kSOpen + ", no description locks (errno = 22): whole-file locks, cycles of processes not kept apart",
         CoreClass::Ours, LineKind::LocksWholeFile, 22},
    };
    for (const Case& c : cases) {
        ScanLine l;
        EXPECT_EQ(scan_classify_core(c.message, &l), c.cls) << c.message;
        if (c.cls != CoreClass::Ours) continue;
        EXPECT_EQ(l.kind, c.kind) << c.message;
        EXPECT_EQ(l.number, c.number) << c.message;
    }
    ScanLine l;
    ASSERT_EQ(scan_classify_core(kSCheck + ", > FF 4D 0D 39", &l), CoreClass::Ours);
    EXPECT_EQ(l.sig, ScanSig::Session);
    EXPECT_EQ(l.fn, SessionFn::CheckType);
    EXPECT_EQ(l.kind, LineKind::SHex);
    EXPECT_TRUE(l.flag);
    EXPECT_EQ(std::vector<uint8_t>(l.bytes, l.bytes + l.nbytes), (std::vector<uint8_t>{0xFF, 0x4D, 0x0D, 0x39}));
    ASSERT_EQ(scan_classify_core(kSCheck + ", answer enabled", &l), CoreClass::Ours);
    EXPECT_EQ(l.text, "enabled");
}

TEST(ReplayCapture, OperationsAreRebuilt) {
    std::vector<std::string> lines = check_enabled();
    lines.push_back("D/SCANLIB_JNI(  100): jboolean checkType(JNIEnv *, jobject, jint), [enable=1]");
    // A question that got no reply; a query whose value looks like a byte.
    lines.push_back(core('D', kQuery, "commandlength = 2, commandArray = 12"));
    lines.push_back(core('D', kQuery, "writelength = 7"));
    add(&lines, bytes(kQuery, {0xFF, 0x4D, 0x0D, '1', '2', '?', '.'}));
    add(&lines, configure());
    lines.push_back(core('D', kQuery, "write query successful! ret = 7"));
    add(&lines, bytes(kQuery, {'1', '2', '4', '1', 0x06, 0x0D}));
    lines.push_back(core('D', kQuery, "41"));
    // No port: the Java call tells open from close.
    lines.push_back(core('E', kOpen, "open device fail! Fd = -1"));
    lines.push_back("D/SCANLIB_JNI(  100): jboolean closeDev(JNIEnv *, jobject), [ret=-1]");
    // A scan data read that drops a tail, then reads its own scan.
    add(&lines, configure());
    add(&lines, bytes(kRead, {'A', 'B'}));
    lines.push_back(core('D', kRead, "dropped 2 bytes: tail of an earlier message"));
    add(&lines, repeat(core('E', kRead, "read data error! ret = -1"), 2));
    lines.push_back(core('D', kRead, "length = 3"));
    add(&lines, bytes(kRead, {'x', 'y', 'z'}));

    std::vector<CaptureEvent> ev = rebuild(lines);
    ASSERT_EQ(ev.size(), 4u);
    for (const CaptureEvent& e : ev) ASSERT_TRUE(e.is_op) << e.note.reason;
    const CapturedOp& check = ev[0].op;
    EXPECT_EQ(capture_op_call(check), "scan_type_check(3)");
    EXPECT_EQ(check.java, "checkType");
    EXPECT_EQ(check.lines.size(), 14u);
    ASSERT_EQ(check.chunks.size(), 1u);
    EXPECT_EQ(check.chunks[0].bytes.size(), 9u);
    EXPECT_EQ(capture_op_text(check, 13), "bool scan_type_check(int), [enable=1]");

    const CapturedOp& query = ev[1].op;
    EXPECT_EQ(capture_op_call(query), "scan_query_data(12)");
    EXPECT_EQ(capture_op_text(query, query.lines.size() - 1), "char *scan_query_data(int), 41");

    EXPECT_EQ(capture_op_call(ev[2].op), "scan_open_dev(false)");
    EXPECT_EQ(ev[2].op.shape, PortShape::Missing);

    const CapturedOp& read = ev[3].op;
    ASSERT_EQ(read.chunks.size(), 2u);
    EXPECT_TRUE(read.chunks[0].tail);
    EXPECT_EQ(read.chunks[1].errors_before, 2);
    EXPECT_EQ(read.chunks[1].bytes, (std::vector<uint8_t>{'x', 'y', 'z'}));
}

// A lock refused is the device's, kept out of the call it came in; a wait
// for the port is an operation of one line.
TEST(ReplayCapture, TheDevicesLinesAndWaitsForThePort) {
    std::vector<std::string> lines = check_enabled();
    lines.insert(lines.begin() + 1, core('W', kCheck, kRefused));
    lines.push_back(core('D', kSWaitFree, "port free after 205 ms"));
    lines.push_back(core('E', kSWaitFree, "open device fail! errno = 2"));
    lines.push_back(core('E', kSWaitFree, "open device fail! errno = 24"));
    std::vector<LogEntry> device;
    std::vector<CaptureEvent> ev = rebuild(lines, &device);
    ASSERT_EQ(ev.size(), 4u);
    for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(ev[i].is_op) << ev[i].note.reason;
    EXPECT_EQ(ev[3].note.reason.rfind("line 18: errno 24 cannot be brought about by a replay", 0), 0u)
        << ev[3].note.reason;
    EXPECT_EQ(ev[0].op.lines.size(), 14u);
    ASSERT_EQ(device.size(), 1u);
    EXPECT_EQ(device[0].line, 2u);
    EXPECT_EQ(capture_op_call(ev[1].op), "scan_session_wait_free()");
    EXPECT_EQ(ev[1].op.shape, PortShape::HeldByOther);
    EXPECT_EQ(ev[1].op.waited_ms, 205);
    EXPECT_EQ(ev[2].op.shape, PortShape::Missing);
}

TEST(ReplayCapture, UnusableLinesBecomeNotesWithTheirLineNumbers) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        size_t at;       // the line the note names
        NoteKind kind;
    };
    const std::vector<std::string> whole = check_enabled();
    std::vector<std::string> cut_start(whole.begin() + 4, whole.end());
    std::vector<std::string> cut_end(whole.begin(), whole.end() - 3);
    std::vector<std::string> not_hex = check_enabled();
    not_hex[6] = core('D', kCheck, "9G ");
    std::vector<std::string> dropped = check_enabled();
    dropped.insert(dropped.begin() + 6, "I/chatty  (  100): uid=0(root) scanctl expire 4 lines");
    std::vector<std::string> unknown = check_enabled();
    unknown[5] = core('D', "bool scan_type_probe(long)", "39 ");
    std::vector<std::string> cut_line = check_enabled();
    cut_line[5] = "D/SCANLIB_CORE(  10";
    std::vector<std::string> silent = {core('D', kCheck, "type = 3")};
    add(&silent, configure());
    silent.push_back(core('D', kCheck, "write check successful! ret = 11"));
    add(&silent, repeat(core('E', kCheck, "check type error! ret = -1"), 9));
    silent.push_back("D/SCANLIB_JNI(  100): jboolean checkType(JNIEnv *, jobject, jint), [enable=0]");
    const Case cases[] = {
        {"capture starts inside", cut_start, 1, NoteKind::Cut},
        {"capture ends inside", cut_end, 1, NoteKind::Cut},
        {"byte line not hex", not_hex, 7, NoteKind::Damaged},
        {"log daemon dropped lines", dropped, 7, NoteKind::Abandoned},
        {"unknown signature", unknown, 6, NoteKind::Damaged},
        {"cut line", cut_line, 6, NoteKind::Damaged},
        {"silent question with a failed read lost", silent, 14, NoteKind::Damaged},
    };
    for (const Case& c : cases) {
        std::vector<CaptureEvent> ev = rebuild(c.lines);
        bool found = false;
        for (const CaptureEvent& e : ev) {
            ASSERT_FALSE(e.is_op && c.kind != NoteKind::Cut) << c.what << ": a damaged operation was rebuilt";
            if (e.is_op) continue;
            found = true;
            EXPECT_EQ(e.note.kind, c.kind) << c.what;
            std::string at = "line " + std::to_string(c.at) + ":";
            EXPECT_EQ(e.note.reason.compare(0, at.size(), at), 0) << c.what << ": " << e.note.reason;
        }
        EXPECT_TRUE(found) << c.what;
    }
}

// A complete operation whose thread then logs a line that cannot be read
// (cut short, or cut at the log's payload limit) is still rebuilt; the
// line is a note of its own.
TEST(ReplayCapture, ACompleteOperationOutlivesADamagedLineAfterIt) {
    const std::string cut[] = {"D/SCANLIB_CORE(  100): bool scan_type_ch",
                               core('D', kCheck, std::string(kLogPayloadMax, 'V'))};
    for (const std::string& bad : cut) {
        std::vector<std::string> lines = check_enabled();
        lines.push_back(bad);
        std::vector<CaptureEvent> ev = rebuild(lines);
        ASSERT_EQ(ev.size(), 2u) << bad.substr(0, 40);
        ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.lines.size(), 14u);
        EXPECT_EQ(ev[1].note.kind, NoteKind::Damaged);
        EXPECT_EQ(ev[1].note.reason.rfind("line 15: ", 0), 0u) << ev[1].note.reason;
    }
}

// A thread whose scan data read ended after a dropped tail, and that then
// calls on a session another thread opened: the read's end is not the
// session call's.
TEST(ReplayCapture, ASessionCallAfterAReadThatMayEndAnywhere) {
    auto at = [](int ms, const std::string& sig, const std::string& rest, int tid) {
        char head[64];
        snprintf(head, sizeof head, "12-08 01:40:%02d.%03d   100 %5d D SCANLIB_CORE: ", ms / 1000, ms % 1000, tid);
        return head + sig + (rest[0] == ',' ? "" : ", ") + rest;
    };
    const std::string summary = ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1";
    const std::vector<std::string> lines = {
        at(0, kUart, "Standard baud", 101),
        at(0, kUart, summary, 101),
        at(5, kRead, "41 ", 101),
        at(5, kRead, "dropped 1 bytes: tail of an earlier message", 101),
        at(1100, kUart, "Standard baud", 102),
        at(1100, kUart, summary, 102),
        at(1100, kSOpen, "open /dev/ttyMT1 fd = 5, 115200 8N1", 102),
        at(1200, kSCheck, "write 11 bytes", 101),
        at(1200, kSCheck, "> FF 4D 0D 39 30 30 30 30 33 3F 2E", 101),
        at(1210, kSCheck, "reply 9 bytes", 101),
        at(1210, kSCheck, "< 39 30 30 30 30 33 31 06 0D", 101),
        at(1210, kSCheck, "answer enabled", 101),
    };
    std::vector<CaptureEvent> ev = rebuild(lines);
    ASSERT_EQ(ev.size(), 3u);
    for (const CaptureEvent& e : ev) ASSERT_TRUE(e.is_op) << e.note.reason;
    EXPECT_EQ(ev[0].op.sig, ScanSig::ReadData);
    EXPECT_EQ(ev[1].op.fn, SessionFn::Open);
    EXPECT_EQ(capture_op_call(ev[2].op), "scan_session_check_type(3)");
    EXPECT_EQ(ev[2].op.lines.size(), 5u);
}

// A native call (its process logs no bridge line) waits for one before it
// goes out; a session that another process opened after it meanwhile
// comes out after it, as it ran: the replay would otherwise run the call
// in the middle of that session.
TEST(ReplayCapture, ACallAwaitingItsBridgeLineStillGoesOutFirst) {
    auto at = [](int pid, const std::string& sig, const std::string& rest) {
        return "12-08 01:40:00.000 " + std::to_string(pid) + " " + std::to_string(pid) +
               " D SCANLIB_CORE: " + sig + (rest[0] == ',' ? "" : ", ") + rest;
    };
    std::vector<std::string> lines = {
        at(100, kCheck, "type = 3"),
        at(100, kUart, "Standard baud"),
        at(100, kUart, ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"),
        at(100, kCheck, "write check successful! ret = 11"),
    };
    for (const char* byte : {"39 ", "30 ", "30 ", "30 ", "30 ", "33 ", "31 ", "06 ", "0D "}) lines.push_back(at(100, kCheck, byte));
    lines.push_back(at(100, kCheck, "[enable=1]"));
    lines.push_back(at(200, kUart, "Standard baud"));
    lines.push_back(at(200, kUart, ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"));
    lines.push_back(at(200, kSOpen, "open /dev/ttyMT1 fd = 7, 115200 8N1"));
    lines.push_back(at(200, "int scan_session_open_dev(ScanSession *, bool)", "write 3 bytes"));
    lines.push_back(at(200, "int scan_session_open_dev(ScanSession *, bool)", "> FF 54 0D"));
    std::vector<CaptureEvent> ev = rebuild(lines);
    ASSERT_EQ(ev.size(), 3u);
    for (const CaptureEvent& e : ev) ASSERT_TRUE(e.is_op) << e.note.reason;
    EXPECT_EQ(capture_op_call(ev[0].op), "scan_type_check(3)");
    EXPECT_EQ(ev[1].op.fn, SessionFn::Open);
    EXPECT_EQ(ev[2].op.fn, SessionFn::OpenDev);
}

// A time-format line of pid 100, ms into the capture.
std::string timed(int ms, char prio, const std::string& sig, const std::string& rest,
                  const char* tag = "SCANLIB_CORE") {
    char head[64];
    snprintf(head, sizeof head, "12-08 01:40:%02d.%03d %c/%s(  100): ", ms / 1000, ms % 1000, prio, tag);
    return head + sig + (rest[0] == ',' ? "" : ", ") + rest;
}

// The log daemon prints a run of identical lines once and counts the rest:
// the operation is rebuilt as if every line were there.
TEST(ReplayCapture, IdenticalLinesOfTheLogDaemonAreExpanded) {
    std::vector<std::string> whole = check_enabled();  // its reply holds "30 " four times
    std::vector<std::string> marked = whole;
    marked.erase(marked.begin() + 6, marked.begin() + 9);
    marked.insert(marked.begin() + 6, "I/chatty  (  100): uid=0(root) scanctl identical 3 lines");
    std::vector<CaptureEvent> want = rebuild(whole), got = rebuild(marked);
    ASSERT_EQ(want.size(), 1u);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_TRUE(got[0].is_op) << got[0].note.reason;
    ASSERT_EQ(got[0].op.lines.size(), want[0].op.lines.size());
    for (size_t i = 0; i < want[0].op.lines.size(); ++i) {
        EXPECT_EQ(capture_op_text(got[0].op, i), capture_op_text(want[0].op, i)) << i;
    }
    EXPECT_EQ(got[0].op.chunks[0].bytes, want[0].op.chunks[0].bytes);
    EXPECT_EQ(got[0].op.lines[7].line, 7u);  // the copies are the mark's line
}

// A question whose last attempt read bytes that make no reply logs nothing
// more: it is over, though the capture goes on; told by the attempts
// counted, or by the bytes' time where a loaded machine's log shows one
// failed read fewer.
TEST(ReplayCapture, AQuestionWhoseLastAttemptReadsNoReplyIsOver) {
    for (int errors : {9, 8}) {
        std::vector<std::string> lines = {timed(0, 'D', kCheck, "type = 3"), timed(0, 'D', kUart, "Standard baud"),
                                          timed(0, 'D', kUart, ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"),
                                          timed(0, 'D', kCheck, "write check successful! ret = 11")};
        for (int i = 1; i <= errors; ++i) lines.push_back(timed(10 * i, 'E', kCheck, "check type error! ret = -1"));
        for (const char* b : {"15 ", "AA ", "55 "}) lines.push_back(timed(93, 'D', kCheck, b));
        lines.push_back(timed(500, 'I', "ActivityManager", "still here", "Other"));
        std::vector<CaptureEvent> ev = rebuild(lines);
        ASSERT_EQ(ev.size(), 1u) << errors;
        ASSERT_TRUE(ev[0].is_op) << errors << ": " << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.chunks.size(), 1u);
    }
}

TEST(ReplayCapture, MemoryStaysBoundedOnLongCaptures) {
    LogcatParser p;
    CaptureBuilder b;
    LogEntry e;
    size_t number = 0, ops = 0, most_threads = 0;
    // 2000 processes, each one check; then one read that never ends.
    for (int pid = 1; pid <= 2000; ++pid) {
        for (std::string line : check_enabled()) {
            line.replace(line.find("  100"), 5, std::to_string(10000 + pid));
            ASSERT_EQ(logcat_feed(&p, line.data(), line.size(), ++number, &e), LogcatResult::Entry);
            capture_feed(&b, e);
        }
        most_threads = std::max(most_threads, b.threads.size());
        CaptureEvent ev;
        while (capture_next(&b, &ev)) ops += ev.is_op;
    }
    EXPECT_LE(most_threads, kCaptureMaxThreads);
    std::vector<std::string> endless = configure();
    add(&endless, repeat(core('D', kRead, "41 "), static_cast<int>(kCaptureMaxOpLines)));
    bool gave_up = false;
    for (const std::string& line : endless) {
        logcat_feed(&p, line.data(), line.size(), ++number, &e);
        capture_feed(&b, e);
        CaptureEvent ev;
        while (capture_next(&b, &ev)) ops += ev.is_op;
        for (const ThreadState& t : b.threads) ASSERT_LE(t.op.lines.size(), kCaptureMaxOpLines);
    }
    capture_finish(&b);
    CaptureEvent ev;
    while (capture_next(&b, &ev)) {
        ops += ev.is_op;
        gave_up |= !ev.is_op && ev.note.kind != NoteKind::Cut;
    }
    EXPECT_TRUE(gave_up);
    EXPECT_EQ(ops, 2000u);
}

TEST(ReplayCapture, EngineBytesAreTimedIntoTheCapturedAttempt) {
    struct Case {
        int errors_before;
        int64_t offset_us;
        int64_t want_us;
    } cases[] = {
        {3, 35000, 35000},  // the capture's own time, inside the fourth attempt
        {3, 12000, 31500},  // a time the failed reads contradict: the attempt's start
        {3, 39000, 36000},  // too near the attempt's end for a replay that runs late
        {0, -1, 3750},      // no time: between the attempt's margins
    };
    for (const Case& c : cases) {
        CapturedOp op;
        InChunk chunk;
        chunk.bytes = {'1', 0x06, 0x0D};
        chunk.errors_before = c.errors_before;
        chunk.offset_us = c.offset_us;
        op.chunks.push_back(chunk);
        EXPECT_EQ(capture_chunk_times(op), std::vector<int64_t>{c.want_us});
    }
    // After a dropped tail of 100 bytes (8.7 ms), the read waits again
    // once the line has been quiet (at about 31 ms): its next attempt ends
    // at 40 ms, and two failed reads put the scan in the one after them.
    CapturedOp op;
    InChunk tail, scan;
    tail.bytes.assign(100, 'T');
    tail.tail = true;
    scan.bytes = {'S'};
    scan.errors_before = 2;
    op.chunks = {tail, scan};
    std::vector<int64_t> t = capture_chunk_times(op);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], 0);
    EXPECT_GT(t[1], 50000);
    EXPECT_LT(t[1], 60000);
}

}  // namespace

// The capture file's bytes: every encoding gives the same text, in one
// block or one byte at a time.
TEST(ReplayInput, EveryEncodingGivesTheSameText) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"UTF-8", "D/X( 1): \xC3\xA9", "D/X( 1): \xC3\xA9"},
        {"UTF-8, byte order mark", "\xEF\xBB\xBF" "D/X", "D/X"},
        {"UTF-16LE, byte order mark", std::string("\xFF\xFE" "D\0/\0\xE9\0\n\0", 10), "D/\xC3\xA9\n"},
        {"UTF-16BE, byte order mark", std::string("\xFE\xFF\0D\0/\0\n", 8), "D/\n"},
        {"UTF-16LE, none", std::string("D\0/\0", 4), "D/"},
        {"UTF-16LE, a pair of surrogates", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
        {"UTF-16LE, a lone surrogate and half a unit", std::string("\xFF\xFE\x3D\xD8" "A\0B", 7),
         "\xEF\xBF\xBD" "A\xEF\xBF\xBD"},
        {"shorter than a byte order mark", "D", "D"},
    };
    for (const Case& c : cases) {
        for (size_t block : {c.bytes.size(), static_cast<size_t>(1)}) {
            Normaliser n;
            std::string text;
            const uint8_t* p = reinterpret_cast<const uint8_t*>(c.bytes.data());
            for (size_t at = 0; at < c.bytes.size(); at += block) {
                normalise_bytes(&n, p + at, std::min(block, c.bytes.size() - at), &text);
            }
            normalise_end(&n, &text);
            EXPECT_EQ(text, c.text) << c.what << ", blocks of " << block;
        }
    }
    struct Line {
        std::string in, out;
    } lines[] = {
        {"\x1b[38;5;75mD/X( 1): a\x1b[0m\r", "D/X( 1): a"},
        {"\xEF\xBB\xBF" "D/X", "D/X"},
        {"a\x1b]0;title\x07" "b\x1b" "c", "ab"},
        {"cut\x1b[38;5", "cut"},
    };
    for (Line l : lines) {
        normalise_line(&l.in);
        EXPECT_EQ(l.in, l.out);
    }
}

// The shapes of a line that logcat's options and Android Studio write.
TEST(ReplayLogcat, EveryShapeGivesTheSameEntry) {
    const std::string text = "bool scan_type_check(int), 31";
    struct Case {
        std::string line;
        int tid;
        bool timed;
    } cases[] = {
        {"D/SCANLIB_CORE( root: 1234): " + text + " ", -1, false},
        {"12-08 01:31:12.335  root  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"12-08 01:31:12.335 10123  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"1765000272.335  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"  5472.335123  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"12-08 01:31:12.335 +0100  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"12-08 01:31:12.335 UTC  1234  1240 D SCANLIB_CORE: " + text + " ", 1240, true},
        {"12-08 01:31:12.335\t1234\t1240\tD\tSCANLIB_CORE:\t" + text + " ", 1240, true},
        {"12-08 01:31:12.335 D/SCANLIB_CORE( 1234): " + text + " \\r", -1, true},
        {"2026-12-08 01:31:12.335 1234-1240/com.morvek.demo D/SCANLIB_CORE: " + text + " ", 1240, true},
        {"2026-12-08 01:31:12.335  1234-1240  SCANLIB_CORE   com.morvek.demo   D  " + text + " ", 1240, true},
        {"2026-12-08 01:31:12.335  1234-1240  SCANLIB_CORE   D  " + text + " ", 1240, true},
    };
    for (const Case& c : cases) {
        LogcatParser p;
        LogEntry e;
        ASSERT_EQ(logcat_feed(&p, c.line.data(), c.line.size(), 1, &e), LogcatResult::Entry) << c.line;
        EXPECT_EQ(e.prio, 'D') << c.line;
        EXPECT_EQ(e.tag, "SCANLIB_CORE") << c.line;
        EXPECT_EQ(e.pid, 1234) << c.line;
        EXPECT_EQ(e.tid, c.tid) << c.line;
        EXPECT_EQ(e.time_us >= 0, c.timed) << c.line;
        EXPECT_EQ(e.message, text) << c.line;
    }
    // In the long format, what follows a blank line in another app's
    // message is that message's, whatever it mentions.
    LogcatParser p;
    LogEntry e;
    const char* block[] = {"[ 12-08 01:31:12.344  541:  560 I/Other ]", "first", "", "SCANLIB_JNI here", ""};
    for (size_t i = 0; i < 5; ++i) {
        LogcatResult r = logcat_feed(&p, block[i], strlen(block[i]), i + 1, &e);
        EXPECT_NE(r, LogcatResult::Damaged) << block[i];
    }
}

// Operations that stop while the capture goes on are abandoned; only the
// capture's own ends cut one.
TEST(ReplayCapture, StoppedOperationsAreAbandoned) {
    std::vector<std::string> check = {timed(0, 'D', kCheck, "type = 3"), timed(0, 'D', kUart, "Standard baud"),
                                      timed(0, 'D', kUart, ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"),
                                      timed(1, 'D', kCheck, "write check successful! ret = 11")};
    auto with = [&check](std::vector<std::string> more) {
        std::vector<std::string> l = check;
        add(&l, more);
        return l;
    };
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        NoteKind kind;
        size_t at;  // the line the note's reason names
    } cases[] = {
        {"the capture ends soon after", with({timed(30, 'I', "x", "y", "Other")}), NoteKind::Cut, 1},
        {"a question silent while others log (hung up)", with({timed(150, 'I', "x", "y", "Other")}),
         NoteKind::Abandoned, 4},
        {"the capture goes on", with({timed(9000, 'I', "x", "y", "Other")}), NoteKind::Abandoned, 4},
        {"the process crashed", with({timed(5, 'F', "Fatal signal 11 (SIGSEGV)", "", "libc")}), NoteKind::Abandoned, 5},
        {"the thread calls again", with({timed(20, 'D', kCheck, "type = 4")}), NoteKind::Abandoned, 5},
        {"the capture starts inside", {timed(0, 'I', "x", "y", "Other"), timed(90, 'E', kCheck, "check type error! ret = -1")},
         NoteKind::Cut, 2},
        {"the first lines lost later on",
         {timed(0, 'I', "x", "y", "Other"), timed(5000, 'E', kCheck, "check type error! ret = -1")}, NoteKind::Damaged, 2},
    };
    for (const Case& c : cases) {
        std::vector<CaptureEvent> ev = rebuild(c.lines);
        ASSERT_FALSE(ev.empty()) << c.what;
        ASSERT_FALSE(ev[0].is_op) << c.what;
        EXPECT_EQ(ev[0].note.kind, c.kind) << c.what;
        std::string at = "line " + std::to_string(c.at) + ":";
        EXPECT_EQ(ev[0].note.reason.compare(0, at.size(), at), 0) << c.what << ": " << ev[0].note.reason;
    }
}

// A scan data read that drops a tail and then times out logs no last line:
// it ends where the thread's next operation begins, or at the capture's end
// once its window has gone by.
TEST(ReplayCapture, AReadThatTimesOutAfterATailEnds) {
    std::vector<std::string> read = {timed(0, 'D', kUart, "Standard baud"),
                                     timed(0, 'D', kUart, ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1"),
                                     timed(5, 'D', kRead, "41 "), timed(5, 'D', kRead, "42 "),
                                     timed(5, 'D', kRead, "dropped 2 bytes: tail of an earlier message"),
                                     timed(20, 'E', kRead, "read data error! ret = -1")};
    std::vector<std::string> then_more = read;
    then_more.push_back(timed(1100, 'D', kCheck, "type = 3"));
    std::vector<std::string> then_end = read;
    then_end.push_back(timed(1100, 'I', "x", "y", "Other"));
    for (const auto& lines : {then_more, then_end}) {
        std::vector<CaptureEvent> ev = rebuild(lines);
        ASSERT_FALSE(ev.empty());
        ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.lines.size(), 6u);
        EXPECT_TRUE(ev[0].op.chunks[0].tail);
    }
}

// The held-port session: one operation per call, its arguments from its
// frame; the reader's tail of the first message belongs to the open, its
// other messages (and the loss of the line) are operations of their own.
// A question logs its frame only once it has its answer.
TEST(ReplayCapture, SessionCallsAreRebuilt) {
    const std::string reader = "void *session_reader(void *)";
    const std::string enable = "int scan_session_enable_type(ScanSession *, bool, int)";
    auto at = [](int ms, char prio, const std::string& sig, const std::string& rest, int tid) {
        char head[64];
        snprintf(head, sizeof head, "12-08 01:40:00.%03d   100 %5d %c SCANLIB_CORE: ", ms, tid, prio);
        return head + sig + ", " + rest;
    };
    const std::vector<std::string> lines = {
        at(0, 'D', kUart, "Standard baud", 101),
        at(0, 'D', kUart, "nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1", 101),
        at(0, 'D', kSOpen, "open /dev/ttyMT1 fd = 5, 115200 8N1", 101),
        at(9, 'D', reader, "dropped 3 bytes: tail of an earlier message", 102),
        at(9, 'D', reader, "< 31 32 33", 102),
        at(20, 'D', enable, "write 11 bytes", 101),
        at(20, 'D', enable, "> FF 4D 0D 39 30 30 30 30 33 31 2E", 101),
        at(60, 'D', reader, "scan 2 bytes", 102),
        at(60, 'D', reader, "< 41 42", 102),
        at(61, 'E', reader, "dropped 5 bytes: no room for another scan", 102),
        at(90, 'D', reader, "scan 2 bytes", 102),
        at(90, 'D', reader, "< 43 44", 102),
        at(92, 'D', kSCheck, "write 11 bytes", 101),
        at(92, 'D', kSCheck, "> FF 4D 0D 39 30 30 30 30 33 3F 2E", 101),
        at(92, 'D', kSCheck, "reply 9 bytes", 101),
        at(92, 'D', kSCheck, "< 39 30 30 30 30 33 31 06 0D", 101),
        at(92, 'D', kSCheck, "answer enabled", 101),
        at(99, 'E', reader, "port hung up", 102),
    };
    std::vector<CaptureEvent> ev = rebuild(lines);
    ASSERT_EQ(ev.size(), 6u);
    for (const CaptureEvent& e : ev) ASSERT_TRUE(e.is_op) << e.note.reason;
    EXPECT_EQ(ev[0].op.fn, SessionFn::Open);
    EXPECT_EQ(ev[0].op.lines.size(), 5u);
    ASSERT_EQ(ev[0].op.chunks.size(), 1u);
    EXPECT_TRUE(ev[0].op.chunks[0].tail);
    EXPECT_EQ(ev[0].op.chunks[0].stage, SessionStage::AfterOpen);
    EXPECT_EQ(capture_op_call(ev[1].op), "scan_session_enable_type(true, 3)");
    EXPECT_TRUE(ev[1].op.chunks.empty());
    EXPECT_EQ(ev[2].op.fn, SessionFn::Reader);
    EXPECT_EQ(ev[2].op.tid, 102);
    EXPECT_EQ(ev[2].op.chunks.at(0).bytes, (std::vector<uint8_t>{'A', 'B'}));
    EXPECT_EQ(ev[2].op.no_room, 1);
    EXPECT_EQ(ev[3].op.fn, SessionFn::Reader);
    EXPECT_EQ(ev[3].op.no_room, 0);
    EXPECT_EQ(capture_op_call(ev[4].op), "scan_session_check_type(3)");
    ASSERT_EQ(ev[4].op.chunks.size(), 1u);
    EXPECT_TRUE(ev[4].op.chunks[0].reply);
    EXPECT_EQ(ev[4].op.chunks[0].stage, SessionStage::AfterWrite);
    EXPECT_EQ(ev[4].op.lines.size(), 5u);
    EXPECT_EQ(ev[5].op.fn, SessionFn::Reader);
    EXPECT_TRUE(ev[5].op.hangup);

    struct Case {
        const char* what;
        size_t line;
        std::string text;
        size_t at;
    } cases[] = {
        {"fewer bytes than announced", 15, at(92, 'D', kSCheck, "< 39 30 30 30 30 33 31 06", 101), 17},
        {"a written byte among the read ones", 15, at(92, 'D', kSCheck, "> 39 30 30 30 30 33 31 06 0D", 101), 16},
        {"a count past any message", 14, at(92, 'D', kSCheck, "reply 9000 bytes", 101), 15},
        {"a line out of its place", 5, at(20, 'D', enable, "answer enabled", 101), 6},
        {"a frame the function does not write", 13, at(92, 'D', kSCheck, "> FF 4D 0D 39 30 30 30 30 33 3F 2F", 101), 13},
        {"a scan logged by a caller", 12, at(92, 'D', kSCheck, "scan 2 bytes", 101), 13},
    };
    for (const Case& c : cases) {
        std::vector<std::string> bad = lines;
        bad[c.line] = c.text;
        bool noted = false;
        for (const CaptureEvent& e : rebuild(bad)) {
            if (e.is_op || noted) continue;
            noted = true;
            std::string where = "line " + std::to_string(c.at) + ":";
            EXPECT_EQ(e.note.reason.compare(0, where.size(), where), 0) << c.what << ": " << e.note.reason;
            EXPECT_NE(e.note.kind, NoteKind::Cut) << c.what;
        }
        EXPECT_TRUE(noted) << c.what;
    }

    // A question's write is logged when its frame left: the reader's loss of
    // the port after it is the question's end; a "no answer" before the
    // budget ran out from the write line is what the library does not do.
    const std::vector<std::string> asked = {
        at(0, 'D', kSCheck, "write 11 bytes", 101),
        at(0, 'D', kSCheck, "> FF 4D 0D 39 30 30 30 30 33 3F 2E", 101),
    };
    std::vector<std::string> lost = asked;
    lost.push_back(at(5, 'E', reader, "port hung up", 102));
    lost.push_back(at(6, 'D', "void scan_session_close(ScanSession *)", "close fd = 5", 101));
    ev = rebuild(lost);
    ASSERT_EQ(ev.size(), 2u);
    ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
    EXPECT_EQ(capture_op_call(ev[0].op), "scan_session_check_type(3)");
    EXPECT_TRUE(ev[0].op.hangup);
    EXPECT_EQ(ev[0].op.lines.size(), 3u);
    EXPECT_EQ(ev[1].op.fn, SessionFn::Close);
    for (int ms : {30, 100}) {
        std::vector<std::string> silent = asked;
        silent.push_back(at(ms, 'E', kSCheck, "no answer", 101));
        ev = rebuild(silent);
        ASSERT_EQ(ev.size(), 1u);
        ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.timing.empty(), ms == 100) << ms;
    }
}

// A per-call function while a session holds the port: another process's
// makes it fail at once, its own process's runs it on the session.
TEST(ReplayCapture, PerCallFunctionsOnAHeldPort) {
    const std::string held = "port held by another process! errno = 11";
    const std::string on = "on the held port";
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        PortShape shape;
        size_t lines_of_op;
    } cases[] = {
        {"a check, held elsewhere", {core('D', kCheck, "type = 3"), core('E', kCheck, held)}, PortShape::HeldByOther, 2},
        {"an open, held elsewhere", {core('E', kOpen, held)}, PortShape::HeldByOther, 1},
        {"a read, held here", {core('E', kRead, "port held by this process's session: no scan taken")},
         PortShape::HeldHere, 1},
        {"a check, held here",
         {core('D', kCheck, "type = 3"), core('D', kCheck, on), core('D', kCheck, "write check successful! ret = 11"),
          core('D', kCheck, "31 "), core('D', kCheck, "06 "), core('D', kCheck, "0D "), core('D', kCheck, "[enable=1]")},
         PortShape::HeldHere, 7},
        {"a check, held here, no answer",
         {core('D', kCheck, "type = 3"), core('D', kCheck, on), core('D', kCheck, "write check successful! ret = 11"),
          core('E', kCheck, "no answer"), core('D', kCheck, "[enable=0]")},
         PortShape::HeldHere, 5},
        {"a check, held here, no answer and no result line",
         {core('D', kCheck, "type = 3"), core('D', kCheck, on), core('D', kCheck, "write check successful! ret = 11"),
          core('E', kCheck, "no answer")},
         PortShape::HeldHere, 4},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = c.lines;
        lines.push_back(core('E', kOpen, "open device fail! Fd = -1"));  // the thread's next call
        std::vector<CaptureEvent> ev = rebuild(lines);
        ASSERT_EQ(ev.size(), 2u) << c.what;
        ASSERT_TRUE(ev[0].is_op) << c.what << ": " << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.shape, c.shape) << c.what;
        EXPECT_EQ(ev[0].op.lines.size(), c.lines_of_op) << c.what;
    }
    // A routed question's "no answer" before its budget ran out.
    std::vector<CaptureEvent> ev;
    for (int ms : {30, 100}) {
        ev = rebuild({timed(0, 'D', kCheck, "type = 3"), timed(0, 'D', kCheck, on),
                      timed(0, 'D', kCheck, "write check successful! ret = 11"), timed(ms, 'E', kCheck, "no answer"),
                      timed(ms, 'D', kCheck, "[enable=0]")});
        ASSERT_EQ(ev.size(), 1u);
        ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
        EXPECT_EQ(ev[0].op.timing.empty(), ms == 100) << ms;
    }
    // Its "no answer" early because the session's reader lost the port
    // after the write (threads told apart).
    auto at = [](int ms, const char* tid, char prio, const std::string& sig, const std::string& rest) {
        return "12-08 01:40:00." + std::to_string(100 + ms) + "   100 " + tid + " " + prio + " SCANLIB_CORE: " + sig +
               ", " + rest;
    };
    for (bool lost : {false, true}) {
        std::vector<std::string> lines = {at(0, "101", 'D', kCheck, "type = 3"), at(0, "101", 'D', kCheck, on),
                                          at(0, "101", 'D', kCheck, "write check successful! ret = 11")};
        if (lost) lines.push_back(at(5, "102", 'E', "void *session_reader(void *)", "port hung up"));
        add(&lines, {at(5, "101", 'E', kCheck, "no answer"), at(5, "101", 'D', kCheck, "[enable=0]")});
        ev = rebuild(lines);
        ASSERT_EQ(ev.size(), lost ? 2u : 1u);
        for (const CaptureEvent& e : ev) ASSERT_TRUE(e.is_op) << e.note.reason;
        const CapturedOp& check = ev.back().op;  // the reader's loss ended first
        EXPECT_EQ(check.sig, ScanSig::TypeCheck);
        EXPECT_EQ(check.timing.empty(), lost) << lost;
    }
    // Another process's call went first: the call waited, then ran.
    std::vector<std::string> waited = {core('D', kOpen, "port in use by another call: waited 40 ms")};
    add(&waited, configure());
    waited.push_back(core('D', kOpen, "open successful! ret = 3"));
    ev = rebuild(waited);
    ASSERT_EQ(ev.size(), 1u);
    ASSERT_TRUE(ev[0].is_op) << ev[0].note.reason;
    EXPECT_EQ(ev[0].op.shape, PortShape::CyclesAhead);
    EXPECT_EQ(ev[0].op.waited_ms, 40);
    EXPECT_EQ(ev[0].op.lines.size(), 4u);
}

// A function that another version logs under another signature is today's
// where its name or its parameters and the start of its name tell it.
TEST(ReplayScanLog, AnotherVersionsSignatures) {
    struct Case {
        const char* message;
        CoreClass cls;
        const char* today;
    };
    const Case cases[] = {
        {"bool scan_type_check(long), type = 3", CoreClass::Ours, kCheck},
        {"int scan_session_check(ScanSession *, int), write 11 bytes", CoreClass::Ours,
         "int scan_session_check_type(ScanSession *, int)"},
        {"int scan_session_query_value(ScanSession *, int, char *), no answer", CoreClass::Ours,
         "int scan_session_query(ScanSession *, int, char *)"},
        // Only the stem of every session function: none is told.
        {"int scan_session_read(ScanSession *), scan 13 bytes", CoreClass::UnknownSig, ""},
        {"int scan_session_check_what(ScanSession *, bool), write 11 bytes", CoreClass::UnknownSig, ""},
    };
    for (const Case& c : cases) {
        ScanLine l;
        ASSERT_EQ(scan_classify_core(c.message, &l), c.cls) << c.message;
        if (c.cls != CoreClass::Ours) continue;
        EXPECT_TRUE(l.renamed) << c.message;
        ScanLine want;
        std::string rest = std::string(c.message).substr(std::string(c.message).find("), ") + 3);
        ASSERT_EQ(scan_classify_core(std::string(c.today) + ", " + rest, &want), CoreClass::Ours) << c.today;
        EXPECT_FALSE(want.renamed);
        EXPECT_EQ(l.sig, want.sig) << c.message;
        EXPECT_EQ(l.fn, want.fn) << c.message;
        EXPECT_EQ(l.kind, want.kind) << c.message;
    }
}
