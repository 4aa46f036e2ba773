// The engine's bytes leave at the line's pace, judged from the times at
// which they were written to the master. Bounds are generous: the machine
// is shared and the cross build runs under an emulator. A byte may never
// leave before its time; lateness must not add up over a message, not even
// when the host flushes the port or nobody has it open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "engine_fixture.h"

namespace {

constexpr int64_t kLateUs = 25000;  // last byte after its time, at most
constexpr int kWaitMs = 10000;
constexpr size_t kReplySize = 9;     // the reply to a check question
const std::string kCheck0 = "\xFF" "M\r999001?.";

struct LineCase {
    const char* name;
    unsigned baud;
    size_t burst;
    int reply_delay_us;
    size_t scan_size;  // 0: the reply to a check question instead
};

const LineCase kCases[] = {
    {"115200 byte by byte", 115200, 1, 0, 1000},
    {"115200 in bursts of 16", 115200, 16, 0, 1000},
    {"9600", 9600, 1, 0, 100},
    {"reply after think time", 115200, 1, 2500, 0},
    {"instant", 0, 1, 0, 1000},
};

double byte_us(unsigned baud) { return 1e7 / baud; }

// When byte k may leave at the earliest: its burst has fully arrived.
double earliest_us(const LineCase& c, size_t k, size_t size) {
    if (c.baud == 0) return 0;
    size_t end = std::min(size, (k / c.burst + 1) * c.burst);
    return static_cast<double>(end) * byte_us(c.baud);
}

class SimLineTest : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        // The port in raw mode, so nothing the engine sends is echoed back.
        termios t;
        ASSERT_EQ(tcgetattr(devns_slave_fd(), &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(devns_slave_fd(), TCSANOW, &t), 0);
    }
};

TEST_F(SimLineTest, BytesLeaveAtTheLinePace) {
    for (const LineCase& c : kCases) {
        SCOPED_TRACE(c.name);
        sim_clear_records(sim);
        SimLine line;
        line.baud = c.baud;
        line.burst = c.burst;
        line.reply_delay_us = c.reply_delay_us;
        sim_set_line(sim, line);

        std::vector<uint8_t> msg(c.scan_size);
        for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i);
        int64_t t0 = sim_now_us();
        if (c.scan_size > 0) {
            sim_send_scan(sim, sim_scan(msg, SimScanTrigger::AfterDelay));
        } else {
            msg = {'9', '9', '9', '0', '0', '1', '1', 0x06, '\r'};
            ASSERT_EQ(write(devns_slave_fd(), kCheck0.data(), kCheck0.size()),
                      static_cast<ssize_t>(kCheck0.size()));
        }
        ASSERT_TRUE(sim_wait_output_idle(sim, kWaitMs));
        ASSERT_TRUE(sim_wait_sent(sim, msg.size(), kWaitMs));
        std::vector<SimSentByte> sent = sim_sent(sim);
        ASSERT_EQ(sent.size(), msg.size());
        ASSERT_EQ(tcflush(devns_slave_fd(), TCIFLUSH), 0);

        int64_t start = t0 + c.reply_delay_us;
        size_t group = 0;  // bytes written together with byte k
        for (size_t k = 0; k < sent.size(); ++k) {
            EXPECT_EQ(sent[k].byte, msg[k]) << "byte " << k;
            EXPECT_GE(sent[k].t_us + 1, start + earliest_us(c, k, msg.size()))
                << "byte " << k << " early";
            ++group;
            bool last_of_group = k + 1 == sent.size() || sent[k + 1].t_us != sent[k].t_us;
            if (!last_of_group) continue;
            if (c.baud == 0) {
                EXPECT_EQ(group, msg.size()) << "instant: one write";
            }
            if (k + 1 < sent.size()) {
                EXPECT_EQ(group % c.burst, 0u) << "a short burst before byte " << k;
            }
            group = 0;
        }
        EXPECT_LE(sent.back().t_us, start + earliest_us(c, msg.size() - 1, msg.size()) + kLateUs);
        if (c.baud != 0 && c.scan_size > 0) {
            double gap = static_cast<double>(sent.back().t_us - sent.front().t_us) /
                         static_cast<double>(sent.size() - 1);
            EXPECT_GT(gap, 0.5 * byte_us(c.baud));
            EXPECT_LT(gap, 1.5 * byte_us(c.baud));
        }
    }
}

// A reply that falls due in the middle of a scan waits for the scan's last
// byte.
TEST_F(SimLineTest, MessagesQueueOnOneLine) {
    constexpr size_t kScan = 200;
    std::vector<uint8_t> scan(kScan, 'S');
    int64_t t0 = sim_now_us();
    sim_send_scan(sim, sim_scan(scan, SimScanTrigger::AfterDelay));
    ASSERT_TRUE(sim_wait_sent(sim, 10, kWaitMs));
    ASSERT_EQ(write(devns_slave_fd(), kCheck0.data(), kCheck0.size()),
              static_cast<ssize_t>(kCheck0.size()));
    ASSERT_TRUE(sim_wait_sent(sim, kScan + kReplySize, kWaitMs));
    std::vector<SimSentByte> sent = sim_sent(sim);
    ASSERT_EQ(sent.size(), kScan + kReplySize);
    std::string order;
    for (const SimSentByte& b : sent) order += static_cast<char>(b.byte);
    EXPECT_EQ(order, std::string(kScan, 'S') + "9990011\x06\r");
    EXPECT_GE(sent[kScan].t_us + 1, t0 + (kScan + 1) * byte_us(115200));
}

