// Faults for real, through the simulated engine and /dev/ttyMT1: a device
// that vanishes or is no terminal, an engine that is silent, late, loses
// its ACK, answers twice or too long, floods or cuts the scan data, and a
// port hung up in the middle of a call. Every call must end within its
// documented wait, give a documented result, and never hand one caller
// bytes that were left over from an earlier exchange.
#include "engine_fixture.h"
#include "hardening.h"
#include "logs.h"
#include "scanjni.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// One operation, its signature text and its result when the port fails.
struct PortOp {
    const char *sig;
    std::string (*call)();
    const char *fail;
};

const PortOp kPortOps[] = {
    {"int scan_open_dev(bool)", [] { return std::to_string(scan_open_dev(true)); }, "-1"},
    {"int scan_enable_type(bool, int)", [] { return std::to_string(scan_enable_type(false, 7)); },
     "-1"},
    {"int scan_set_timeout(int)", [] { return std::to_string(scan_set_timeout(50)); }, "0"},
    {"int scan_set_command(const char *)", [] { return std::to_string(scan_set_command("ab")); },
     "0"},
    {"int profile_scan_type()", [] { return std::to_string(profile_scan_type()); }, "-1"},
    {"bool scan_type_check(int)", [] { return std::string(scan_type_check(3) ? "true" : "false"); },
     "false"},
    {"char *scan_get_timeout()", [] { return shown(scan_get_timeout()); }, "null"},
    {"char *scan_query_data(int)", [] { return shown(scan_query_data(100002)); }, "null"},
    {"char *scan_read_data()", [] { return shown(scan_read_data()); }, "null"},
};

// Every operation fails at once with its failure result, closes what it
// opened and ends with the given failure line.
void expect_every_op_fails(const std::string &failure_line)
{
    for (const PortOp &op : kPortOps) {
        SCOPED_TRACE(op.sig);
        logs_reset();
        int fds = open_fds();
        Stopwatch clock;
        EXPECT_EQ(op.call(), op.fail);
        EXPECT_LT(clock.ms(), kQuestionBoundMs);
        EXPECT_EQ(open_fds(), fds) << "descriptor left open";
        std::vector<LogLine> lines = logs_taken();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, op.sig + failure_line);
    }
}

bool is_part_of(const char *text, const std::vector<uint8_t> &bytes)
{
    return text != nullptr &&
           std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos;
}

// What the engine sends for Overlong: the echo, '0' filler, the value,
// ACK and final byte, count bytes in all.
std::vector<uint8_t> overlong_reply(const std::string &echo, const std::string &value, int count)
{
    size_t filler = static_cast<size_t>(count) - echo.size() - value.size() - 2;
    return sim_reply(echo + std::string(filler, '0'), value);
}

class Faults : public EngineFixture {
protected:
    void push(SimFaultKind kind, int ms = 0) { sim_push_fault(sim, sim_fault(kind, ms)); }

    // Scan data sent after the library's configuration must not be sent
    // before its second flush, even when a loaded machine makes the two
    // flushes reach the engine as one notice.
    void scan_after_configure(const std::vector<uint8_t> &bytes)
    {
        sim_set_settle_ms(sim, 300);
        sim_send_scan(sim, sim_scan(bytes, SimScanTrigger::AfterConfigure));
    }

    // A bounded get_timeout; the caller checks the text.
    std::string timed_get_timeout()
    {
        Stopwatch clock;
        std::string got = shown(scan_get_timeout());
        EXPECT_LT(clock.ms(), kQuestionBoundMs);
        return got;
    }

    // A whole timeout reply that no call has read waits in the port's
    // input queue. The next call, answered by silence, must discard it
    // with its flush instead of taking it for its own answer.
    void expect_leftover_reply_discarded()
    {
        EXPECT_TRUE(wait_until([] { return port_pending() >= 12; }, 3000))
            << "pending: " << port_pending();
        push(SimFaultKind::Silence);
        EXPECT_EQ(timed_get_timeout(), "\"\"");
        EXPECT_EQ(port_pending(), 0);
    }
};

