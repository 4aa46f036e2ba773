// The five write operations against the simulated engine: the exact bytes
// that reach the engine, the exact log lines, the results, and which of
// them hold the port for the settling wait after the write.
#include "device_env.h"

#include <algorithm>
#include <functional>

namespace {

const std::string kOpenSig = "int scan_open_dev(bool)";
const std::string kEnableSig = "int scan_enable_type(bool, int)";
const std::string kSetTimeoutSig = "int scan_set_timeout(int)";
const std::string kCommandSig = "int scan_set_command(const char *)";
const std::string kProfileSig = "int profile_scan_type()";

// The type code table, row = type index.
const char *const kCodes[35] = {
    "999001", "931001", "936001", "900003", "922001", "923001", "908002", "901001", "904002",
    "909001", "929001", "916001", "915001", "910001", "926001", "920001", "919001", "918001",
    "932001", "902002", "937001", "907001", "930001", "917001", "925001", "903001", "924001",
    "928001", "905001", "906001", "911001", "927001", "921001", "912003", "914010"};

class DeviceWrites : public DeviceTest {
protected:
    // The lines of a write that reached the port: set_uart_parm's two,
    // then the success line.
    std::vector<LogLine> cycle_lines(const std::string &sig, const std::string &what, int ret)
    {
        std::vector<LogLine> lines = uart_lines();
        lines.push_back(core_line(3, sig + ", " + what + " successful! ret = " + std::to_string(ret)));
        return lines;
    }

