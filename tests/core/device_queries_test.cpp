// The three questions against the simulated engine: the frames they
// write, the replies they accept or refuse, the answers they take out of
// them, and their log lines.
#include "device_env.h"

#include <limits.h>

#include <functional>

namespace {

// Failed reads of the poll before the reply arrives: their number depends
// on the host's speed, so exact logs are compared without them.
std::vector<LogLine> lines_without_misses(const std::string &sig, int *misses)
{
    std::vector<LogLine> lines = logs_taken();
    *misses = drop_lines(&lines, poll_miss(sig));
    return lines;
}

// One question: how it is asked (its answer as text), what it logs before
// the port's cycle, the text its frame carries between the header and
// "?.", and the first words of its write line.
struct Question {
    std::string sig;
    std::function<std::string()> ask;
    std::vector<LogLine> prep;
    std::string number;
    std::string write_what;
};

Question check_question(int type, const std::string &code)
{
    return {kCheckSig, [type] { return std::string(scan_type_check(type) ? "true" : "false"); },
            {core_line(3, kCheckSig + ", type = " + std::to_string(type))}, code, "write check"};
}

Question timeout_question()
{
    return {kTimeoutGetSig, [] { return shown(scan_get_timeout()); }, {}, "861001", "write"};
}

Question query_question(int number)
{
    const std::string text = std::to_string(number);
    return {kQuerySig, [number] { return shown(scan_query_data(number)); }, query_prep_lines(text),
            text, "write query"};
}

// The lines of a question's port cycle up to its write line.
std::vector<LogLine> asked(const Question &q)
{
    std::vector<LogLine> lines = q.prep;
    for (const LogLine &l : uart_lines())
        lines.push_back(l);
    lines.push_back(core_line(3, q.sig + ", " + q.write_what + " successful! ret = " +
                                     std::to_string(kHeader.size() + q.number.size() + 2)));
    return lines;
}

class DeviceQueries : public DeviceTest {
protected:
    void set_enabled(int type, bool on)
    {
        sim_with_engine(sim, [=](SimEngine *e) { e->enabled[type] = on; });
    }
    void set_setting(const std::string &number, const std::string &value)
    {
        sim_with_engine(sim, [=](SimEngine *e) { sim_engine_set_setting(e, number, value); });
    }
};

TEST_F(DeviceQueries, CheckLooksOnlyAtTheByteBeforeTheAck)
{
    set_enabled(0, true);
    const struct {
        std::string value;
        bool enabled;
    } cases[] = {{"01", true}, {"10", false}, {"Y", false}, {"2", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE("value " + c.value);
        sim_push_fault(sim, sim_fault_bytes(SimFaultKind::CustomValue,
                                            std::vector<uint8_t>(c.value.begin(), c.value.end())));
        logs_reset();
        EXPECT_EQ(scan_type_check(0), c.enabled);
        EXPECT_EQ(logs_taken().back(),
                  core_line(3, kCheckSig + ", [enable=" + (c.enabled ? "1" : "0") + "]\n"));
    }
}

// A write that does not wait returns as soon as its frame is written; the
// next port cycle's flush would discard it while the engine has not read
// it yet, so each enable or disable is let through to the engine before
// the check.
TEST_F(DeviceQueries, EnableAndDisableAreSeenByTheCheck)
{
    size_t sent = 0;
    for (int type : {7, 33}) {
        for (bool on : {true, false, true}) {
            SCOPED_TRACE("type " + std::to_string(type) + (on ? " enabled" : " disabled"));
            EXPECT_EQ(scan_enable_type(on, type), 11);
            ASSERT_EQ(frames(++sent).size(), sent);
            EXPECT_EQ(scan_type_check(type), on);
            sent++;
        }
    }
}

TEST_F(DeviceQueries, SilenceGivesTenFailedReadsAndNoAnswer)
{
    sim_set_persistent_fault(sim, sim_fault(SimFaultKind::Silence));
    const struct {
        Question q;
        std::string result;
    } cases[] = {
        {check_question(0, "999001"), "false"}, // type 0 is enabled: an answer would say so
        {timeout_question(), "\"\""},
        {query_question(861001), "\"\""},
    };
    int fds = open_fds();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.q.sig);
        logs_reset();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.q.ask(), c.result);
        EXPECT_GE(ms_since(start), 95);
        std::vector<LogLine> want = asked(c.q);
        want.insert(want.end(), 10, poll_miss(c.q.sig));
        EXPECT_EQ(logs_taken(), want);
    }
    EXPECT_EQ(open_fds(), fds);
}

