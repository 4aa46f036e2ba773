// The library in a real Java VM (OpenJDK, -Xcheck:jni): registration at
// load, every native method against the simulated engine and without a
// device, the results as Java sees them, and the bridge's exact log lines.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "devns.h"
#include "engine_fixture.h"
#include "jvm_run.h"
#include "line_timing.h"
#include "sim_runner.h"

namespace {

const char kTag[] = "SCANLIB_JNI";
const char kClassPath[] = "com/morvek/scanner/ScanNative";

JvmLogLine jni(int prio, const std::string& text) {
    return {prio, kTag, text};
}

JvmLogLine ret_line(const char* sig, int count) {
    return jni(3, std::string(sig) + ", [ret=" + std::to_string(count) + "]\n");
}

JvmLogLine data_line(const char* sig, const std::string& data) {
    return jni(3, std::string(sig) + ", [data=" + data + "]\n");
}

JvmLogLine str_line(const std::string& str) {
    return jni(3, "jboolean sendCommand(JNIEnv *, jobject, jstring), [str=" + str + "]");
}

const char kOpenSig[] = "jboolean openDev(JNIEnv *, jobject)";
const char kCloseSig[] = "jboolean closeDev(JNIEnv *, jobject)";
const char kCheckSig[] = "jboolean checkType(JNIEnv *, jobject, jint)";
const char kEnableSig[] = "jboolean enableType(JNIEnv *, jobject, jint)";
const char kDisableSig[] = "jboolean disableType(JNIEnv *, jobject, jint)";
const char kSetTimeoutSig[] = "jboolean setTimeout(JNIEnv *, jobject, jint)";
const char kGetTimeoutSig[] = "jstring getTimeout(JNIEnv *, jobject)";
const char kSendSig[] = "jboolean sendCommand(JNIEnv *, jobject, jstring)";
const char kQuerySig[] = "jstring queryData(JNIEnv *, jobject, jint)";
const char kProfileSig[] = "jboolean profileScanType(JNIEnv *, jobject)";

// The load's lines: ScanPortNative's registration adds one when the class
// is there, and nothing at all when it is not.
std::vector<JvmLogLine> registered_lines(bool port_class = true) {
    std::vector<JvmLogLine> lines = {
        jni(4, "JNI_OnLoad"),
        jni(3, "jint registerNativeMethods(JNIEnv *, const char *, JNINativeMethod *, int), "
               "success\n"),
        jni(3, "jint registerNatives(JNIEnv *), done\n")};
    if (port_class) lines.push_back(jni(3, "jint registerPortNatives(JNIEnv *), success\n"));
    return lines;
}

// The lines of a run: the load's, then these.
std::vector<JvmLogLine> after_load(const std::vector<JvmLogLine>& calls, bool port_class = true) {
    std::vector<JvmLogLine> lines = registered_lines(port_class);
    lines.insert(lines.end(), calls.begin(), calls.end());
    return lines;
}

// The kinds of the frames the engine received, in order.
void expect_frame_kinds(SimRunner* sim, const std::vector<SimFrameKind>& kinds) {
    sim_wait_frames(sim, kinds.size(), 2000);
    std::vector<SimRecordedFrame> frames = sim_frames(sim);
    std::string seen;
    for (const SimRecordedFrame& f : frames)
        seen += sim_format_bytes(f.bytes.data(), f.bytes.size()) + "\n";
    ASSERT_EQ(kinds.size(), frames.size()) << seen;
    for (size_t i = 0; i < frames.size(); i++)
        EXPECT_EQ(sim_kind_name(kinds[i]), std::string(sim_kind_name(frames[i].kind))) << i;
}

// A Java string as the test program prints it (see Report.java).
std::string quoted_units(const std::vector<unsigned>& units) {
    std::string s = "\"";
    for (unsigned u : units) {
        if (u >= 0x20 && u < 0x7F && u != '\\' && u != '"') {
            s += static_cast<char>(u);
        } else {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", u);
            s += esc;
        }
    }
    return s + "\"";
}

std::string repeated(const std::string& text, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += text;
    return s;
}

std::string quoted(const std::string& ascii) {
    return quoted_units(std::vector<unsigned>(ascii.begin(), ascii.end()));
}

void expect_no_jni_warnings(const JvmRun& run) {
    for (const std::string& line : run.other_output)
        EXPECT_EQ(std::string::npos, line.find("WARNING")) << line;
}

class JvmEngine : public EngineFixture {};

TEST_F(JvmEngine, EveryMethodCalledFromJava) {
    sim_with_engine(sim, [](SimEngine* e) {
        sim_engine_set_setting(e, "100002", "\xFF\xFE" "ab");
    });
    // Scan data for the first three readData calls, one per port cycle.
    const std::vector<uint8_t> invalid = {0x41, 0xFF, 0x80, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80,
                                          0xC0, 0x80, 0xED, 0xA0, 0x80, 0xE2, 0x82, 0x42};
    std::vector<uint8_t> high;
    std::vector<unsigned> high_units;
    for (unsigned i = 0; i < 1024; i++) {
        high.push_back(static_cast<uint8_t>(0x80 + i % 128));
        high_units.push_back(0x80 + i % 128);
    }
    const std::string ascii = "0123456789ABC";
    // A run in which the simulated engine, held off the processor, paused
    // inside the long scan for the quiet gap that ends a message (a UART
    // never does) has lost its premise: it is run once more.
    JvmRun run;
    for (int attempt = 0; attempt < 2; attempt++) {
        sim_clear_records(sim);
        for (const std::vector<uint8_t>& scan :
             {std::vector<uint8_t>(ascii.begin(), ascii.end()), invalid, high})
            sim_send_scan(sim, sim_scan(scan, SimScanTrigger::AfterConfigure, 5));
        run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.Calls", {"engine"});
        std::vector<SimSentByte> sent = sim_sent(sim);
        bool paused = false;
        for (size_t i = sent.size() > high.size() ? sent.size() - high.size() + 1 : 1;
             i < sent.size(); i++)
            paused |= sent[i].t_us - sent[i - 1].t_us >= int64_t{kScanQuietGapMs} * 1000;
        if (!paused) break;
    }
    ASSERT_EQ(0, run.status) << jvm_output(run);
    ASSERT_EQ("ok", run.results["end"]);
    expect_no_jni_warnings(run);

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"readData.ascii", quoted(ascii)},
        // Invalid bytes arrive as U+0080..U+00FF of the same value, a
        // four-byte sequence as its surrogate pair, C0 80 as U+0000, an
        // encoded surrogate as that surrogate.
        {"readData.invalid", quoted_units({'A', 0xFF, 0x80, 0xE9, 0xD83D, 0xDE00, 0x0000, 0xD800,
                                     0xE2, 0x82, 'B'})},
        {"readData.nothing", quoted("")},
        {"openDev", "true"},
        {"closeDev", "true"},
        {"disableType", "true"},
        {"checkType.disabled", "false"},
        {"enableType", "true"},
        {"checkType.enabled", "true"},
        {"setTimeout", "true"},
        {"getTimeout", quoted("1234")},
        {"sendCommand.text", "true"},
        {"sendCommand.empty", "true"},
        {"sendCommand.null", "false"},
        {"sendCommand.toolong", "false"},
        {"sendCommand.nuls", "false"},
        {"queryData.known", quoted_units({0xFF, 0xFE, 'a', 'b'})},
        {"queryData.unknown", quoted("")},
        {"profileScanType", "true"},
    };
    for (const auto& e : expected) EXPECT_EQ(e.second, run.results[e.first]) << e.first;
    const std::string high_expected = quoted_units(high_units);
    EXPECT_TRUE(high_expected == run.results["readData.long"])
        << "1024 bytes 80..FF did not arrive as U+0080..U+00FF; got "
        << run.results["readData.long"].size() << " printed characters, expected "
        << high_expected.size();

    // readData logs nothing; the text lines show the core's bytes as they came.
    EXPECT_EQ(after_load({
        ret_line(kOpenSig, 3), ret_line(kCloseSig, 3), ret_line(kDisableSig, 11),
        jni(3, std::string(kCheckSig) + ", [enable=0]\n"), ret_line(kEnableSig, 11),
        jni(3, std::string(kCheckSig) + ", [enable=1]\n"), ret_line(kSetTimeoutSig, 14),
        data_line(kGetTimeoutSig, "1234"),
        str_line("ABC"), ret_line(kSendSig, 7),
        str_line(""), ret_line(kSendSig, 4),
        str_line("(null)"),
        str_line(std::string(256, 'A')), ret_line(kSendSig, 0),
        str_line(repeated("\xC0\x80", 128)), ret_line(kSendSig, 0),
        data_line(kQuerySig, "\xFF\xFE" "ab"), data_line(kQuerySig, ""),
        ret_line(kProfileSig, 20)}),
              jvm_log_of(run, kTag));

    // The null command never reached the core: the bridge's next line
    // follows at once in the whole log.
    const JvmLogLine null_line = str_line("(null)");
    size_t at = 0;
    while (at < run.log.size() && !(run.log[at] == null_line)) at++;
    ASSERT_LT(at + 1, run.log.size());
    EXPECT_EQ(str_line(std::string(256, 'A')), run.log[at + 1]);

    // The engine saw the arguments unchanged.
    ASSERT_NO_FATAL_FAILURE(expect_frame_kinds(sim, {
        SimFrameKind::Open, SimFrameKind::Close, SimFrameKind::Disable, SimFrameKind::Check,
        SimFrameKind::Enable, SimFrameKind::Check, SimFrameKind::Timeout,
        SimFrameKind::TimeoutQuery, SimFrameKind::Command, SimFrameKind::Command,
        SimFrameKind::Query, SimFrameKind::Query, SimFrameKind::Profile}));
    std::vector<SimRecordedFrame> frames = sim_frames(sim);
    for (size_t i = 2; i < 6; i++) EXPECT_EQ(5, frames[i].type_index) << i;
    EXPECT_EQ("1234", std::string(frames[6].bytes.begin() + 9, frames[6].bytes.begin() + 13));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x4D, 0x0D, 'A', 'B', 'C', 0x2E}), frames[8].bytes);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x4D, 0x0D, 0x2E}), frames[9].bytes);
    EXPECT_EQ("100002?", std::string(frames[10].bytes.begin() + 3, frames[10].bytes.end() - 1));
    EXPECT_EQ("424242?", std::string(frames[11].bytes.begin() + 3, frames[11].bytes.end() - 1));
}

