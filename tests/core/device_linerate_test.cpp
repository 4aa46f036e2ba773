// The library against an engine that sends at the real line's pace
// (115200 8N1, 86.8 us a byte), so that every reply and every scan reaches
// it over several reads: scans come back whole and exact, replies are
// answered right wherever they fall against the 10 ms attempts, a short
// pause inside a scan does not cut it, and two scans far apart stay two.
#include "device_env.h"

#include <string.h>

namespace {

class LineRate : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        SimLine line; // 115200 baud
        sim_set_line(sim, line);
    }

    void set_line(size_t burst, int reply_delay_us)
    {
        SimLine line;
        line.burst = burst;
        line.reply_delay_us = reply_delay_us;
        sim_set_line(sim, line);
    }

    // Starts scan_read_data on a thread; the scan goes out delay_ms after
    // the call has configured the port.
    void send_scan(const std::string &bytes, int delay_ms)
    {
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                    SimScanTrigger::AfterConfigure, delay_ms));
    }
};

std::string pattern(size_t n, size_t seed)
{
    std::string s(n, 'x');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(1 + (i * 7 + seed) % 255);
    return s;
}

// Scans of every size, byte by byte and in bursts, starting at different
// points of the 10 ms attempts.
TEST_F(LineRate, ScansComeBackWholeAndExact)
{
    const size_t sizes[] = {1, 13, 50, 200, 2000, 8192};
    const size_t bursts[] = {1, 16};
    int phase = 0;
    for (size_t burst : bursts) {
        for (size_t size : sizes) {
            SCOPED_TRACE("scan of " + std::to_string(size) + " bytes, bursts of " +
                         std::to_string(burst));
            set_line(burst, 0);
            std::string scan = pattern(size, phase);
            send_scan(scan, 3 + phase++ * 7 % 10);
            logs_reset();
            char *data = scan_read_data();
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(strlen(data), size);
            EXPECT_TRUE(std::string(data) == scan) << "the text differs from the scan";
            std::vector<LogLine> lines = logs_taken();
            EXPECT_EQ(count_lines(lines, core_line(3, kReadSig + ", length = " +
                                                          std::to_string(size) + " ")),
                      1);
            EXPECT_EQ(byte_lines_logged(kReadSig), size) << "every byte logged once";
            ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
            // The engine really sent at the line's pace: a 200-byte scan
            // spans 17 ms, of which a late start may eat a part, but
            // never most.
            std::vector<SimSentByte> sent = sim_sent(sim);
            ASSERT_EQ(sent.size(), size);
            if (size >= 200) {
                EXPECT_GE(sent.back().t_us - sent.front().t_us,
                          static_cast<int64_t>(size) * 868 / 10 / 2);
            }
            sim_clear_records(sim);
        }
    }
}

// Replies that begin anywhere from 0 to 20 ms after the question, in steps
// that fall at every point of the 10 ms attempts, are all answered right.
TEST_F(LineRate, RepliesAreAnsweredWhereverTheyFall)
{
    sim_with_engine(sim, [](SimEngine *e) {
        e->enabled[3] = true;
        e->enabled[4] = false;
        e->timeout = 1234;
        sim_engine_set_setting(e, "100002", "115200");
    });
    const int kStepUs = 700;
    for (int delay_us = 0; delay_us <= 20000; delay_us += kStepUs) {
        SCOPED_TRACE("reply " + std::to_string(delay_us) + " us after the question");
        set_line(1, delay_us);
        EXPECT_TRUE(scan_type_check(3));
        EXPECT_FALSE(scan_type_check(4));
        EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
        EXPECT_EQ(shown(scan_query_data(100002)), "\"115200\"");
        ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    }
}

// Scan data sent in two parts: after a pause shorter than the quiet gap
// they are one message; 150 ms apart, as two trigger presses at least
// are, they are two.
TEST_F(LineRate, PausesInsideAScanAndGapsBetweenScans)
{
    const std::string first = pattern(40, 1);
    const std::string second = pattern(30, 2);
    const int first_ms = 5;
    const int first_len_ms = 4; // 40 bytes take 3.5 ms on the line

    struct Case {
        int pause_ms;
        std::vector<std::string> reads;
    } const cases[] = {
        {8, {first + second}},
        {150, {first, second}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("pause of " + std::to_string(c.pause_ms) + " ms");
        sim_clear_records(sim);
        std::vector<std::string> got;
        std::thread reader([&got, &c] {
            for (size_t i = 0; i < c.reads.size(); i++) {
                char *data = scan_read_data();
                got.push_back(data ? data : "(null)");
            }
        });
        ASSERT_TRUE(sim_wait_configures(sim, 1, 3000));
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(first.begin(), first.end()),
                                    SimScanTrigger::AfterDelay, first_ms));
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(second.begin(), second.end()),
                                    SimScanTrigger::AfterDelay,
                                    first_ms + first_len_ms + c.pause_ms));
        reader.join();
        EXPECT_EQ(got, c.reads);
        ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    }
}

} // namespace