TEST_F(DeviceQueries, RefusedReadThenReplyInTheSamePoll)
{
    sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
    // The first read has an ACK byte inside, but not second to last.
    const std::string garbage = "\x15\xAA\x55\x06\x01\x7F";
    std::thread script = run_script(kCheckSig, {garbage, "9990011\x06\r"});
    EXPECT_TRUE(scan_type_check(0));
    script.join();

    std::vector<LogLine> want = asked(check_question(0, "999001"));
    add_byte_lines(&want, kCheckSig, garbage);
    add_byte_lines(&want, kCheckSig, "9990011\x06\r");
    want.push_back(core_line(3, kCheckSig + ", [enable=1]\n"));
    int misses = 0;
    EXPECT_EQ(lines_without_misses(kCheckSig, &misses), want);
    EXPECT_LE(misses, 8);
}

TEST_F(DeviceQueries, RepliesWithoutTheAckSecondToLastAreRefused)
{
    // Each message is sent whole: at the line's pace the reply is looked
    // for after every byte, so a reply followed by extra bytes is taken
    // before they come, and "861001", ACK, "3" has the form of a reply (a
    // well-formed one holds no ACK before its own).
    SimLine instant;
    instant.baud = 0;
    sim_set_line(sim, instant);
    set_enabled(0, true);
    sim_push_fault(sim, sim_fault(SimFaultKind::NoAck));
    EXPECT_FALSE(scan_type_check(0));
    std::vector<LogLine> got = logs_taken();
    EXPECT_EQ(count_lines(got, poll_miss(kCheckSig)) + 1, 10) << "one read brought the reply";
    EXPECT_EQ(byte_lines_logged(kCheckSig), 8u);  // "9990011" and the final byte

    sim_push_fault(sim, sim_fault(SimFaultKind::ExtraBytes));
    logs_reset();
    EXPECT_FALSE(scan_type_check(0));
    EXPECT_EQ(byte_lines_logged(kCheckSig), 11u);  // the reply and "XY" in one read
    EXPECT_EQ(count_lines(logs_taken(), core_line(3, kCheckSig + ", [enable=1]\n")), 0);

    // "861001", ACK, "3000", final: an ACK stands in the reply, but not
    // where the reply's end puts it.
    sim_push_fault(sim, sim_fault(SimFaultKind::AckMisplaced));
    logs_reset();
    char *timeout = scan_get_timeout();
    ASSERT_NE(timeout, nullptr);
    EXPECT_STREQ(timeout, "");
    EXPECT_EQ(byte_lines_logged(kTimeoutGetSig), 12u);
    EXPECT_EQ(count_lines(logs_taken(), core_line(3, kTimeoutGetSig + ", ")), 0);

    // A setting the engine does not know: echo, NAK, final byte.
    logs_reset();
    char *value = scan_query_data(123456);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(count_lines(logs_taken(), core_line(3, kQuerySig + ", ")), 0);
}

