// Reads that the device itself cannot be made to give, with read() stood
// in for (the stand-in serves every read of the process, so these tests
// have a binary of their own):
//   - a read that fills the whole 8192-byte scan data buffer (one read of a
//     pty returns at most about 4 KiB);
//   - a read that fails with EIO although the port is readable;
//   - a reader that is held off the processor right after a read found
//     nothing, while the rest of the message arrives;
// and, for the held port, calls that the device may make fail: tcdrain
// interrupted by a signal, a hang-up reported as POLLHUP alone (a driver
// that adds neither POLLERR nor POLLIN), and a wake whose eventfd write
// fails.
#include "device_env.h"
#include "scansession.h"

#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <termios.h>
#include <pthread.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <atomic>

namespace {

// Armed fill: the next read of a terminal that asks for exactly 8192 bytes,
// once g_fill_at has come, returns these bytes.
std::atomic<bool> g_fill_armed;
std::string g_fill;
std::chrono::steady_clock::time_point g_fill_at;
// Every read of a terminal fails with EIO.
std::atomic<bool> g_fail_reads;
// Once a read of a terminal has brought bytes, the next one that finds
// nothing returns only after this long.
std::atomic<int> g_hold_after_empty_ms;
bool g_had_bytes;
// tcdrain fails this many times with EINTR, on any thread.
std::atomic<int> g_drain_interrupts;
// A terminal that reports POLLHUP is reported with POLLHUP alone.
std::atomic<bool> g_bare_hangup;
// Writes of eventfd counts fail with EAGAIN.
std::atomic<bool> g_fail_event_writes;
// The next open of the scanner port returns only after this long.
std::atomic<int> g_slow_open_ms;
// Only the test's own thread is stood in for: the engine reads the master
// on a thread of its own.
pthread_t g_reader;

} // namespace

extern "C" ssize_t read(int fd, void *buf, size_t count)
{
    using real_fn = ssize_t (*)(int, void *, size_t);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "read"));
    if (!isatty(fd) || !pthread_equal(pthread_self(), g_reader))
        return real(fd, buf, count);
    if (g_fail_reads) {
        errno = EIO;
        return -1;
    }
    if (g_fill_armed && count == 8192 && std::chrono::steady_clock::now() >= g_fill_at) {
        g_fill_armed = false;
        size_t n = std::min(count, g_fill.size());
        memcpy(buf, g_fill.data(), n);
        return static_cast<ssize_t>(n);
    }
    ssize_t got = real(fd, buf, count);
    int hold_ms = g_hold_after_empty_ms;
    if (got > 0) {
        g_had_bytes = true;
    } else if (got < 0 && hold_ms > 0 && g_had_bytes) {
        int saved = errno;
        g_hold_after_empty_ms = 0;
        usleep(static_cast<useconds_t>(hold_ms) * 1000);
        errno = saved;
    }
    return got;
}

// What a descriptor is open on ("/dev/pts/3", "anon_inode:[eventfd]").
std::string fd_target(int fd)
{
    char path[32], target[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    ssize_t len = readlink(path, target, sizeof target);
    return len > 0 ? std::string(target, static_cast<size_t>(len)) : std::string();
}

// Holds back an open of the scanner port when armed.
void open_slowly(const char *path)
{
    int slow_ms = g_slow_open_ms.exchange(0);
    if (slow_ms > 0 && strcmp(path, "/dev/ttyMT1") == 0)
        usleep(static_cast<useconds_t>(slow_ms) * 1000);
    else if (slow_ms > 0)
        g_slow_open_ms = slow_ms;
}

// open() as the library calls it: plain, or fortified.
extern "C" int open(const char *path, int flags, ...)
{
    using real_fn = int (*)(const char *, int, ...);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "open"));
    open_slowly(path);
    return real(path, flags);
}

extern "C" int __open_2(const char *path, int flags)
{
    using real_fn = int (*)(const char *, int);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "__open_2"));
    open_slowly(path);
    return real(path, flags);
}

