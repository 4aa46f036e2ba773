// The failure paths for real: a device that is missing, a device that is
// no terminal, output that the port does not take, and arguments that no
// frame exists for. On every path the port's descriptor must be closed
// before the call returns.
#include "device_env.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <functional>

namespace {

const std::string kOpenSig = "int scan_open_dev(bool)";
const std::string kEnableSig = "int scan_enable_type(bool, int)";
const std::string kSetTimeoutSig = "int scan_set_timeout(int)";
const std::string kCommandSig = "int scan_set_command(const char *)";

std::string int_result(int r) { return std::to_string(r); }
std::string bool_result(bool r) { return r ? "true" : "false"; }

// One operation: how to call it, what it logs before it opens the port,
// the priority of its configure-failure line, and its failure result.
struct Op {
    std::string sig;
    std::function<std::string()> call;
    std::vector<LogLine> prep;
    int cfg_fail_prio;
    std::string fail_result;
};

std::vector<Op> all_ops()
{
    return {
        {kOpenSig, [] { return int_result(scan_open_dev(true)); }, {}, 3, "-1"},
        {kOpenSig, [] { return int_result(scan_open_dev(false)); }, {}, 3, "-1"},
        {kEnableSig, [] { return int_result(scan_enable_type(true, 0)); }, {}, 6, "-1"},
        {kEnableSig, [] { return int_result(scan_enable_type(false, 34)); }, {}, 6, "-1"},
        {kSetTimeoutSig, [] { return int_result(scan_set_timeout(1200)); },
         timeout_prep_lines(1200, "1200"), 3, "0"},
        {kCommandSig, [] { return int_result(scan_set_command("ab")); }, command_prep_lines("ab"), 3,
         "0"},
        {"int profile_scan_type()", [] { return int_result(profile_scan_type()); }, {}, 3, "-1"},
        {kCheckSig, [] { return bool_result(scan_type_check(0)); },
         {core_line(3, kCheckSig + ", type = 0")}, 6, "false"},
        {kTimeoutGetSig, [] { return shown(scan_get_timeout()); }, {}, 6, "null"},
        {kQuerySig, [] { return shown(scan_query_data(861001)); }, query_prep_lines("861001"), 6,
         "null"},
        {kReadSig, [] { return shown(scan_read_data()); }, {}, 3, "null"},
    };
}

class DeviceShape : public testing::Test {
protected:
    void TearDown() override { devns_teardown(); }

    // Runs every operation on the device as it stands: each returns its
    // failure result after its preparation lines and the one failure line,
    // with no descriptor left open.
    static void expect_every_op_fails(LogLine (*failure_line)(const Op &))
    {
        for (const Op &op : all_ops()) {
            SCOPED_TRACE(op.sig);
            logs_reset();
            int fds = open_fds();
            EXPECT_EQ(op.call(), op.fail_result);
            EXPECT_EQ(open_fds(), fds) << "descriptor left open";
            std::vector<LogLine> want = op.prep;
            want.push_back(failure_line(op));
            EXPECT_EQ(logs_taken(), want);
        }
    }
};

// A device that is missing, or that is no terminal (a regular file, to
// which nothing may be written).
TEST_F(DeviceShape, DeviceThatCannotServeFailsEveryOperation)
{
    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    expect_every_op_fails(
        [](const Op &op) { return core_line(6, op.sig + ", open device fail! Fd = -1"); });
    ASSERT_TRUE(devns_set_shape(DevnsShape::Regular));
    expect_every_op_fails([](const Op &op) {
        return core_line(op.cfg_fail_prio, op.sig + ", set uart parm fail! ret = -1");
    });
    struct stat st;
    ASSERT_EQ(stat(kDevnsDevice, &st), 0);
    EXPECT_EQ(st.st_size, 0) << "something was written to the file";
}

// Output stopped at the terminal (tcflow TCOOFF on the harness's slave
// descriptor): the library's non-blocking writes fail with EAGAIN.
// A caller without a controlling terminal (a daemon after setsid()) must
// not get the port as one: it would then receive SIGHUP when the line
// hangs up. Every operation opens the port the same way, so the open
// frame stands for all. A child process is needed for a session of its
// own; no other thread runs while it forks.
TEST_F(DeviceShape, PortNeverBecomesTheControllingTerminal)
{
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    std::string tty = in_child([] {
        if (setsid() < 0 || scan_open_dev(true) != 3)
            return std::string("no open");
        // Field 7 of /proc/self/stat is the controlling terminal, 0 for none.
        FILE *f = fopen("/proc/self/stat", "r");
        int dev = -1;
        if (f == nullptr || fscanf(f, "%*d %*s %*c %*d %*d %*d %d", &dev) != 1)
            return std::string("no stat");
        return std::to_string(dev);
    });
    close(master);
    EXPECT_EQ(tty, "0") << "the port became the controlling terminal";
}

class DeviceBlocked : public DeviceTest {
protected:
    void stop_output() { ASSERT_EQ(tcflow(devns_slave_fd(), TCOOFF), 0); }