// A device that is no serial port: a directory cannot be opened, a FIFO
// opens but cannot be configured.
TEST(PortShapes, DeviceThatIsNoSerialPort)
{
    const struct {
        DevnsShape shape;
        const char *failure_line;
    } cases[] = {
        {DevnsShape::Directory, ", open device fail! Fd = -1"},
        {DevnsShape::Fifo, ", set uart parm fail! ret = -1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failure_line);
        ASSERT_TRUE(devns_set_shape(c.shape));
        expect_every_op_fails(c.failure_line);
    }
    devns_teardown();
}

TEST_F(Faults, DeviceVanishesBetweenCallsAndComesBack)
{
    EXPECT_EQ(timed_get_timeout(), "\"3000\"");
    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    expect_every_op_fails(", open device fail! Fd = -1");

    install_engine();
    int fds = open_fds();
    EXPECT_EQ(scan_open_dev(true), 3);
    // A pty drops output that its reader has not taken when the next port
    // cycle flushes; a serial port would have sent it on close.
    EXPECT_TRUE(sim_wait_frames(sim, 1, 3000));
    EXPECT_EQ(timed_get_timeout(), "\"3000\"");
    EXPECT_EQ(open_fds(), fds);
}

TEST_F(Faults, SilentEngineLeavesEveryQuestionEmpty)
{
    sim_set_persistent_fault(sim, sim_fault(SimFaultKind::Silence));
    int fds = open_fds();
    logs_reset();
    EXPECT_EQ(timed_get_timeout(), "\"\"");
    EXPECT_EQ(count_lines(logs_taken(), poll_miss(kTimeoutGetSig)), 10);

    logs_reset();
    Stopwatch clock;
    EXPECT_FALSE(scan_type_check(0)); // type 0 is enabled: an answer would say so
    EXPECT_EQ(shown(scan_query_data(100002)), "\"\"");
    EXPECT_LT(clock.ms(), 2 * kQuestionBoundMs);
    EXPECT_EQ(count_lines(logs_taken(), poll_miss(kCheckSig)), 10);
    EXPECT_EQ(count_lines(logs_taken(), poll_miss(kQuerySig)), 10);
    EXPECT_EQ(open_fds(), fds);
}

TEST_F(Faults, LateReplyIsTakenInsideThePollAndDiscardedAfterIt)
{
    push(SimFaultKind::Delay, 40);
    EXPECT_EQ(timed_get_timeout(), "\"3000\"");

    // Later than the poll: nothing for this call, nothing for the next.
    push(SimFaultKind::Delay, 300);
    EXPECT_EQ(timed_get_timeout(), "\"\"");
    expect_leftover_reply_discarded();
    EXPECT_EQ(timed_get_timeout(), "\"3000\"");
}

TEST_F(Faults, ReplyWithoutAckIsNoReply)
{
    for (int i = 0; i < 3; i++)
        push(SimFaultKind::NoAck);
    logs_reset();
    EXPECT_FALSE(scan_type_check(0));
    EXPECT_EQ(timed_get_timeout(), "\"\"");
    EXPECT_EQ(shown(scan_query_data(100002)), "\"\"");
    // The reply was read and refused (once, or in pieces on a loaded
    // machine); every other attempt found nothing.
    int misses = count_lines(logs_taken(), poll_miss(kTimeoutGetSig));
    EXPECT_LE(misses, 9);
    EXPECT_GE(misses, 7);
}

TEST_F(Faults, SecondCopyOfAReplyNeverReachesTheNextCall)
{
    push(SimFaultKind::Twice, 40);
    EXPECT_EQ(timed_get_timeout(), "\"3000\"");
    expect_leftover_reply_discarded();

    // Both copies in the queue at once: the first read takes 16 of their
    // 24 bytes. Whatever is accepted comes from this engine's reply: the
    // value itself, or nothing. Sent whole, so that the second copy is in
    // the port before the call ends: bytes that are still on the line when
    // the next call flushes the port reach that call, on a real line too.
    SimLine instant;
    instant.baud = 0;
    sim_set_line(sim, instant);
    push(SimFaultKind::Twice, 0);
    std::string timeout = timed_get_timeout();
    EXPECT_TRUE(timeout == "\"3000\"" || timeout == "\"\"") << timeout;
    push(SimFaultKind::Twice, 0);
    std::string query = shown(scan_query_data(800001));
    EXPECT_TRUE(query == "\"V1.2\"" || query == "\"\"") << query;
}

TEST_F(Faults, RepliesOfSixteenBytesAndMoreStayInsideTheirBuffer)
{
    for (int count : {16, 17, 24, 31, 64}) {
        SCOPED_TRACE("reply of " + std::to_string(count) + " bytes");
        SimFault overlong = sim_fault(SimFaultKind::Overlong);
        overlong.count = count;
        for (int i = 0; i < 3; i++)
            sim_push_fault(sim, overlong);
        Stopwatch clock;
        scan_type_check(0); // either answer; it must only end in time
        const char *timeout = scan_get_timeout();
        ASSERT_NE(timeout, nullptr);
        EXPECT_TRUE(*timeout == '\0' || strlen(timeout) == 4) << timeout;
        EXPECT_TRUE(is_part_of(timeout, overlong_reply("861001", "3000", count))) << timeout;
        const char *value = scan_query_data(100002);
        ASSERT_NE(value, nullptr);
        EXPECT_LE(strlen(value), 13u);
        EXPECT_TRUE(is_part_of(value, overlong_reply("100002", "115200", count))) << value;
        EXPECT_LT(clock.ms(), 3 * kQuestionBoundMs);
    }
}

TEST_F(Faults, ScanDataUpToTheBufferIsWholeAndItsRestDiscarded)
{
    // 8192 bytes fill the buffer exactly and come back whole. Of 20000,
    // the first 8192 come back; the engine sends the rest to its end (1 s)
    // whatever the host does. A call that begins while the rest is still
    // on the line gets none of it; once all of it waits in the port, the
    // next call's flush discards it and that call gets its own scan.
    for (size_t size : {size_t{8192}, size_t{20000}}) {
        SCOPED_TRACE("scan data of " + std::to_string(size) + " bytes");
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; i++)
            data[i] = static_cast<uint8_t>('a' + i % 26);
        EXPECT_EQ(rounds_at_pace(sim, [&]() -> std::string {
                      if (!sim_wait_output_idle(sim, 5000))
                          return "the line never went quiet";
                      scan_after_configure(data);
                      Stopwatch clock;
                      const char *text = scan_read_data();
                      long took = clock.ms();
                      std::string got = text != nullptr ? text : "(null)";
                      if (took >= kReadBoundMs || got != std::string(data.begin(), data.begin() + 8192))
                          return "the first read: " + std::to_string(got.size()) + " bytes after " +
                                 std::to_string(took) + " ms";
                      if (count_lines(logs_taken(), core_line(3, kReadSig + ", length = 8192 ")) != 1)
                          return "the first read's length not logged once";
                      if (size > 8192 && shown(scan_read_data()) != "\"\"")
                          return "the rest of the scan came back";
                      return "";
                  }),
                  "");
        ASSERT_TRUE(sim_wait_output_idle(sim, 5000));
        sim_clear_records(sim);
        scan_after_configure({'N', 'E', 'X', 'T'});
        EXPECT_EQ(shown(scan_read_data()), "\"NEXT\"");
    }
}