// A session adapter's line: its name (portOpen, portClose, ...), its
// parameters after the handle (none for open), and its result.
JvmLogLine port_line(const std::string& name, const std::string& params, long long ret) {
    const bool open = name == "portOpen";
    const std::string sig = std::string(open ? "jlong " : name == "portClose" ? "void " : "jint ") +
                            name + "(JNIEnv *, jclass" + (open ? "" : ", jlong") + params + ")";
    return jni(3, sig + ", [ret=" + std::to_string(ret) + "]\n");
}

// The held-port session through NativeScanEngine: every method, its
// result as Java sees it, the bridge's lines (none for a wait that ends
// with nothing, none for wake), the handle check, and the frames.
TEST_F(JvmEngine, PortSessionCalledFromJava) {
    sim_with_engine(sim, [](SimEngine* e) {
        sim_engine_set_setting(e, "100002", "\xFF\xFE" "ab");
    });
    // One scan for the session's wait, the same bytes for the per-call
    // read after it: a zero byte, bytes that are not modified UTF-8.
    const std::vector<uint8_t> scan = {'A', 0xFF, 0x80, 0x00, 'B', 0xC3, 0xA9};
    for (int i = 0; i < 2; i++) sim_send_scan(sim, sim_scan(scan, SimScanTrigger::AfterConfigure, 5));

    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.PortCalls", {"engine"});
    ASSERT_EQ(0, run.status) << jvm_output(run);
    ASSERT_EQ("ok", run.results["end"]);
    expect_no_jni_warnings(run);

    const std::string text = quoted_units({'A', 0xFF, 0x80});
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"scan.bytes", "41FF800042C3A9"}, {"scan.text", text}, {"scan.arrival", "inside"},
        {"text.percall", text},
        {"writeOpen", "true"}, {"enableType", "true"}, {"checkType.enabled", "true"},
        {"disableType", "true"}, {"checkType.disabled", "false"}, {"setTimeout", "true"},
        {"timeout", quoted("1234")}, {"sendCommand", "true"},
        {"setting.known", quoted_units({0xFF, 0xFE, 'a', 'b'})}, {"setting.unknown", "NO_ANSWER"},
        {"profile", "true"}, {"busy", "PORT_BUSY"}, {"silent", "null"}, {"woken", "null"},
        {"closed", "IllegalStateException"}, {"stale", "IllegalStateException"},
        {"second", "null"}, {"second.check", "false"},
    };
    for (const auto& e : expected) EXPECT_EQ(e.second, run.results[e.first]) << e.first;
    // Generous bounds around 200 ms, 100 ms and 300 ms.
    const long silent_ms = atol(run.results["silent.ms"].c_str());
    const long wake_ms = atol(run.results["wake.ms"].c_str());
    const long second_ms = atol(run.results["second.ms"].c_str());
    printf("session waits: silent 200 ms took %ld ms, woken after 100 ms at %ld ms, "
           "300 ms after a stale wake took %ld ms\n", silent_ms, wake_ms, second_ms);
    EXPECT_TRUE(silent_ms >= 190 && silent_ms < 400) << silent_ms;
    EXPECT_TRUE(wake_ms >= 90 && wake_ms < 300) << wake_ms;
    EXPECT_GE(second_ms, 290);

    EXPECT_EQ(after_load({
        port_line("portOpen", "", 1),
        port_line("portWaitScan", ", jint, jbyteArray, jlongArray", 7),
        port_line("portWriteOpen", ", jboolean", 3),
        port_line("portEnableType", ", jboolean, jint", 11),
        port_line("portCheckType", ", jint", 1),
        port_line("portEnableType", ", jboolean, jint", 11),
        port_line("portCheckType", ", jint", 0),
        port_line("portSetTimeout", ", jint", 14),
        port_line("portGetTimeout", ", jbyteArray", 4),
        port_line("portSendCommand", ", jstring", 7),
        port_line("portQuery", ", jint, jbyteArray", 4),
        port_line("portQuery", ", jint, jbyteArray", -4),
        port_line("portProfile", "", 20),
        port_line("portOpen", "", -1),
        port_line("portClose", "", 0),
        port_line("portCheckType", ", jint", -7),
        port_line("portOpen", "", 2),
        port_line("portCheckType", ", jint", -7),
        port_line("portCheckType", ", jint", 0),
        port_line("portClose", "", 0)}),
              jvm_log_of(run, kTag));

    expect_frame_kinds(sim, {
        SimFrameKind::Open, SimFrameKind::Enable, SimFrameKind::Check, SimFrameKind::Disable,
        SimFrameKind::Check, SimFrameKind::Timeout, SimFrameKind::TimeoutQuery,
        SimFrameKind::Command, SimFrameKind::Query, SimFrameKind::Query, SimFrameKind::Profile,
        SimFrameKind::Check});
}