// The bytes of one exchange are one stream: a reply that reaches the
// library over several reads is answered as a whole, and what came ahead
// of it in the same exchange does not change the answer.
TEST_F(DeviceQueries, ReplyOverSeveralReadsIsJoined)
{
    struct {
        std::vector<std::string> chunks;
        std::string want;
    } const cases[] = {
        {{"861001BBBBBBBBB", "8610013000\x06\r"}, "3000"},
        {{"86100", "1", "42", "\x06", "\r"}, "42"},
        {{"ABCDEFGH", "\x06\r"}, "GH"}, // no echo: its length is skipped
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chunks.front());
        sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
        logs_reset();
        std::thread script = run_script(kQuerySig, c.chunks);
        char *value = scan_query_data(861001);
        script.join();
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(std::string(value), c.want);

        int misses = 0;
        std::vector<LogLine> got = lines_without_misses(kQuerySig, &misses);
        std::vector<LogLine> tail;
        for (const std::string &chunk : c.chunks)
            add_byte_lines(&tail, kQuerySig, chunk);
        tail.push_back(core_line(3, kQuerySig + ", " + c.want));
        ASSERT_GE(got.size(), tail.size());
        EXPECT_EQ(std::vector<LogLine>(got.end() - static_cast<long>(tail.size()), got.end()), tail);
        EXPECT_LE(misses, 8);
        sim_clear_records(sim);
    }
}

// A zero byte ends the text of the read that brings it, and nothing read
// before it joins a later read: a reply split by one is no reply.
TEST_F(DeviceQueries, ZeroByteInsideAReplyEndsItsRead)
{
    const std::vector<std::string> cases[] = {
        {std::string("\0" "9000031\x06\r", 10)},           // the reply behind it
        {std::string("9000031\x06\0", 9), std::string("\r")}, // the final byte behind it
    };
    sim_with_engine(sim, [](SimEngine *e) { e->enabled[3] = true; });
    for (const std::vector<std::string> &chunks : cases) {
        SCOPED_TRACE(chunks.size());
        sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
        std::thread engine([this, &chunks] {
            ASSERT_TRUE(sim_wait_frames(sim, 1, 5000));
            for (const std::string &chunk : chunks) {
                engine_write(chunk);
                usleep(5000); // a read of its own
            }
        });
        EXPECT_FALSE(scan_type_check(3));
        engine.join();
        sim_clear_records(sim);
    }
}

TEST_F(DeviceQueries, RepliesTooShortForTheirValueAreRefused)
{
    // Check: a value byte must stand before the ACK byte.
    sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
    std::thread script = run_script(kCheckSig, {"\x06\r", "9990011\x06\r"});
    EXPECT_TRUE(scan_type_check(0));
    script.join();
    std::vector<LogLine> got = logs_taken();
    std::vector<LogLine> tail;
    add_byte_lines(&tail, kCheckSig, "\x06\r");
    add_byte_lines(&tail, kCheckSig, "9990011\x06\r");
    tail.push_back(core_line(3, kCheckSig + ", [enable=1]\n"));
    drop_lines(&got, poll_miss(kCheckSig));
    ASSERT_GE(got.size(), tail.size());
    EXPECT_EQ(std::vector<LogLine>(got.end() - static_cast<long>(tail.size()), got.end()), tail);

    // Timeout: four value bytes must stand before it; leading zeros stay.
    sim_clear_records(sim);
    sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
    logs_reset();
    script = run_script(kTimeoutGetSig, {"\x06\r", "123\x06\r", "8610010005\x06\r"});
    char *timeout = scan_get_timeout();
    script.join();
    ASSERT_NE(timeout, nullptr);
    EXPECT_STREQ(timeout, "0005");
    got = logs_taken();
    EXPECT_EQ(count_lines(got, core_line(3, kTimeoutGetSig + ", 0005")), 1);
    EXPECT_EQ(got.back(), core_line(3, kTimeoutGetSig + ", 0005"));

    // Query: an ACK and a final byte make a reply, with nothing in it.
    const std::string short_replies[] = {"\x06\r", "8610\x06\r", "861001\x06\r"};
    for (const std::string &reply : short_replies) {
        SCOPED_TRACE(reply.size());
        sim_push_fault(sim, sim_fault_bytes(SimFaultKind::RawReply,
                                            std::vector<uint8_t>(reply.begin(), reply.end())));
        logs_reset();
        char *value = scan_query_data(861001);
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, "");
        EXPECT_EQ(logs_taken().back(), core_line(3, kQuerySig + ", "));
    }
}

