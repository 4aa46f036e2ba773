// set_uart_parm on a real pseudo-terminal. The kernel's pty driver forces
// 8 data bits and no parity, so the framing bits are checked on the record
// that the library hands to tcsetattr, caught here on its way to libc.
#include "scanjni.h"
#include "logs.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::vector<struct termios> g_set;  // every record passed to tcsetattr
int g_fail_set_call = -1;           // 0-based tcsetattr call that fails
bool g_apply = true;                // false: records are taken, not applied
const struct termios *g_read;       // when set, what tcgetattr reports
int g_flushes;

} // namespace

extern "C" int tcsetattr(int fd, int action, const struct termios *tio)
{
    using real_fn = int (*)(int, int, const struct termios *);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "tcsetattr"));
    g_set.push_back(*tio);
    if (static_cast<int>(g_set.size()) - 1 == g_fail_set_call)
        return -1;
    EXPECT_EQ(action, TCSANOW);
    return g_apply ? real(fd, action, tio) : 0;
}

extern "C" int tcgetattr(int fd, struct termios *tio)
{
    using real_fn = int (*)(int, struct termios *);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "tcgetattr"));
    int r = real(fd, tio);
    if (r == 0 && g_read)
        *tio = *g_read;
    return r;
}

extern "C" int tcflush(int fd, int queue)
{
    using real_fn = int (*)(int, int);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "tcflush"));
    EXPECT_EQ(queue, TCIOFLUSH);
    g_flushes++;
    return real(fd, queue);
}

namespace {

const std::string kSig = "int set_uart_parm(int, unsigned int, int, char, int)";

class Uart : public ::testing::Test {
protected:
    void SetUp() override
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        fd_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd_, 0);
        // A device that reports every flag that must survive, and every
        // flag that must be cleared. The pty itself keeps only some of
        // them, so the library is shown this record (g_read) where a test
        // needs it.
        struct termios tio;
        ASSERT_EQ(tcgetattr(fd_, &tio), 0);
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | HUPCL | CRTSCTS;
        tio.c_oflag |= OPOST;
        tio.c_lflag |= IEXTEN | ECHOK | ECHONL;
        tio.c_iflag |= INLCR | IGNCR | ICRNL | IXON | IXOFF | INPCK;
        tio.c_oflag |= ONLCR | OCRNL | OFILL | OFDEL | NLDLY;
        tio.c_lflag |= ISIG | ICANON | ECHO | ECHOE;
        cfsetspeed(&tio, B9600);
        ASSERT_EQ(tcsetattr(fd_, TCSANOW, &tio), 0);
        before_ = tio;
        g_set.clear();
        g_fail_set_call = -1;
        g_apply = true;
        g_read = nullptr;
        g_flushes = 0;
        logs_reset();
    }
    void TearDown() override
    {
        close(fd_);
        close(master_);
    }
    // The record of the second stage, which carries the framing.
    const struct termios &final_record()
    {
        EXPECT_EQ(g_set.size(), 2u);
        return g_set.back();
    }
    int master_ = -1;
    int fd_ = -1;
    struct termios before_;
};