    // Restarts the output about 30 ms after the library has configured
    // the port, that is while it is trying to write its frame.
    std::thread release_later()
    {
        return std::thread([] {
            const LogLine configured = uart_lines()[1];
            EXPECT_TRUE(wait_until([&] { return count_lines(logs_taken(), configured) > 0; }, 5000));
            usleep(30000);
            EXPECT_EQ(tcflow(devns_slave_fd(), TCOON), 0);
        });
    }
};

// A frame that cannot go out fails its call once the write's budget is
// spent (a setting waits out its settling time as well, a question polls
// on for its reply), with the port closed and one failure line after the
// port's cycle.
TEST_F(DeviceBlocked, FrameThatCannotGoOutFails)
{
    struct Case {
        std::function<int()> call;
        int result;
        long min_ms; // the write's budget, plus the settling wait of a setting
        std::vector<LogLine> prep;
        LogLine failure;
        int misses; // failed reads of the poll that follows
    } const cases[] = {
        {[] { return scan_open_dev(true); }, -1, 95, {},
         core_line(3, kOpenSig + ", open fail! ret = -1"), 0},
        {[] { return scan_set_timeout(1200); }, -1, 195, timeout_prep_lines(1200, "1200"),
         core_line(6, kSetTimeoutSig + ", write timeout fail! ret = -1"), 0},
        {[] { return static_cast<int>(scan_type_check(0)); }, 0, 0,
         {core_line(3, kCheckSig + ", type = 0")},
         core_line(6, kCheckSig + ", write check fail! ret = -1"), 10},
    };
    stop_output();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failure.text);
        logs_reset();
        int fds = open_fds();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_GE(ms_since(start), c.min_ms) << "the write gave up before its budget";
        EXPECT_EQ(open_fds(), fds);
        std::vector<LogLine> want = c.prep;
        for (const LogLine &l : uart_lines())
            want.push_back(l);
        want.push_back(c.failure);
        want.insert(want.end(), static_cast<size_t>(c.misses), poll_miss(kCheckSig));
        EXPECT_EQ(logs_taken(), want);
    }

    // Nothing of the frames is left queued to go out later.
    ASSERT_EQ(tcflow(devns_slave_fd(), TCOON), 0);
    EXPECT_EQ(scan_open_dev(false), 3);
    frames(1);
    EXPECT_EQ(str(sim_received(sim)), "\xFF" "U\r");
}