TEST_F(DeviceQueries, SixteenByteReadStaysInsideTheBuffer)
{
    // "861001", "0000" filler, "3000", ACK, final: 16 bytes in one read.
    sim_push_fault(sim, sim_fault(SimFaultKind::Overlong));
    char *timeout = scan_get_timeout();
    ASSERT_NE(timeout, nullptr);
    EXPECT_STREQ(timeout, "3000");
    EXPECT_EQ(byte_lines_logged(kTimeoutGetSig), 16u);

    sim_push_fault(sim, sim_fault(SimFaultKind::Overlong));
    logs_reset();
    char *value = scan_query_data(861001);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "00003000");
    EXPECT_EQ(byte_lines_logged(kQuerySig), 11u + 16u);
}

// Each question's frame, the reply the engine gives it, the answer taken
// out of the reply (a timeout keeps its leading zeros and its sign), and
// the whole log; the port is closed again.
TEST_F(DeviceQueries, EachQuestionsFrameAnswerAndLog)
{
    set_setting("-5", "12");
    set_setting("0", "A");
    set_setting("2147483647", "42");
    set_setting("-2147483648", "7");
    const struct {
        Question q;
        std::function<void()> before; // runs before the question's records
        std::string value;            // the reply's bytes between the echo and the ACK
        std::string result;
        std::string answer;           // the answer line after the signature
    } cases[] = {
        {check_question(5, "923001"), [this] { set_enabled(5, true); }, "1", "true", "[enable=1]\n"},
        {check_question(5, "923001"), [this] { set_enabled(5, false); }, "0", "false", "[enable=0]\n"},
        {timeout_question(), nullptr, "3000", "\"3000\"", "3000"},
        {query_question(861001), nullptr, "3000", "\"3000\"", "3000"},
        {query_question(-5), nullptr, "12", "\"12\"", "12"},
        {query_question(0), nullptr, "A", "\"A\"", "A"},
        {query_question(INT_MAX), nullptr, "42", "\"42\"", "42"},
        {query_question(INT_MIN), nullptr, "7", "\"7\"", "7"},
        // Last: the timeout set here is the engine's from then on.
        {timeout_question(), [] { EXPECT_EQ(scan_set_timeout(5), 14); }, "0005", "\"0005\"", "0005"},
        {timeout_question(), [] { EXPECT_EQ(scan_set_timeout(-12), 14); }, "-012", "\"-012\"", "-012"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.q.sig + ", " + c.q.number + ", " + c.value);
        if (c.before)
            c.before();
        sim_clear_records(sim);
        logs_reset();
        int fds = open_fds();
        EXPECT_EQ(c.q.ask(), c.result);
        EXPECT_EQ(open_fds(), fds);
        EXPECT_EQ(str(sim_received(sim)), kHeader + c.q.number + "?.");

        std::vector<LogLine> want = asked(c.q);
        add_byte_lines(&want, c.q.sig, c.q.number + c.value + "\x06\r");
        want.push_back(core_line(3, c.q.sig + ", " + c.answer));
        int misses = 0;
        EXPECT_EQ(lines_without_misses(c.q.sig, &misses), want);
        EXPECT_LE(misses, 9);
    }
}

TEST_F(DeviceQueries, HungUpPortGivesNoAnswer)
{
    sim_push_fault(sim, sim_fault(SimFaultKind::Hangup));
    int fds = open_fds();
    char *timeout = scan_get_timeout();
    ASSERT_TRUE(sim_hung_up(sim));
    EXPECT_EQ(open_fds(), fds - 1) << "only the engine's master is gone";
    ASSERT_NE(timeout, nullptr);
    EXPECT_STREQ(timeout, "");
    // Reads of a hung-up port return no bytes: no byte line, no failed
    // read once it is hung up, no answer.
    int misses = 0;
    EXPECT_EQ(lines_without_misses(kTimeoutGetSig, &misses), asked(timeout_question()));
    EXPECT_LT(misses, 10);
}

}  // namespace