// Every row of the baud table reaches the record of stage one for both
// directions. The speed is also read back from the device up to 115200:
// qemu-user's termios translation drops the higher codes on the way to the
// host kernel, so there only the record can show them.
TEST_F(Uart, EveryStandardSpeedForBothDirections)
{
    const struct {
        unsigned int speed;
        speed_t code;
    } rows[] = {
        {0, B0},             {50, B50},           {75, B75},           {110, B110},
        {134, B134},         {150, B150},         {200, B200},         {300, B300},
        {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
        {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
        {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
        {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
        {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &r : rows) {
        g_set.clear();
        logs_reset();
        struct termios was;
        ASSERT_EQ(tcgetattr(fd_, &was), 0);
        ASSERT_EQ(set_uart_parm(fd_, r.speed, 8, 'N', 1), 0) << r.speed;
        ASSERT_EQ(g_set.size(), 2u);
        EXPECT_EQ(cfgetospeed(&g_set[0]), r.code) << r.speed;
        EXPECT_EQ(cfgetispeed(&g_set[0]), r.code) << r.speed;
        // Stage one changes the speed alone.
        EXPECT_EQ(g_set[0].c_lflag, was.c_lflag);
        EXPECT_EQ(g_set[0].c_oflag, was.c_oflag);
        EXPECT_EQ(g_set[0].c_cflag & ~tcflag_t(CBAUD), was.c_cflag & ~tcflag_t(CBAUD));
        if (r.speed <= 115200) {
            struct termios now;
            ASSERT_EQ(tcgetattr(fd_, &now), 0);
            EXPECT_EQ(cfgetospeed(&now), r.code) << r.speed;
        }
        EXPECT_EQ(logs_taken(), (std::vector<LogLine>{
            core_line(3, kSig + ", Standard baud\r\n"),
            core_line(3, kSig + ",nSpeed = " + std::to_string(r.speed) +
                             ",nBits = 8,nEvent = N,nStop = 1\n")}));
    }
}

TEST_F(Uart, CustomSpeedKeepsSpeedsAndStillConfigures)
{
    g_apply = false;
    ASSERT_EQ(set_uart_parm(fd_, 100000, 7, 'E', 2), 0);
    const struct termios &rec = final_record();
    EXPECT_EQ(cfgetospeed(&g_set[0]), B9600);
    EXPECT_EQ(cfgetispeed(&g_set[0]), B9600);
    EXPECT_EQ(cfgetospeed(&rec), B9600);
    EXPECT_EQ(rec.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(rec.c_cflag & CSTOPB);
    EXPECT_EQ(g_flushes, 2);
    EXPECT_EQ(logs_taken(), (std::vector<LogLine>{
        core_line(3, kSig + ", Custom baud\r\n"),
        core_line(3, kSig + ",nSpeed = 100000,nBits = 7,nEvent = E,nStop = 2\n")}));
}

// The pty driver here refuses some framings that a UART takes (6 and 7
// data bits), so these records are only taken, not applied.
TEST_F(Uart, DataBitsParityAndStopBitsInTheRecord)
{
    g_apply = false;
    const struct {
        int bits;
        tcflag_t size;
    } bits[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}, {9, CS8}, {0, CS8}, {-1, CS8}};
    for (const auto &b : bits) {
        g_set.clear();
        ASSERT_EQ(set_uart_parm(fd_, 115200, b.bits, 'N', 1), 0);
        EXPECT_EQ(final_record().c_cflag & CSIZE, b.size) << b.bits;
    }
    const struct {
        char letter;
        bool parenb, parodd, inpck;
    } parity[] = {{'E', true, false, true}, {'e', true, false, true}, {'O', true, true, true},
                  {'o', true, true, true},  {'N', false, false, false}, {'n', false, false, false},
                  {'S', false, false, false}, {'\xE9', false, false, false}};
    for (const auto &p : parity) {
        g_set.clear();
        ASSERT_EQ(set_uart_parm(fd_, 115200, 8, p.letter, 1), 0);
        const struct termios &rec = final_record();
        EXPECT_EQ((rec.c_cflag & PARENB) != 0, p.parenb) << p.letter;
        EXPECT_EQ((rec.c_cflag & PARODD) != 0, p.parodd) << p.letter;
        EXPECT_EQ((rec.c_iflag & INPCK) != 0, p.inpck) << p.letter;
    }
    const struct {
        int stop;
        bool cstopb;
    } stops[] = {{2, true}, {1, false}, {0, false}, {3, false}};
    for (const auto &s : stops) {
        g_set.clear();
        ASSERT_EQ(set_uart_parm(fd_, 115200, 8, 'N', s.stop), 0);
        EXPECT_EQ((final_record().c_cflag & CSTOPB) != 0, s.cstopb) << s.stop;
    }
}

TEST_F(Uart, ClearsRawModeFlagsAndLeavesTheRestAlone)
{
    g_read = &before_;
    g_apply = false;
    ASSERT_EQ(set_uart_parm(fd_, 115200, 8, 'N', 1), 0);
    const struct termios &rec = final_record();
    EXPECT_EQ(rec.c_lflag & (ISIG | ICANON | ECHO | ECHOE), 0u);
    EXPECT_EQ(rec.c_iflag & (INLCR | IGNCR | ICRNL | IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(rec.c_oflag & (ONLCR | OCRNL | OFILL | OFDEL | NLDLY), 0u);
    EXPECT_EQ(rec.c_cc[VTIME], 1);
    EXPECT_EQ(rec.c_cc[VMIN], 0);
    // Every other bit is as it was read.
    const tcflag_t cflag_changed = CSIZE | PARENB | PARODD | CSTOPB | CBAUD;
    EXPECT_EQ(rec.c_cflag & ~cflag_changed, before_.c_cflag & ~cflag_changed);
    EXPECT_EQ(rec.c_lflag & ~tcflag_t(ISIG | ICANON | ECHO | ECHOE),
              before_.c_lflag & ~tcflag_t(ISIG | ICANON | ECHO | ECHOE));
    EXPECT_EQ(rec.c_oflag & ~tcflag_t(ONLCR | OCRNL | OFILL | OFDEL | NLDLY),
              before_.c_oflag & ~tcflag_t(ONLCR | OCRNL | OFILL | OFDEL | NLDLY));
    EXPECT_TRUE(rec.c_cflag & CLOCAL);
    EXPECT_TRUE(rec.c_cflag & HUPCL);
    EXPECT_TRUE(rec.c_cflag & CRTSCTS);
    EXPECT_TRUE(rec.c_oflag & OPOST);
    EXPECT_TRUE(rec.c_lflag & IEXTEN);
    EXPECT_TRUE(rec.c_lflag & ECHOK);
    EXPECT_TRUE(rec.c_lflag & ECHONL);
}

TEST_F(Uart, BadDescriptorsFailWithoutLogOrFlush)
{
    EXPECT_EQ(set_uart_parm(-1, 115200, 8, 'N', 1), -1);
    char path[] = "/tmp/scanjni-uart-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    unlink(path);
    EXPECT_EQ(set_uart_parm(file, 115200, 8, 'N', 1), -1);
    close(file);
    int closed = dup(fd_);
    close(closed);
    EXPECT_EQ(set_uart_parm(closed, 115200, 8, 'N', 1), -1);
    EXPECT_EQ(g_flushes, 0);
    EXPECT_TRUE(g_set.empty());
    EXPECT_TRUE(logs_taken().empty());
}

TEST_F(Uart, FailingStagesStopAtOnce)
{
    g_fail_set_call = 0;
    EXPECT_EQ(set_uart_parm(fd_, 115200, 8, 'N', 1), -1);
    EXPECT_EQ(g_set.size(), 1u);
    EXPECT_EQ(g_flushes, 1);
    EXPECT_EQ(logs_taken(), (std::vector<LogLine>{core_line(3, kSig + ", Standard baud\r\n")}));

    g_set.clear();
    g_flushes = 0;
    g_fail_set_call = 1;
    logs_reset();
    EXPECT_EQ(set_uart_parm(fd_, 115200, 7, 'E', 1), -1);
    EXPECT_EQ(g_set.size(), 2u);
    EXPECT_EQ(g_flushes, 1);
    EXPECT_EQ(logs_taken().size(), 1u);
    // The speed of stage one stays in force; the framing never arrived.
    struct termios now;
    ASSERT_EQ(tcgetattr(fd_, &now), 0);
    EXPECT_EQ(cfgetospeed(&now), B115200);
    EXPECT_TRUE(now.c_lflag & ICANON);
}

} // namespace