TEST_F(DeviceBlocked, FramesCompleteWhenOutputResumesInTime)
{
    stop_output();
    std::thread release = release_later();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_open_dev(true), 3);
    EXPECT_GE(ms_since(start), 30);
    release.join();
    frames(1);
    EXPECT_EQ(str(sim_received(sim)), "\xFF" "T\r");
    std::vector<LogLine> want = uart_lines();
    want.push_back(core_line(3, kOpenSig + ", open successful! ret = 3"));
    EXPECT_EQ(logs_taken(), want);

    // The longest command frame, 259 bytes, goes out whole as well.
    const std::string text(255, 'c');
    sim_clear_records(sim);
    stop_output();
    logs_reset();
    int fds = open_fds();
    release = release_later();
    EXPECT_EQ(scan_set_command(text.c_str()), 259);
    release.join();
    EXPECT_EQ(open_fds(), fds);
    frames(1);
    EXPECT_EQ(str(sim_received(sim)), kHeader + text + ".");
    EXPECT_EQ(logs_taken().back(), core_line(3, kCommandSig + ", write command successful! ret = 259"));

    sim_clear_records(sim);
    stop_output();
    logs_reset();
    release = release_later();
    EXPECT_EQ(scan_set_timeout(-12), 14);
    release.join();
    frames(1);
    EXPECT_EQ(str(sim_received(sim)), kHeader + "861001" + std::string("-12\0.", 5));
}

// Arguments outside what the frames can carry are refused before the
// port is touched: one error line and the failure result. A later good
// call shows that the engine saw nothing of the refused ones.
class DeviceRefused : public DeviceTest {
protected:
    // After the refused calls: only the open frame arrives, in one cycle.
    void expect_engine_saw_nothing()
    {
        EXPECT_EQ(scan_open_dev(true), 3);
        frames(1);
        EXPECT_EQ(str(sim_received(sim)), "\xFF" "T\r");
        EXPECT_EQ(sim_configures(sim), 1);
    }

    // An error line under sig, showing the value when one is given.
    static void expect_error_line(const LogLine &l, const std::string &sig, const std::string &value)
    {
        EXPECT_EQ(l.prio, 6);
        EXPECT_EQ(l.tag, "SCANLIB_CORE");
        EXPECT_EQ(l.text.compare(0, sig.size() + 2, sig + ", "), 0) << l;
        EXPECT_NE(l.text.find(value), std::string::npos) << l;
    }

    void expect_one_error_line(const std::string &sig, const std::string &value = "")
    {
        std::vector<LogLine> got = logs_taken();
        ASSERT_EQ(got.size(), 1u);
        expect_error_line(got[0], sig, value);
    }
};

TEST_F(DeviceRefused, ArgumentsWithoutAFrame)
{
    struct Case {
        std::function<int()> call;
        int result;
        std::string sig;
        std::string value; // shown in the error line
    };
    std::vector<Case> cases;
    for (int type : {-1, 35, INT_MIN, INT_MAX}) {
        for (bool enable : {true, false})
            cases.push_back({[=] { return scan_enable_type(enable, type); }, -1, kEnableSig,
                             std::to_string(type)});
    }
    for (int value : {10000, -1000, INT_MAX, INT_MIN})
        cases.push_back({[=] { return scan_set_timeout(value); }, 0, kSetTimeoutSig, std::to_string(value)});
    cases.push_back({[] { return scan_set_command(nullptr); }, 0, kCommandSig, ""});
    int fds = open_fds();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sig + " " + c.value);
        logs_reset();
        EXPECT_EQ(c.call(), c.result);
        expect_one_error_line(c.sig, c.value);
    }

    // A check logs the type it was asked before it refuses it.
    for (int type : {-1, 35, INT_MIN, INT_MAX}) {
        SCOPED_TRACE("check of type " + std::to_string(type));
        logs_reset();
        EXPECT_FALSE(scan_type_check(type));
        std::vector<LogLine> got = logs_taken();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], core_line(3, kCheckSig + ", type = " + std::to_string(type)));
        expect_error_line(got[1], kCheckSig, std::to_string(type));
    }

    // The line shows the whole text's length, not where the test stopped.
    for (size_t len : {256u, 5000u}) {
        logs_reset();
        const std::string text(len, 'x');
        EXPECT_EQ(scan_set_command(text.c_str()), 0);
        EXPECT_EQ(logs_taken(), std::vector<LogLine>{core_line(
            6, kCommandSig + ", command longer than 255 bytes! length = " + std::to_string(len))});
    }
    EXPECT_EQ(open_fds(), fds);
    expect_engine_saw_nothing();
}

}  // namespace
