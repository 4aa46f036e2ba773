// The engine on a real pty behind /dev/ttyMT1, driven by port cycles shaped
// like the library's: open, flush, two attribute writes, flush, one frame,
// then reads 10 ms apart.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "engine_fixture.h"

namespace {

struct Cycle {
    bool opened = false;
    std::vector<std::vector<uint8_t>> reads;  // successful reads, in order
    int read_errno = 0;                       // errno of the last failed read
    int end_of_file_reads = 0;                // reads that returned 0
};

// One port cycle: writes `frame` (if any) and reads every 10 ms, up to
// `attempts` times, until `stop_after` successful reads.
Cycle port_cycle(const std::string& frame, int attempts, size_t stop_after,
                 size_t read_size) {
    Cycle c;
    int fd = open(kDevnsDevice, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return c;
    c.opened = true;
    termios t;
    tcgetattr(fd, &t);
    tcflush(fd, TCIOFLUSH);
    cfsetospeed(&t, B115200);
    cfsetispeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    t.c_cc[VTIME] = 1;
    t.c_cc[VMIN] = 0;
    t.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE);
    t.c_iflag &= ~static_cast<tcflag_t>(INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~static_cast<tcflag_t>(ONLCR | OCRNL);
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
    if (!frame.empty()) {
        ssize_t n = write(fd, frame.data(), frame.size());
        EXPECT_EQ(n, static_cast<ssize_t>(frame.size()));
    }
    std::vector<uint8_t> buf(read_size);
    for (int i = 0; i < attempts && c.reads.size() < stop_after; ++i) {
        usleep(10000);
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0) {
            c.reads.emplace_back(buf.begin(), buf.begin() + n);
        } else if (n < 0) {
            c.read_errno = errno;
        } else {
            ++c.end_of_file_reads;
        }
    }
    close(fd);
    return c;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

class SimPtyTest : public EngineFixture {};

// Each message in one write. The port cycles here read every 10 ms and
// expect whole messages, which a paced message arriving at any moment can
// straddle.
void instant_line(SimRunner* sim) {
    SimLine instant;
    instant.baud = 0;
    sim_set_line(sim, instant);
}

const std::string kCheck0 = "\xFF" "M\r999001?.";

TEST_F(SimPtyTest, AnswersAQuestionWithinThePoll) {
    Cycle c = port_cycle(kCheck0, 10, 1, 16);
    ASSERT_EQ(c.reads.size(), 1u);
    EXPECT_EQ(text(c.reads[0]), "9990011\x06\r");
    ASSERT_TRUE(sim_wait_frames(sim, 1, 2000));
    EXPECT_EQ(sim_frames(sim)[0].kind, SimFrameKind::Check);
    EXPECT_EQ(text(sim_received(sim)), kCheck0);
    EXPECT_GE(sim_configures(sim), 1);
}

TEST_F(SimPtyTest, TimedFaultsDelayAndRepeatTheReply) {
    sim_push_fault(sim, sim_fault(SimFaultKind::Delay, 400));
    Cycle late = port_cycle(kCheck0, 10, 1, 16);
    EXPECT_TRUE(late.reads.empty());
    EXPECT_EQ(late.read_errno, EAGAIN);

    instant_line(sim);
    sim_push_fault(sim, sim_fault(SimFaultKind::Twice, 150));
    Cycle twice = port_cycle(kCheck0, 50, 2, 16);
    ASSERT_EQ(twice.reads.size(), 2u);
    EXPECT_EQ(text(twice.reads[0]), "9990011\x06\r");
    EXPECT_EQ(text(twice.reads[1]), "9990011\x06\r");
}

TEST_F(SimPtyTest, ScanDataArrivesAfterConfigureAndOnlyOnce) {
    // The whole scan in one write, to see the pty's read limit.
    instant_line(sim);
    std::vector<uint8_t> big(5000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
    sim_send_scan(sim, sim_scan(big, SimScanTrigger::AfterConfigure));
    Cycle c = port_cycle("", 100, 1, 8192);
    ASSERT_EQ(c.reads.size(), 1u);
    // One read of a pty returns at most 4095 bytes (fewer when the tty
    // layer of a loaded machine has not yet handed all of them on).
    ASSERT_GT(c.reads[0].size(), 0u);
    ASSERT_LE(c.reads[0].size(), 4095u);
    EXPECT_TRUE(std::equal(c.reads[0].begin(), c.reads[0].end(), big.begin()));
    EXPECT_EQ(sim_scans_written(sim), 1);

    // The next cycle flushes the rest away and gets nothing new.
    Cycle next = port_cycle("", 30, 1, 8192);
    EXPECT_TRUE(next.reads.empty());
}

TEST_F(SimPtyTest, RepeatingScanUntilCancelled) {
    instant_line(sim);
    sim_send_scan(sim, sim_scan({'A', 'B'}, SimScanTrigger::Every, 0, 20));
    ASSERT_TRUE(sim_wait_scans_written(sim, 3, 5000));
    Cycle c = port_cycle("", 100, 1, 64);
    ASSERT_EQ(c.reads.size(), 1u);
    EXPECT_EQ(text(c.reads[0]).substr(0, 2), "AB");
    sim_cancel_scans(sim);
    int written = sim_scans_written(sim);
    usleep(100000);
    EXPECT_EQ(sim_scans_written(sim), written);
}

TEST_F(SimPtyTest, HangupInTheMiddleOfThePoll) {
    sim_push_fault(sim, sim_fault(SimFaultKind::Hangup, 35));
    Cycle c = port_cycle(kCheck0, 10, 1, 16);
    EXPECT_TRUE(c.opened);
    EXPECT_TRUE(sim_hung_up(sim));
    // Reads of a hung-up terminal find the end of the file.
    EXPECT_GT(c.end_of_file_reads, 0);
    EXPECT_FALSE(port_cycle(kCheck0, 1, 1, 16).opened);
}

TEST_F(SimPtyTest, BlockedOutputKeepsFramesBack) {
    ASSERT_EQ(tcflow(devns_slave_fd(), TCOOFF), 0);
    int fd = open(kDevnsDevice, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "\xFFT\r", 3), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(tcflow(devns_slave_fd(), TCOON), 0);
    EXPECT_EQ(write(fd, "\xFFU\r", 3), 3);
    close(fd);
    ASSERT_TRUE(sim_wait_frames(sim, 1, 2000));
    std::vector<SimRecordedFrame> f = sim_frames(sim);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].kind, SimFrameKind::Close);
}

}  // namespace
