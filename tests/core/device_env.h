// Shared pieces of the device tests: the library runs for real against
// "/dev/ttyMT1" inside the private /dev namespace, with the simulated scan
// engine on the master side of a fresh pty.
//
// DeviceTest keeps the master descriptor so that a test can also write to
// the port itself (engine_write, run_script), for replies that the engine
// would never send by itself. The helpers build the log lines that every
// operation shares: the two lines of set_uart_parm, the preparation lines
// of the operations that log their frame before opening the port, and the
// failed read of a reply poll.
#ifndef SCANJNI_TESTS_DEVICE_ENV_H
#define SCANJNI_TESTS_DEVICE_ENV_H

#include "scanjni.h"
#include "line_timing.h"
#include "logs.h"

#include "devns.h"
#include "engine_fixture.h"
#include "sim_runner.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

const std::string kHeader = "\xFF" "M\r";
const std::string kUartSig = "int set_uart_parm(int, unsigned int, int, char, int)";
const std::string kCheckSig = "bool scan_type_check(int)";
const std::string kTimeoutGetSig = "char *scan_get_timeout()";
const std::string kQuerySig = "char *scan_query_data(int)";
const std::string kReadSig = "char *scan_read_data()";

inline std::string str(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

// A result as text, so that null and the empty text differ in a message.
inline std::string shown(const char *text)
{
    return text ? "\"" + std::string(text) + "\"" : "null";
}

// Entries in /proc/self/fd: a port cycle that leaks its descriptor shows.
inline int open_fds()
{
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    int n = 0;
    while (readdir(d))
        n++;
    closedir(d);
    return n;
}

inline long ms_since(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

// The two lines of a successful set_uart_parm(fd, 115200, 8, 'N', 1).
inline std::vector<LogLine> uart_lines()
{
    return {core_line(3, kUartSig + ", Standard baud\r\n"),
            core_line(3, kUartSig + ",nSpeed = 115200,nBits = 8,nEvent = N,nStop = 1\n")};
}

inline LogLine poll_miss(const std::string &sig)
{
    return core_line(6, sig + ", check type error! ret = -1");
}

inline LogLine read_miss()
{
    return core_line(6, kReadSig + ", read data error! ret = -1");
}

// Removes every copy of line; returns how many there were.
inline int drop_lines(std::vector<LogLine> *lines, const LogLine &line)
{
    int n = 0;
    for (size_t i = 0; i < lines->size();) {
        if ((*lines)[i] == line) {
            lines->erase(lines->begin() + static_cast<long>(i));
            n++;
        } else {
            i++;
        }
    }
    return n;
}

inline int count_lines(const std::vector<LogLine> &lines, const LogLine &line)
{
    int n = 0;
    for (const LogLine &l : lines)
        n += l == line;
    return n;
}

// What scan_set_timeout logs before it opens the port; text4 is the four
// value bytes as they go into the frame, zero bytes included.
inline std::vector<LogLine> timeout_prep_lines(int value, const std::string &text4)
{
    const std::string sig = "int scan_set_timeout(int)";
    std::vector<LogLine> lines = {core_line(
        3, sig + ", time = " + std::to_string(value) + ", timeArray = " + text4.c_str() + "\n")};
    add_byte_lines(&lines, sig, text4);
    add_byte_lines(&lines, sig, kHeader + "861001" + text4 + ".");
    return lines;
}

inline std::vector<LogLine> command_prep_lines(const std::string &text)
{
    const std::string sig = "int scan_set_command(const char *)";
    const std::string frame = kHeader + text + ".";
    std::vector<LogLine> lines = {
        core_line(3, sig + ", command = " + text + ", length = " + std::to_string(text.size()) + "\n"),
        core_line(3, sig + ", length = " + std::to_string(frame.size()))};
    add_byte_lines(&lines, sig, frame);
    return lines;
}

inline std::vector<LogLine> query_prep_lines(const std::string &number)
{
    const std::string frame = kHeader + number + "?.";
    std::vector<LogLine> lines = {
        core_line(3, kQuerySig + ", commandlength = " + std::to_string(number.size()) +
                         ", commandArray = " + number + "\n"),
        core_line(3, kQuerySig + ", writelength = " + std::to_string(frame.size()))};
    add_byte_lines(&lines, kQuerySig, frame);
    return lines;
}

// Byte lines logged so far under sig.
inline size_t byte_lines_logged(const std::string &sig)
{
    size_t n = 0;
    for (const LogLine &l : logs_taken())
        n += l.prio == 3 && l.text.size() == sig.size() + 5 && l.text.compare(0, sig.size(), sig) == 0 &&
             l.text.back() == ' ';
    return n;
}

// Read-type system calls the calling thread has made so far (the look
// itself makes some).
inline long read_calls()
{
    std::ifstream io("/proc/thread-self/io");
    std::string key;
    long value = -1;
    while (io >> key >> value)
        if (key == "syscr:")
            return value;
    return -1;
}

// Waits until pred() holds, for at most timeout_ms.
template <typename Pred>
bool wait_until(Pred pred, int timeout_ms)
{
    auto start = std::chrono::steady_clock::now();
    while (!pred()) {
        if (ms_since(start) > timeout_ms)
            return false;
        usleep(1000);
    }
    return true;
}

// Runs body() in a forked child and returns the text it gave back through
// a pipe (a checker such as valgrind may change a child's exit status, so
// the text is the answer); "no answer from the child" when it gave none.
template <typename Body>
std::string in_child(Body body)
{
    int report[2];
    if (pipe(report) != 0)
        return "no pipe";
    pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        std::string text = body();
        ssize_t put = write(report[1], text.data(), text.size());
        _exit(put == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(report[1]);
    std::string text;
    char buf[256];
    ssize_t got;
    while (child > 0 && (got = read(report[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(got));
    close(report[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return "no answer from the child: " + text;
    return text;
}

// Whether the simulated engine sent its bytes without a pause as long as
// the quiet gap that ends a message. A simulator held off the processor
// (a loaded machine, a sanitizer) pauses where a UART never does; the
// library then rightly sees two messages, and a test of a message longer
// than a buffer or in flight at a flush has lost its premise. Only the
// bytes from `from` on are looked at.
inline bool sim_kept_pace(SimRunner *sim, size_t from = 0)
{
    std::vector<SimSentByte> sent = sim_sent(sim);
    for (size_t i = from + 1; i < sent.size(); i++)
        if (sent[i].t_us - sent[i - 1].t_us >= int64_t{kScanQuietGapMs} * 1000)
            return false;
    return true;
}

// Runs a round, and again (three rounds at most) while it went wrong in a
// round where the simulated engine did not keep the line's pace: such a
// failure is the engine's, not the library's. round() returns what it
// found wrong ("" when right) and starts by undoing what an earlier round
// left (a session, say); the engine's records and the logs are emptied
// before each round.
template <typename Round>
std::string rounds_at_pace(SimRunner *sim, Round round)
{
    std::string wrong;
    for (int attempt = 0; attempt < 3; attempt++) {
        sim_clear_records(sim);
        logs_reset();
        wrong = round();
        if (wrong.empty() || sim_kept_pace(sim))
            return wrong;
    }
    return "the simulated engine never kept the line's pace: " + wrong;
}

// An engine whose answers the session tests know: type 3 enabled, type 4
// not, timeout 1234, setting 100002 = "115200".
inline void known_engine(SimRunner *sim)
{
    sim_with_engine(sim, [](SimEngine *e) {
        e->enabled[3] = true;
        e->enabled[4] = false;
        e->timeout = 1234;
        sim_engine_set_setting(e, "100002", "115200");
    });
}

class DeviceTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        logs_reset();
    }

    void TearDown() override
    {
        if (devns_slave_fd() >= 0)
            tcflow(devns_slave_fd(), TCOON);
        EngineFixture::TearDown();
    }

    // Writes bytes to the port from the engine's side, in one write.
    void engine_write(const std::string &bytes)
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Once the library's frame has reached the engine, writes each chunk
    // to the port, the next one only after the library has logged the
    // bytes of the previous one as read. Chunks hold no zero byte. The
    // engine itself should be silenced for the question.
    std::thread run_script(const std::string &sig, const std::vector<std::string> &chunks)
    {
        return std::thread([this, sig, chunks] {
            ASSERT_TRUE(sim_wait_frames(sim, 1, 5000));
            size_t seen = byte_lines_logged(sig);
            for (const std::string &chunk : chunks) {
                engine_write(chunk);
                seen += chunk.size();
                ASSERT_TRUE(wait_until([&] { return byte_lines_logged(sig) >= seen; }, 5000))
                    << "the library did not read the chunk";
            }
        });
    }

    // The frames the engine has received, once there are count of them.
    std::vector<SimRecordedFrame> frames(size_t count)
    {
        EXPECT_TRUE(sim_wait_frames(sim, count, 5000));
        return sim_frames(sim);
    }

};

#endif