extern "C" int tcdrain(int fd)
{
    using real_fn = int (*)(int);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "tcdrain"));
    int left = g_drain_interrupts;
    if (left > 0 && g_drain_interrupts.compare_exchange_strong(left, left - 1)) {
        errno = EINTR;
        return -1;
    }
    return real(fd);
}

extern "C" int ppoll(struct pollfd *fds, nfds_t n, const struct timespec *timeout,
                     const sigset_t *mask)
{
    using real_fn = int (*)(struct pollfd *, nfds_t, const struct timespec *, const sigset_t *);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "ppoll"));
    int r = real(fds, n, timeout, mask);
    for (nfds_t i = 0; r > 0 && g_bare_hangup && i < n; i++) {
        // A hung-up terminal is no tty to isatty() any more.
        if ((fds[i].revents & POLLHUP) && fd_target(fds[i].fd).compare(0, 5, "/dev/") == 0)
            fds[i].revents = POLLHUP;
    }
    return r;
}

extern "C" ssize_t write(int fd, const void *buf, size_t count)
{
    using real_fn = ssize_t (*)(int, const void *, size_t);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "write"));
    if (g_fail_event_writes && count == 8 && fd_target(fd) == "anon_inode:[eventfd]") {
        errno = EAGAIN;
        return -1;
    }
    return real(fd, buf, count);
}

namespace {

class DeviceStandIn : public testing::Test {
protected:
    void SetUp() override
    {
        master_ = devns_install_pty();
        ASSERT_GE(master_, 0);
        g_reader = pthread_self();
        logs_reset();
    }
    void TearDown() override
    {
        g_fill_armed = false;
        g_fail_reads = false;
        g_hold_after_empty_ms = 0;
        g_drain_interrupts = 0;
        g_bare_hangup = false;
        g_fail_event_writes = false;
        g_slow_open_ms = 0;
        if (master_ >= 0)
            close(master_);
        devns_teardown();
    }

    // Arms the stand-in with bytes, reads the scan data, and checks that
    // exactly the first `kept` bytes came back and were logged.
    void expect_read(const std::string &bytes, size_t kept)
    {
        // A full buffer takes 711 ms on the line: it is given only once it
        // could have arrived after the port was set up.
        g_fill = bytes;
        g_fill_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
        g_fill_armed = true;
        int fds = open_fds();
        char *data = scan_read_data();
        EXPECT_FALSE(g_fill_armed) << "the library made no read of 8192 bytes";
        EXPECT_EQ(open_fds(), fds);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(strlen(data), kept);
        EXPECT_EQ(memcmp(data, bytes.data(), kept), 0);

        std::vector<LogLine> lines = logs_taken();
        EXPECT_NEAR(drop_lines(&lines, read_miss()), 80, 2) << "the attempts before it";
        std::vector<LogLine> want = uart_lines();
        want.push_back(core_line(3, kReadSig + ", length = " + std::to_string(kept) + " "));
        add_byte_lines(&want, kReadSig, bytes.substr(0, kept));
        EXPECT_EQ(lines, want);
    }

    int master_ = -1;
};

std::string pattern(size_t n)
{
    std::string s(n, 'x');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(1 + i % 255);
    return s;
}

// A read that fills the buffer is kept whole, unless its last byte is a
// zero byte, which ends the text there.
TEST_F(DeviceStandIn, ReadThatFillsTheBufferIsKeptUpToAZeroByte)
{
    for (size_t zero_at : {size_t{8192}, size_t{8191}}) { // 8192: none
        SCOPED_TRACE(zero_at);
        std::string bytes = pattern(8192);
        if (zero_at < bytes.size())
            bytes[zero_at] = '\0';
        logs_reset();
        expect_read(bytes, zero_at);
    }
}

// A port that is readable but whose reads fail still waits out each
// attempt: the call takes its second and logs its 100 failed reads, and a
// caller that loops on it never spins.
TEST_F(DeviceStandIn, ReadsThatFailOnAReadablePortWaitOutTheirAttempts)
{
    g_fail_reads = true;
    std::thread engine([this] {
        usleep(30000); // after the port's flush
        ASSERT_EQ(write(master_, "x", 1), 1);
    });
    auto start = std::chrono::steady_clock::now();
    char *data = scan_read_data();
    long took = ms_since(start);
    engine.join();
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "");
    EXPECT_GE(took, 950);
    std::vector<LogLine> lines = logs_taken();
    EXPECT_EQ(drop_lines(&lines, read_miss()), 100);
    EXPECT_EQ(lines, uart_lines());
}