// ScanPortNative.close on one thread while another waits on the session:
// the wait is woken and ends before the session is closed, the close
// returns at once, the handle is dead afterwards, and the next open gets a
// new one.
TEST_F(JvmEngine, PortCloseWhileAnotherThreadWaits) {
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "com.morvek.scanner.PortNativeProbe", {});
    ASSERT_EQ(0, run.status) << jvm_output(run);
    expect_no_jni_warnings(run);
    EXPECT_EQ("0", run.results["wait"]);
    EXPECT_EQ("-7", run.results["after"]);
    EXPECT_EQ("true", run.results["reopen"]);
    const long close_ms = atol(run.results["close.ms"].c_str());
    printf("close while another thread waits: %ld ms\n", close_ms);
    EXPECT_LT(close_ms, 200);

    EXPECT_EQ(after_load({
        port_line("portOpen", "", 1),
        port_line("portClose", "", 0),
        port_line("portCheckType", ", jint", -7),
        port_line("portOpen", "", 2),
        port_line("portClose", "", 0)}),
              jvm_log_of(run, kTag));
}

// Every method of ScanNative without a device, as the results and lines
// of one run.
void expect_absent_run(JvmClassPath cp) {
    const bool port_class = cp == JvmClassPath::WithScanNative;
    JvmRun run = jvm_run(cp, "scanjni.jvmtest.Calls", {"absent"});
    ASSERT_EQ(0, run.status) << jvm_output(run);
    ASSERT_EQ("ok", run.results["end"]);
    EXPECT_EQ(std::vector<std::string>{}, run.other_output);

    const std::vector<std::string> order = {
        "openDev", "closeDev", "readData", "checkType", "enableType", "disableType",
        "setTimeout", "getTimeout", "sendCommand", "queryData", "profileScanType", "end"};
    EXPECT_EQ(order, run.labels);
    for (const char* label : {"readData", "getTimeout", "queryData"})
        EXPECT_EQ("null", run.results[label]) << label;
    for (const char* label : {"openDev", "closeDev", "checkType", "enableType", "disableType",
                              "setTimeout", "sendCommand", "profileScanType"})
        EXPECT_EQ("false", run.results[label]) << label;

    EXPECT_EQ(after_load({
        ret_line(kOpenSig, -1), ret_line(kCloseSig, -1),
        jni(3, std::string(kCheckSig) + ", [enable=0]\n"), ret_line(kEnableSig, -1),
        ret_line(kDisableSig, -1), ret_line(kSetTimeoutSig, 0),
        data_line(kGetTimeoutSig, "(null)"), str_line("A"), ret_line(kSendSig, 0),
        data_line(kQuerySig, "(null)"), ret_line(kProfileSig, -1)}, port_class),
              jvm_log_of(run, kTag));
}

