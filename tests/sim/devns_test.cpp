// The harness: what opening /dev/ttyMT1 does for each shape of the device,
// and running a program inside the namespace.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "devns.h"
#include "sim_runner.h"

namespace {

constexpr int kPortFlags = O_RDWR | O_NOCTTY | O_NONBLOCK;

// errno of open(), 0 when it succeeds; *tty_errno gets that of tcgetattr.
int open_errno(int* tty_errno) {
    *tty_errno = -1;
    int fd = open(kDevnsDevice, kPortFlags);
    if (fd < 0) return errno;
    termios t;
    *tty_errno = tcgetattr(fd, &t) == 0 ? 0 : errno;
    close(fd);
    return 0;
}

class DevnsTest : public testing::Test {
  protected:
    void TearDown() override { devns_teardown(); }
};

TEST_F(DevnsTest, DeviceShapesGiveTheirOpenErrors) {
    int tty = 0;
    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    EXPECT_EQ(open_errno(&tty), ENOENT);

    ASSERT_TRUE(devns_set_shape(DevnsShape::Regular));
    EXPECT_EQ(open_errno(&tty), 0);
    EXPECT_EQ(tty, ENOTTY);

    ASSERT_TRUE(devns_set_shape(DevnsShape::Directory));
    EXPECT_EQ(open_errno(&tty), EISDIR);

    ASSERT_TRUE(devns_set_shape(DevnsShape::Fifo));
    EXPECT_EQ(open_errno(&tty), 0);
    EXPECT_EQ(tty, ENOTTY);

    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    EXPECT_EQ(open_errno(&tty), 0);
    EXPECT_EQ(tty, 0);
    EXPECT_EQ(devns_shape(), DevnsShape::Pty);

    // A second pty replaces the first; the old master then has no slave.
    int master2 = devns_install_pty();
    ASSERT_GE(master2, 0);
    char c;
    EXPECT_EQ(read(master, &c, 1), -1);
    EXPECT_EQ(errno, EIO);
    close(master);
    close(master2);
}

TEST_F(DevnsTest, PtyCarriesBytesBothWaysAndSurvivesCloses) {
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    for (int round = 0; round < 3; ++round) {
        int fd = open(kDevnsDevice, kPortFlags);
        ASSERT_GE(fd, 0);
        termios t;
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
        ASSERT_EQ(write(fd, "\xFFT\r", 3), 3);
        unsigned char buf[8] = {};
        ASSERT_EQ(read(master, buf, sizeof buf), 3);
        EXPECT_EQ(buf[0], 0xFF);
        ASSERT_EQ(write(master, "ok", 2), 2);
        usleep(20000);
        EXPECT_EQ(read(fd, buf, sizeof buf), 2);
        close(fd);
    }
    close(master);
}

TEST_F(DevnsTest, NamespaceIsPrivateAndHasDeviceNodes) {
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    // Process 1 lives in the machine's own mount namespace.
    struct stat st;
    EXPECT_NE(stat("/proc/1/root/dev/ttyMT1", &st), 0);
    for (const char* node : {"/dev/null", "/dev/zero", "/dev/random", "/dev/urandom"}) {
        ASSERT_EQ(stat(node, &st), 0) << node;
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << node;
    }
    int fd = open("/dev/ptmx", O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    close(fd);
    close(master);
}

TEST_F(DevnsTest, RunsAProgramThatSeesTheDevice) {
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    SimRunner* sim = sim_create(master);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(sim_start(sim));
    DevnsRun run = devns_run(
        {"sh", "-c", "stty raw -echo < /dev/ttyMT1 && printf '\\377T\\r' > /dev/ttyMT1 && echo sent"},
        10000);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "sent\n");
    ASSERT_TRUE(sim_wait_frames(sim, 1, 5000));
    std::vector<SimRecordedFrame> frames = sim_frames(sim);
    EXPECT_EQ(frames[0].kind, SimFrameKind::Open);
    bool open = false;
    sim_with_engine(sim, [&open](SimEngine* e) { open = e->open; });
    EXPECT_TRUE(open);
    sim_destroy(sim);

    EXPECT_EQ(devns_run({"sh", "-c", "exit 3"}, 10000).status, 3);
    EXPECT_EQ(devns_run({"/nonexistent/program"}, 10000).status, 127);
    EXPECT_EQ(devns_run({"sleep", "10"}, 200).status, -2);
}

}  // namespace