// More bytes waiting at once than the buffer holds (a scan written in one
// piece, long enough after the flush that it could have crossed the line):
// the read takes what fits, 8192 bytes, and never more.
TEST_F(Faults, MoreWaitingThanTheBufferHoldsIsReadUpToItsEnd)
{
    SimLine line;
    line.baud = 0; // written in one piece
    sim_set_line(sim, line);
    std::vector<uint8_t> data(20000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>('A' + i % 26);
    sim_send_scan(sim, sim_scan(data, SimScanTrigger::AfterConfigure, 400));
    const char *text = scan_read_data();
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(strlen(text), 8192u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 8192), text);
}

TEST_F(Faults, ZeroByteEndsTheScanText)
{
    scan_after_configure({'A', 'B', 0, 'C', 'D'});
    EXPECT_EQ(shown(scan_read_data()), "\"AB\"");

    // Nothing before the zero byte: the read still succeeded, so the
    // attempts end with the empty text instead of going on for a second.
    scan_after_configure({0, 'X', 'Y'});
    logs_reset();
    EXPECT_EQ(shown(scan_read_data()), "\"\"");
    std::vector<LogLine> lines = logs_taken();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), core_line(3, kReadSig + ", length = 0 "));
}

TEST_F(Faults, HangupDuringAReplyPoll)
{
    push(SimFaultKind::Hangup, 30);
    EXPECT_EQ(timed_get_timeout(), "\"\"");
    ASSERT_TRUE(wait_until([this] { return sim_hung_up(sim); }, 3000));

    // The pty has lost its master: the device no longer opens.
    int fds = open_fds();
    logs_reset();
    EXPECT_EQ(timed_get_timeout(), "null");
    EXPECT_EQ(scan_open_dev(true), -1);
    EXPECT_EQ(logs_taken().back(), core_line(6, "int scan_open_dev(bool), open device fail! Fd = -1"));
    EXPECT_EQ(open_fds(), fds);
}

// The pty hangs up while the read waits for a scan, or in the middle of a
// 2000-byte scan at the line's pace: the call ends at once (no waiting out
// the message's two seconds), with what had come.
TEST_F(Faults, HangupDuringAScanDataRead)
{
    for (bool mid_scan : {false, true}) {
        SCOPED_TRACE(mid_scan ? "in the middle of a scan" : "while waiting");
        if (sim == nullptr)
            install_engine();
        if (mid_scan) {
            sim_set_settle_ms(sim, 300);
            sim_send_scan(sim, sim_scan(std::vector<uint8_t>(2000, 'h'),
                                        SimScanTrigger::AfterConfigure, 5));
        }
        std::string got = "unset";
        long took = 0;
        std::thread reader([&got, &took] {
            Stopwatch clock;
            got = shown(scan_read_data());
            took = clock.ms();
        });
        EXPECT_TRUE(sim_wait_configures(sim, 1, 3000));
        usleep(50000);
        Stopwatch hangup;
        sim_destroy(sim); // closes the master: the pty hangs up
        sim = nullptr;
        reader.join();
        if (mid_scan) {
            EXPECT_LT(hangup.ms(), 500) << "the read went on after the hang-up";
            EXPECT_EQ(got.find_first_not_of('h', 1), got.size() - 1) << got;
        } else {
            EXPECT_EQ(got, "\"\"");
        }
        EXPECT_LT(took, kReadBoundMs);
        EXPECT_EQ(shown(scan_read_data()), "null");
    }
}

} // namespace