// With the scanner jar, and with ScanNative alone as an app ships it that
// has no ScanPortNative: the same results and the same lines but the port
// class's registration, and nothing at all on the VM's output (no
// exception described for the missing class, no JNI warning).
TEST(JvmNoDevice, FalseAndNullWithoutADevice) {
    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    {
        SCOPED_TRACE("scanner jar");
        expect_absent_run(JvmClassPath::WithScanNative);
    }
    {
        SCOPED_TRACE("ScanNative alone");
        expect_absent_run(JvmClassPath::ScanNativeOnly);
    }

    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.PortCalls", {"absent"});
    ASSERT_EQ(0, run.status) << jvm_output(run);
    EXPECT_EQ("PORT_UNAVAILABLE", run.results["open"]);
    EXPECT_EQ(after_load({port_line("portOpen", "", -2)}), jvm_log_of(run, kTag));
}

bool output_has(const JvmRun& run, const std::string& text) {
    for (const std::string& line : run.other_output)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// ScanNative missing, or one whose methods differ from the library's (a
// method missing, a signature changed): the load fails with the VM's
// exception, the reason logged; the VM describes a missing class's lookup
// on its own error output.
TEST(JvmRegistration, ClassAbsentOrMismatchedFailsTheLoad) {
    const struct {
        JvmClassPath cp;
        const char* what; // what Load.java loads
        const char* exception;
        std::string error;
        const char* output; // on the VM's error output; null: not looked for
    } cases[] = {
        {JvmClassPath::WithoutScanNative, "library", "java.lang.UnsatisfiedLinkError",
         std::string("Native registration unable to find class '") + kClassPath + "'",
         "java.lang.NoClassDefFoundError: com/morvek/scanner/ScanNative"},
        {JvmClassPath::MissingMethod, "class", "java.lang.NoSuchMethodError",
         std::string("RegisterNatives failed for '") + kClassPath + "'", nullptr},
        {JvmClassPath::DifferentSignature, "class", "java.lang.NoSuchMethodError",
         std::string("RegisterNatives failed for '") + kClassPath + "'", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        JvmRun run = jvm_run(c.cp, "scanjni.jvmtest.Load", {c.what});
        ASSERT_EQ(0, run.status) << jvm_output(run);
        EXPECT_EQ(c.exception, run.results["load"]);
        EXPECT_EQ((std::vector<JvmLogLine>{jni(4, "JNI_OnLoad"), jni(6, c.error),
                                           jni(3, "jint registerNatives(JNIEnv *), done\n"),
                                           jni(6, "ERROR: registerNatives failed")}),
                  jvm_log_of(run, kTag));
        if (c.output != nullptr) {
            EXPECT_TRUE(output_has(run, c.output));
        }
        expect_no_jni_warnings(run);
    }
}

}  // namespace
