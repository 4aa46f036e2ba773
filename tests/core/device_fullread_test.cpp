// A read that fills the whole 8192-byte scan data buffer. One read of a
// pty returns at most about 4 KiB, so such a read cannot come from the
// device itself: read() is stood in for here, and when armed, the next
// read of a terminal asking for exactly 8192 bytes returns the prepared
// bytes. Everything else goes to the real read().
#include "device_env.h"

#include <dlfcn.h>
#include <string.h>

#include <algorithm>

namespace {

bool g_armed;
std::string g_fill;

} // namespace

extern "C" ssize_t read(int fd, void *buf, size_t count)
{
    using real_fn = ssize_t (*)(int, void *, size_t);
    static real_fn real = reinterpret_cast<real_fn>(dlsym(RTLD_NEXT, "read"));
    if (g_armed && count == 8192 && isatty(fd)) {
        g_armed = false;
        size_t n = std::min(count, g_fill.size());
        memcpy(buf, g_fill.data(), n);
        return static_cast<ssize_t>(n);
    }
    return real(fd, buf, count);
}

namespace {

class DeviceFullRead : public testing::Test {
protected:
    void SetUp() override
    {
        master_ = devns_install_pty();
        ASSERT_GE(master_, 0);
        logs_reset();
    }
    void TearDown() override
    {
        g_armed = false;
        close(master_);
        devns_teardown();
    }

    // Arms the stand-in with bytes, reads the scan data, and checks that
    // exactly the first `kept` bytes came back and were logged.
    void expect_read(const std::string &bytes, size_t kept)
    {
        g_fill = bytes;
        g_armed = true;
        int fds = open_fds();
        char *data = scan_read_data();
        EXPECT_FALSE(g_armed) << "the library made no read of 8192 bytes";
        EXPECT_EQ(open_fds(), fds);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(strlen(data), kept);
        EXPECT_EQ(memcmp(data, bytes.data(), kept), 0);

        std::vector<LogLine> want = uart_lines();
        want.push_back(core_line(3, kReadSig + ", length = " + std::to_string(kept) + " "));
        add_byte_lines(&want, kReadSig, bytes.substr(0, kept));
        EXPECT_EQ(logs_taken(), want);
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

TEST_F(DeviceFullRead, ReadThatFillsTheBufferIsKeptWhole)
{
    expect_read(pattern(8192), 8192);
}

TEST_F(DeviceFullRead, ZeroByteAtTheLastPlaceEndsTheText)
{
    std::string bytes = pattern(8192);
    bytes[8191] = '\0';
    expect_read(bytes, 8191);
}

} // namespace