    // Everything the engine received, once a frame has come in whole.
    std::string received()
    {
        frames(1);
        return str(sim_received(sim));
    }
};

// The writes of a fixed frame: its bytes as the engine reads them, the
// result, the log lines and the engine's state; the port is closed again.
TEST_F(DeviceWrites, FixedFramesResultsAndLogLines)
{
    struct Case {
        std::function<int()> call;
        int result;
        std::string frame;
        SimFrameKind kind;
        std::string sig;
        std::string what;
        bool engine_open; // the engine's state once the frame is taken
    } const cases[] = {
        {[] { return scan_open_dev(true); }, 3, "\xFF" "T\r", SimFrameKind::Open, kOpenSig, "open", true},
        {[] { return scan_enable_type(true, 0); }, 11, "\xFF\x4D\x0D\x39\x39\x39\x30\x30\x31\x31\x2E",
         SimFrameKind::Enable, kEnableSig, "write enable", true},
        {[] { return scan_enable_type(false, 34); }, 11, kHeader + "9140100.", SimFrameKind::Disable,
         kEnableSig, "write disable", true},
        {[] { return profile_scan_type(); }, 20, kHeader + "889003,002995C80.", SimFrameKind::Profile,
         kProfileSig, "profile_cmd", true},
        {[] { return scan_open_dev(false); }, 3, "\xFF" "U\r", SimFrameKind::Close, kOpenSig, "close",
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim_clear_records(sim);
        logs_reset();
        int fds = open_fds();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(received(), c.frame);
        EXPECT_EQ(logs_taken(), cycle_lines(c.sig, c.what, c.result));
        EXPECT_EQ(open_fds(), fds);
        std::vector<SimRecordedFrame> got = frames(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].kind, c.kind);
        sim_with_engine(sim, [&](SimEngine *e) { EXPECT_EQ(e->open, c.engine_open); });
    }
}

TEST_F(DeviceWrites, EnableAndDisableEveryRow)
{
    std::string expected;
    for (int t = 0; t < 35; t++) {
        for (bool enable : {true, false}) {
            SCOPED_TRACE("type " + std::to_string(t) + (enable ? " enable" : " disable"));
            EXPECT_EQ(scan_enable_type(enable, t), 11);
            expected += kHeader + kCodes[t] + (enable ? "1." : "0.");
            size_t count = expected.size() / 11;
            std::vector<SimRecordedFrame> got = frames(count);
            ASSERT_EQ(got.size(), count);
            EXPECT_EQ(got.back().kind, enable ? SimFrameKind::Enable : SimFrameKind::Disable);
            EXPECT_EQ(got.back().type_index, t);
        }
    }
    EXPECT_EQ(str(sim_received(sim)), expected);
}

TEST_F(DeviceWrites, TimeoutFramesCarryTheValueText)
{
    const struct {
        int value;
        std::string text4;  // the four value bytes of the frame
    } cases[] = {
        {1200, "1200"},
        {5, std::string("5\0\0\0", 4)},
        {0, std::string("0\0\0\0", 4)},
        {-12, std::string("-12\0", 4)},
        {9999, "9999"},
        {-999, "-999"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("timeout " + std::to_string(c.value));
        sim_clear_records(sim);
        logs_reset();
        EXPECT_EQ(scan_set_timeout(c.value), 14);
        EXPECT_EQ(received(), kHeader + "861001" + c.text4 + ".");

        std::vector<LogLine> want = timeout_prep_lines(c.value, c.text4);
        ASSERT_EQ(want.size(), 19u);
        for (const LogLine &l : cycle_lines(kSetTimeoutSig, "write timeout", 14))
            want.push_back(l);
        EXPECT_EQ(logs_taken(), want);
        sim_with_engine(sim, [&](SimEngine *e) { EXPECT_EQ(e->timeout, c.value); });
    }
}

TEST_F(DeviceWrites, TimeoutOfFiveLogsZeroBytesAsDigits)
{
    EXPECT_EQ(scan_set_timeout(5), 14);
    EXPECT_EQ(received(), std::string("\xFF\x4D\x0D" "8610015\0\0\0.", 14));
    std::vector<LogLine> got = logs_taken();
    ASSERT_GE(got.size(), 5u);
    EXPECT_EQ(got[0], core_line(3, kSetTimeoutSig + ", time = 5, timeArray = 5\n"));
    EXPECT_EQ(got[1], core_line(3, kSetTimeoutSig + ", 35 "));
    EXPECT_EQ(got[2], core_line(3, kSetTimeoutSig + ", 00 "));
    EXPECT_EQ(got[4], core_line(3, kSetTimeoutSig + ", 00 "));
}

TEST_F(DeviceWrites, CommandFramesOfEveryLength)
{
    std::string longest(255, 'a');
    for (size_t i = 0; i < longest.size(); i++)
        longest[i] = static_cast<char>('A' + i % 26);
    for (const std::string &text : {std::string(), std::string("ABCDEFGHIJK"), longest}) {
        SCOPED_TRACE("command of " + std::to_string(text.size()) + " bytes");
        sim_clear_records(sim);
        logs_reset();
        int n = static_cast<int>(text.size()) + 4;
        EXPECT_EQ(scan_set_command(text.c_str()), n);
        EXPECT_EQ(received(), kHeader + text + ".");

        std::vector<LogLine> want = command_prep_lines(text);
        for (const LogLine &l : cycle_lines(kCommandSig, "write command", n))
            want.push_back(l);
        EXPECT_EQ(logs_taken(), want);
    }
}

TEST_F(DeviceWrites, EmptyCommandLogLines)
{
    EXPECT_EQ(scan_set_command(""), 4);
    std::vector<LogLine> want = {
        core_line(3, kCommandSig + ", command = , length = 0\n"),
        core_line(3, kCommandSig + ", length = 4"),
        core_line(3, kCommandSig + ", FF "),
        core_line(3, kCommandSig + ", 4D "),
        core_line(3, kCommandSig + ", 0D "),
        core_line(3, kCommandSig + ", 2E "),
    };
    for (const LogLine &l : cycle_lines(kCommandSig, "write command", 4))
        want.push_back(l);
    EXPECT_EQ(logs_taken(), want);
    EXPECT_EQ(received(), "\xFF\x4D\x0D\x2E");
}

// Timeout, command and profile hold the port for 100 ms after the write;
// open and enable return at once. The waits are only bounded from below,
// and the quick ones only compared with them, so that slow hosts (an
// emulator, a memory checker) do not fail the test.
TEST_F(DeviceWrites, OnlySettingWritesWaitAfterTheWrite)
{
    auto timed = [](auto call) {
        auto start = std::chrono::steady_clock::now();
        call();
        return ms_since(start);
    };
    long waiting[3] = {
        timed([] { EXPECT_EQ(scan_set_timeout(1200), 14); }),
        timed([] { EXPECT_EQ(scan_set_command("ABC"), 7); }),
        timed([] { EXPECT_EQ(profile_scan_type(), 20); }),
    };
    for (long ms : waiting) {
        EXPECT_GE(ms, 95);
        EXPECT_LT(ms, 2000);
    }
    long quick = 1000000;
    for (int i = 0; i < 3; i++) {
        quick = std::min(quick, timed([] { EXPECT_EQ(scan_open_dev(true), 3); }));
        quick = std::min(quick, timed([] { EXPECT_EQ(scan_enable_type(true, 3), 11); }));
    }
    long fastest_wait = *std::min_element(waiting, waiting + 3);
    EXPECT_LT(quick + 50, fastest_wait) << "open or enable waited after the write";
}

}  // namespace