// Everything the slave holds, read until it has been quiet for 100 ms.
std::vector<uint8_t> read_slave(int fd) {
    std::vector<uint8_t> got;
    uint8_t buf[4096];
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, 100) > 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

std::vector<uint8_t> numbered(size_t size) {
    std::vector<uint8_t> msg(size);
    for (size_t i = 0; i < size; ++i) msg[i] = static_cast<uint8_t>(i % 251);
    return msg;
}

// The host flushes the port 10 bytes into a scan of 174 ms. The engine
// sends on to the end at the line's pace, and the host reads the tail
// that came after the flush; with flush_cuts the scan stops there and the
// next reply goes out at once.
TEST_F(SimLineTest, AFlushCutsAScanOnlyWhenAskedTo) {
    constexpr size_t kLong = 2000;
    const std::vector<uint8_t> msg = numbered(kLong);
    for (bool cuts : {false, true}) {
        SCOPED_TRACE(cuts ? "flush_cuts" : "default");
        sim_clear_records(sim);
        SimLine line;
        line.flush_cuts = cuts;
        sim_set_line(sim, line);
        int64_t t0 = sim_now_us();
        sim_send_scan(sim, sim_scan(msg, SimScanTrigger::AfterDelay));
        ASSERT_TRUE(sim_wait_sent(sim, 10, kWaitMs));
        ASSERT_EQ(tcflush(devns_slave_fd(), TCIOFLUSH), 0);
        size_t before_flush_end = sim_sent(sim).size();
        ASSERT_TRUE(sim_wait_output_idle(sim, kWaitMs));
        std::vector<SimSentByte> sent = sim_sent(sim);
        std::vector<uint8_t> tail = read_slave(devns_slave_fd());
        if (!cuts) {
            ASSERT_EQ(sent.size(), kLong);
            EXPECT_EQ(sim_scans_written(sim), 1);
            EXPECT_TRUE(std::none_of(sent.begin(), sent.end(),
                                     [](const SimSentByte& b) { return b.lost; }));
            // Paced from the scan's start: the flush shifted nothing.
            EXPECT_GE(sent.back().t_us + 1, t0 + kLong * byte_us(115200));
            EXPECT_LE(sent.back().t_us, t0 + kLong * byte_us(115200) + kLateUs);
            EXPECT_GE(tail.size(), kLong - before_flush_end);
            EXPECT_LE(tail.size(), kLong - 10);
            EXPECT_TRUE(std::equal(tail.begin(), tail.end(), msg.end() - tail.size()))
                << "the host's bytes are not the scan's tail";
            continue;
        }
        EXPECT_LT(sent.size(), kLong);
        EXPECT_EQ(sim_scans_written(sim), 0);
        EXPECT_LT(tail.size(), kLong - before_flush_end);
        // The next reply goes out at once, not after the dropped scan's time.
        sim_clear_records(sim);
        int64_t t1 = sim_now_us();
        ASSERT_EQ(write(devns_slave_fd(), kCheck0.data(), kCheck0.size()),
                  static_cast<ssize_t>(kCheck0.size()));
        ASSERT_TRUE(sim_wait_sent(sim, kReplySize, kWaitMs));
        EXPECT_LE(sim_sent(sim).back().t_us, t1 + kReplySize * byte_us(115200) + kLateUs);
    }
}

// While no descriptor of the slave is open the engine goes on sending at
// its pace: the pty keeps what it can, the rest is lost, nothing waits.
// Once the slave is open again the engine reads and answers as before.
TEST(SimNoSlave, KeepsSendingAndAnswersTheNextOpener) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    char name[64];
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);
    SimRunner* sim = sim_create(master);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(sim_start(sim));
    close(slave);

    // More than the pty holds: 40000 bytes in bursts of 64 at 1 Mbaud.
    constexpr unsigned kBaud = 1000000;
    constexpr size_t kSize = 40000;
    SimLine fast;
    fast.baud = kBaud;
    fast.burst = 64;
    sim_set_line(sim, fast);
    int64_t t0 = sim_now_us();
    sim_send_scan(sim, sim_scan(numbered(kSize), SimScanTrigger::AfterDelay));
    EXPECT_TRUE(sim_wait_output_idle(sim, kWaitMs));
    std::vector<SimSentByte> sent = sim_sent(sim);
    ASSERT_EQ(sent.size(), kSize);
    EXPECT_EQ(sim_scans_written(sim), 1);
    size_t lost = static_cast<size_t>(std::count_if(
        sent.begin(), sent.end(), [](const SimSentByte& b) { return b.lost; }));
    EXPECT_GT(lost, 0u);
    EXPECT_LT(lost, kSize);
    EXPECT_LE(sent.back().t_us, t0 + kSize * byte_us(kBaud) + kLateUs);

    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(tcflush(slave, TCIOFLUSH), 0);
    sim_clear_records(sim);
    ASSERT_EQ(write(slave, kCheck0.data(), kCheck0.size()),
              static_cast<ssize_t>(kCheck0.size()));
    EXPECT_TRUE(sim_wait_frames(sim, 1, kWaitMs));
    ASSERT_TRUE(sim_wait_output_idle(sim, kWaitMs));
    std::vector<uint8_t> reply = read_slave(slave);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "9990011\x06\r");
    sim_destroy(sim);
    close(slave);
}

}  // namespace