// A silent second of waiting costs the thread little processor time: each
// attempt sleeps until its deadline instead of spinning near it.
TEST_F(DeviceStandIn, SilentReadSleepsThroughItsAttempts)
{
    struct timespec before, after;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    char *data = scan_read_data();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "");
    long cpu_us = (after.tv_sec - before.tv_sec) * 1000000L + (after.tv_nsec - before.tv_nsec) / 1000;
    EXPECT_LT(cpu_us, 40000) << "processor time of a silent one-second read";
}

// The reader is held off the processor for longer than the quiet gap just
// after a read found nothing in a short pause of the scan, while the rest
// of the scan arrives: the bytes waiting on the port are not quiet, and
// the scan comes back whole.
TEST_F(DeviceStandIn, ReaderHeldBackInAPauseStillReadsTheWholeScan)
{
    SimRunner *sim = sim_create(master_);
    master_ = -1; // the engine owns it now
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(sim_start(sim));
    const std::string first(100, 'a'), second(60, 'b'); // 8.7 ms, then 5.2 ms
    const int first_ms = 30, pause_ms = 5;
    sim_send_scan(sim, sim_scan(std::vector<uint8_t>(first.begin(), first.end()),
                                SimScanTrigger::AfterDelay, first_ms));
    sim_send_scan(sim, sim_scan(std::vector<uint8_t>(second.begin(), second.end()),
                                SimScanTrigger::AfterDelay, first_ms + 9 + pause_ms));
    g_had_bytes = false;
    g_hold_after_empty_ms = 40;
    char *data = scan_read_data();
    EXPECT_EQ(g_hold_after_empty_ms, 0) << "the reader was never held back";
    EXPECT_EQ(shown(data), shown((first + second).c_str()));
    sim_destroy(sim);
}

// The held port meets what the device may do to its calls: a drain
// interrupted by a signal is drained again, a hang-up reported as POLLHUP
// alone is the port gone, and a wake keeps its caller's errno also when
// its own write fails.
TEST_F(DeviceStandIn, HeldPortCallsTheDeviceMakesFail)
{
    int error = 0;
    ScanSession *s = scan_session_open(&error);
    ASSERT_NE(s, nullptr) << error;
    g_drain_interrupts = 2;
    EXPECT_EQ(scan_session_open_dev(s, true), 3) << "an interrupted drain failed the write";
    EXPECT_EQ(g_drain_interrupts, 0);

    g_fail_event_writes = true;
    errno = 1234;
    scan_session_wake(s);
    EXPECT_EQ(errno, 1234) << "the wake changed its caller's errno";
    g_fail_event_writes = false;

    g_bare_hangup = true;
    close(master_); // the pty hangs up
    master_ = -1;
    unsigned char buf[16];
    EXPECT_EQ(scan_session_wait_scan(s, 3000, buf, sizeof buf, nullptr), SCAN_SESSION_PORT_LOST);
    scan_session_close(s);
}

// A per-call operation that found no session and is on its way to its
// port cycle's lock (its open held back) when this process opens a
// session: the open waits for the cycle, and the operation succeeds.
TEST_F(DeviceStandIn, SessionOpenWaitsForACycleOnItsWay)
{
    g_slow_open_ms = 100;
    int written = 0;
    std::thread caller([&] { written = scan_open_dev(true); });
    usleep(30000);
    int error = 0;
    ScanSession *s = scan_session_open(&error);
    caller.join();
    EXPECT_NE(s, nullptr) << error;
    EXPECT_EQ(written, 3) << "the session took the port under the operation";
    scan_session_close(s);
}

} // namespace
