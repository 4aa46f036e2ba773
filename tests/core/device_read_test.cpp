// scan_read_data against the simulated engine: scan data that comes late,
// stops at a zero byte, fills the largest read a pty gives, or never comes.
#include "device_env.h"

#include <string.h>

namespace {

class DeviceRead : public DeviceTest {
protected:
    // Scan data sent delay_ms after the library's next configuration.
    void send_scan(const std::string &bytes, int delay_ms)
    {
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                    SimScanTrigger::AfterConfigure, delay_ms));
    }

    // The lines of a read that brought text: set_uart_parm's two, the
    // length line, one byte line per byte of text.
    static std::vector<LogLine> read_lines(const std::string &text)
    {
        std::vector<LogLine> lines = uart_lines();
        lines.push_back(core_line(3, kReadSig + ", length = " + std::to_string(text.size()) + " "));
        add_byte_lines(&lines, kReadSig, text);
        return lines;
    }

    // The log without the failed reads before the data came.
    static std::vector<LogLine> lines_without_misses(int *misses)
    {
        std::vector<LogLine> lines = logs_taken();
        *misses = drop_lines(&lines, read_miss());
        return lines;
    }
};

// Scan data that comes late, stops at a zero byte, or is longer than one
// read of a pty gives (about 4 KiB, so that it takes several reads): the
// text up to the first zero byte comes back whole and is logged once, and
// the port is closed again.
TEST_F(DeviceRead, ScanDataComesBackWholeUpToAZeroByte)
{
    std::string big(6000, 'x');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<char>('a' + i % 26);
    const struct {
        const char *what;
        std::string sent;
        int delay_ms; // after the library's configuration
        std::string text;
        int min_misses;
    } cases[] = {
        {"late", "0123456789", 60, "0123456789", 1},
        {"zero byte", std::string("AB\0CD", 5), 20, "AB", 0},
        {"longer than one read", big, 20, big, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        logs_reset();
        send_scan(c.sent, c.delay_ms);
        int fds = open_fds();
        char *data = scan_read_data();
        EXPECT_EQ(open_fds(), fds);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data), c.text);
        int misses = 0;
        EXPECT_EQ(lines_without_misses(&misses), read_lines(c.text));
        EXPECT_GE(misses, c.min_misses);
        EXPECT_LE(misses, 99);
    }
}

TEST_F(DeviceRead, NothingComesForOneSecond)
{
    int fds = open_fds();
    auto start = std::chrono::steady_clock::now();
    char *data = scan_read_data();
    long took = ms_since(start);
    EXPECT_GE(took, 950);
    EXPECT_LT(took, 1600) << "the wait for scan data is about one second";
    EXPECT_EQ(open_fds(), fds);
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "");
    std::vector<LogLine> want = uart_lines();
    want.insert(want.end(), 100, read_miss());
    EXPECT_EQ(logs_taken(), want);
}

// Byte lines show the unsigned value of every byte, 01 to FF.
TEST_F(DeviceRead, EveryNonZeroByteValue)
{
    std::string all;
    for (int b = 1; b <= 0xFF; b++)
        all.push_back(static_cast<char>(b));
    send_scan(all, 20);
    char *data = scan_read_data();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data), all);
    int misses = 0;
    std::vector<LogLine> got = lines_without_misses(&misses);
    EXPECT_EQ(got, read_lines(all));
    ASSERT_EQ(got.size(), 3u + 255u);
    EXPECT_EQ(got[3 + 0x7F], core_line(3, kReadSig + ", 80 "));
    EXPECT_EQ(got.back(), core_line(3, kReadSig + ", FF "));
}

// When the engine goes away during the poll, the read finds the end of
// the file: a successful read of no bytes, which ends the poll at once.
TEST_F(DeviceRead, ReadOfNoBytesEndsThePoll)
{
    std::thread hangup([this] {
        EXPECT_TRUE(wait_until([] { return count_lines(logs_taken(), uart_lines()[1]) > 0; }, 5000));
        usleep(20000);
        sim_destroy(sim);  // closes the master
    });
    char *data = scan_read_data();
    hangup.join();
    sim = nullptr;
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "");
    int misses = 0;
    EXPECT_EQ(lines_without_misses(&misses), read_lines(""));
    EXPECT_LT(misses, 99);
}

}  // namespace
