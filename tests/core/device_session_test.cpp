// The held-port session (scansession.h) for real on "/dev/ttyMT1", against
// the simulated engine at the line's pace: requests and answers on the one
// descriptor, refused arguments, one owner per port, the loss of the port,
// an idle wait that costs nothing, the tail of a message in flight at the
// open, wakes, and scans wherever they fall around questions and writes.
#include "session_env.h"

#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <random>

namespace {

const std::string kOpenSig = "ScanSession *scan_session_open(int *)";
const std::string kWaitSig =
    "int scan_session_wait_scan(ScanSession *, int, unsigned char *, size_t, int64_t *)";
const std::string kCheckSig2 = "int scan_session_check_type(ScanSession *, int)";
const std::string kReaderSig = "void *session_reader(void *)";

// The session's hex lines: "<sig>, <mark> 39 30 ..." with 16 bytes a line.
void add_hex_lines(std::vector<LogLine> *lines, const std::string &sig, const std::string &mark,
                   const std::string &bytes)
{
    for (size_t at = 0; at < bytes.size(); at += 16) {
        std::string text = sig + ", " + mark;
        for (size_t i = at; i < bytes.size() && i < at + 16; i++) {
            char hex[4];
            snprintf(hex, sizeof hex, " %.2X", static_cast<unsigned char>(bytes[i]));
            text += hex;
        }
        lines->push_back(core_line(3, text));
    }
}

// Letters only: no byte of a scan can be taken for an ACK, an echo or the
// end of a text.
std::string letters(size_t n, unsigned seed)
{
    std::string s(n, 'a');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>((i * 7 + seed) % 2 ? 'a' + (i + seed) % 26 : 'A' + (i * 3 + seed) % 26);
    return s;
}

class DeviceSession : public SessionTest {
protected:
    void scan_now(const std::string &bytes)
    {
        sim_send_scan(sim, sim_scan(bytes_of(bytes), SimScanTrigger::AfterDelay, 0));
    }
};

// Every write and question on the held port: the frames of the per-call
// functions, byte for byte, each result, and the log of a question.
TEST_F(DeviceSession, EveryRequestOnTheHeldPort)
{
    logs_reset();
    open();
    std::vector<LogLine> lines = logs_taken();
    ASSERT_EQ(lines.size(), 3u);
    int fd = -1;
    sscanf(lines[2].text.c_str(), "ScanSession *scan_session_open(int *), open /dev/ttyMT1 fd = %d",
           &fd);
    std::vector<LogLine> want = uart_lines();
    want.push_back(core_line(3, kOpenSig + ", open /dev/ttyMT1 fd = " + std::to_string(fd) +
                                    ", 115200 8N1"));
    EXPECT_EQ(lines, want);

    char value[16];
    struct Case {
        const char *what;
        std::function<int()> call;
        std::string frame; // empty: the frame is not looked at
        int result;
        std::string value;
    } const cases[] = {
        {"open", [&] { return scan_session_open_dev(session, true); }, "\xFF" "T\r", 3, ""},
        {"close", [&] { return scan_session_open_dev(session, false); }, "\xFF" "U\r", 3, ""},
        {"enable 3", [&] { return scan_session_enable_type(session, true, 3); },
         kHeader + "9000031.", 11, ""},
        {"disable 34", [&] { return scan_session_enable_type(session, false, 34); },
         kHeader + "9140100.", 11, ""},
        {"set timeout", [&] { return scan_session_set_timeout(session, 1200); },
         kHeader + "8610011200.", 14, ""},
        {"command", [&] { return scan_session_set_command(session, "AB"); }, kHeader + "AB.", 6, ""},
        {"profile", [&] { return scan_session_profile(session); },
         kHeader + "889003,002995C80.", 20, ""},
        {"check enabled", [&] { return scan_session_check_type(session, 3); },
         kHeader + "900003?.", 1, ""},
        {"check disabled", [&] { return scan_session_check_type(session, 4); }, "", 0, ""},
        {"timeout", [&] { return scan_session_get_timeout(session, value); },
         kHeader + "861001?.", 4, "1200"},
        {"query", [&] { return scan_session_query(session, 100002, value); },
         kHeader + "100002?.", 6, "115200"},
        {"silence", [&] {
             sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
             return scan_session_check_type(session, 3);
         }, "", SCAN_SESSION_NO_ANSWER, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim_clear_records(sim);
        value[0] = '\0';
        logs_reset();
        EXPECT_EQ(c.call(), c.result);
        if (!c.value.empty()) {
            EXPECT_STREQ(value, c.value.c_str());
        }
        if (!c.frame.empty()) {
            std::vector<SimRecordedFrame> f = frames(1);
            ASSERT_EQ(f.size(), 1u);
            EXPECT_EQ(str(f[0].bytes), c.frame);
        }
    }

    // The log of one question, whole.
    logs_reset();
    ASSERT_EQ(scan_session_check_type(session, 3), 1);
    want = {core_line(3, kCheckSig2 + ", write 11 bytes")};
    add_hex_lines(&want, kCheckSig2, ">", kHeader + "900003?.");
    want.push_back(core_line(3, kCheckSig2 + ", reply 9 bytes"));
    add_hex_lines(&want, kCheckSig2, "<", "9000031\x06\r");
    want.push_back(core_line(3, kCheckSig2 + ", answer enabled"));
    EXPECT_EQ(logs_taken(), want);

    logs_reset();
    scan_session_close(session);
    session = nullptr;
    EXPECT_EQ(logs_taken(), std::vector<LogLine>{core_line(
                                3, "void scan_session_close(ScanSession *), close fd = " +
                                       std::to_string(fd))});
}

// Input that no engine takes is refused with one error line and nothing
// sent; so is a call without an open session, and every call through the
// handle of a closed session, which reaches no session opened since: its
// close and its wake leave the new session as it is.
TEST_F(DeviceSession, RefusedCallsSendNothing)
{
    open();
    ScanSession *const old = session;
    scan_session_close(session);
    open();
    ASSERT_NE(session, old);
    sim_clear_records(sim);
    const std::string long_command(256, 'x');
    const std::string no_session = ", no open session!";
    char value[16];
    unsigned char buf[4];
    struct Case {
        std::function<int()> call;
        std::string line;
    } const cases[] = {
        {[&] { return scan_session_enable_type(session, true, -1); },
         "int scan_session_enable_type(ScanSession *, bool, int), invalid type index! type = -1"},
        {[&] { return scan_session_check_type(session, 35); },
         kCheckSig2 + ", invalid type index! type = 35"},
        {[&] { return scan_session_set_timeout(session, -1000); },
         "int scan_session_set_timeout(ScanSession *, int), timeout out of range -999..9999! time = -1000"},
        {[&] { return scan_session_set_timeout(session, 10000); },
         "int scan_session_set_timeout(ScanSession *, int), timeout out of range -999..9999! time = 10000"},
        {[&] { return scan_session_set_command(session, nullptr); },
         "int scan_session_set_command(ScanSession *, const char *), command is null!"},
        {[&] { return scan_session_set_command(session, long_command.c_str()); },
         "int scan_session_set_command(ScanSession *, const char *), command longer than 255 bytes! length = 256"},
        {[&] { return scan_session_query(session, 1, nullptr); },
         "int scan_session_query(ScanSession *, int, char *), no buffer!"},
        {[&] { return scan_session_wait_scan(session, 0, nullptr, 1, nullptr); },
         kWaitSig + ", no buffer!"},
        {[&] { return scan_session_get_timeout(nullptr, value); },
         "int scan_session_get_timeout(ScanSession *, char *)" + no_session},
        {[&] { return scan_session_wait_scan(nullptr, 0, buf, sizeof buf, nullptr); },
         kWaitSig + no_session},
        // The closed session's handle.
        {[&] { return scan_session_open_dev(old, true); },
         "int scan_session_open_dev(ScanSession *, bool)" + no_session},
        {[&] { return scan_session_enable_type(old, true, 3); },
         "int scan_session_enable_type(ScanSession *, bool, int)" + no_session},
        {[&] { return scan_session_set_timeout(old, 5); },
         "int scan_session_set_timeout(ScanSession *, int)" + no_session},
        {[&] { return scan_session_set_command(old, "A"); },
         "int scan_session_set_command(ScanSession *, const char *)" + no_session},
        {[&] { return scan_session_profile(old); }, "int scan_session_profile(ScanSession *)" + no_session},
        {[&] { return scan_session_check_type(old, 3); }, kCheckSig2 + no_session},
        {[&] { return scan_session_get_timeout(old, value); },
         "int scan_session_get_timeout(ScanSession *, char *)" + no_session},
        {[&] { return scan_session_query(old, 100002, value); },
         "int scan_session_query(ScanSession *, int, char *)" + no_session},
        {[&] { return scan_session_wait_scan(old, 0, buf, sizeof buf, nullptr); }, kWaitSig + no_session},
        {[&] { scan_session_close(old); return SCAN_SESSION_INVALID; },
         "void scan_session_close(ScanSession *)" + no_session},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        logs_reset();
        EXPECT_EQ(c.call(), SCAN_SESSION_INVALID);
        EXPECT_EQ(logs_taken(), std::vector<LogLine>{core_line(6, c.line)});
    }
    scan_session_wake(old);
    unsigned char scan[8];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_session_wait_scan(session, 150, scan, sizeof scan, nullptr), 0);
    EXPECT_GE(ms_since(start), 140) << "the old handle's wake ended the new session's wait";
    EXPECT_EQ(sim_received(sim).size(), 0u) << "a refused call sent a frame";
    EXPECT_EQ(scan_session_check_type(session, 3), 1) << "the new session was closed";
    sim_clear_records(sim);
    EXPECT_EQ(scan_session_open_dev(session, true), 3);
    ASSERT_TRUE(sim_wait_frames(sim, 1, 3000));
    EXPECT_EQ(str(sim_received(sim)), "\xFF" "T\r") << "only the last frame went out";
}

// One owner: a second session in this process or in another one is
// refused without touching the line, the per-call functions of this
// process run on the session, and the close gives the port back with every
// descriptor closed.
TEST_F(DeviceSession, OneOwnerPerPort)
{
    int fds = open_fds();
    Child other([](int out, int in) {
        // A process of its own: its session state is free, so only the
        // lock on the port can refuse it. It answers through the pipe (a
        // checker such as valgrind may change its exit status).
        int error = 0;
        int before = open_fds();
        if (hear(in) == 'g' && scan_session_open(&error) != nullptr)
            error = 1;
        say(out, std::to_string(error) + " " + std::to_string(open_fds() - before));
        return 0;
    });
    open();
    other.tell('g');
    EXPECT_EQ(other.line(), std::to_string(SCAN_SESSION_BUSY) + " 0")
        << "the other process was not refused (its error first), or its refused open left "
           "descriptors open (their number second)";
    other.end();

    logs_reset();
    int error = 0;
    EXPECT_EQ(scan_session_open(&error), nullptr);
    EXPECT_EQ(error, SCAN_SESSION_BUSY);
    EXPECT_EQ(logs_taken(), std::vector<LogLine>{core_line(6, kOpenSig + ", port busy! errno = 16")});

    EXPECT_TRUE(scan_type_check(3)) << "a per-call question on the held port";
    EXPECT_EQ(scan_session_check_type(session, 4), 0);

    scan_session_close(session);
    session = nullptr;
    EXPECT_EQ(open_fds(), fds);
    open();
    EXPECT_EQ(scan_session_check_type(session, 3), 1);
}

// A port that cannot be held: the reason, and no descriptor left open.
TEST_F(DeviceSession, PortThatCannotBeHeld)
{
    struct Case {
        DevnsShape shape;
        std::string line;
    } const cases[] = {
        {DevnsShape::Absent, kOpenSig + ", open device fail! errno = 2"},
        {DevnsShape::Directory, kOpenSig + ", open device fail! errno = 21"},
        {DevnsShape::Regular, kOpenSig + ", set uart parm fail! errno = 25"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(devns_set_shape(c.shape));
        int fds = open_fds();
        logs_reset();
        int error = 0;
        EXPECT_EQ(scan_session_open(&error), nullptr);
        EXPECT_EQ(error, SCAN_SESSION_NO_PORT);
        EXPECT_EQ(logs_taken(), std::vector<LogLine>{core_line(6, c.line)});
        EXPECT_EQ(open_fds(), fds);
    }
}

// A hang-up during a wait or a question ends the call at once; every
// later call reports the loss at once too, and it is logged once.
TEST_F(DeviceSession, HangUpDuringAWaitOrAQuestion)
{
    for (bool in_question : {false, true}) {
        SCOPED_TRACE(in_question ? "during a question" : "during a wait");
        open();
        std::thread engine([this, in_question] {
            if (in_question) {
                sim_push_fault(sim, sim_fault(SimFaultKind::Hangup, 30));
                return;
            }
            usleep(50000);
            sim_destroy(sim); // closes the master: the pty hangs up
        });
        if (in_question)
            engine.join();
        logs_reset();
        auto start = std::chrono::steady_clock::now();
        if (in_question)
            EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_PORT_LOST);
        else
            EXPECT_EQ(wait(5000).result, SCAN_SESSION_PORT_LOST);
        EXPECT_LT(ms_since(start), 1000);
        if (!in_question) {
            engine.join();
            sim = nullptr;
        }
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(wait(1000).result, SCAN_SESSION_PORT_LOST);
        EXPECT_EQ(scan_session_open_dev(session, true), SCAN_SESSION_PORT_LOST);
        EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_PORT_LOST);
        EXPECT_LT(ms_since(start), 100) << "a lost port is reported at once";
        std::vector<LogLine> lines = logs_taken();
        // Logged once, by the session's reader, which saw it.
        EXPECT_EQ(count_lines(lines, core_line(6, kReaderSig + ", port hung up")), 1);
        EXPECT_EQ(lines.back(), core_line(6, kReaderSig + ", port hung up"));
        scan_session_close(session);
        session = nullptr;
        // A fresh pty and engine for the next case.
        ASSERT_NO_FATAL_FAILURE(install_engine());
    }
}

// A hang-up while a question waits for a message to end fails the
// question then, not when its longest wait for the reader is over.
TEST_F(DeviceSession, HangUpWhileAQuestionWaitsForAMessage)
{
    open();
    scan_now(letters(8000, 5));
    ASSERT_TRUE(sim_wait_sent(sim, 200, 3000));
    std::atomic<long> returned_ms{-1};
    auto start = std::chrono::steady_clock::now();
    std::thread asker([&] {
        EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_PORT_LOST);
        returned_ms = ms_since(start);
    });
    usleep(50000);
    long hung_up_ms = ms_since(start);
    sim_destroy(sim); // the pty hangs up
    sim = nullptr;
    asker.join();
    EXPECT_LT(returned_ms - hung_up_ms, 2000) << "the question outlived the port";
}

// The close wakes a wait in progress and returns only once every call
// under way has left: the wait, woken, takes its wake's count before it
// leaves, never from a pipe that took the closed descriptors' numbers.
TEST_F(DeviceSession, CloseWakesAndWaitsForCallsUnderWay)
{
    for (int round = 0; round < 10; round++) {
        SCOPED_TRACE(round);
        open();
        std::atomic<bool> waiting{false};
        std::thread waiter([&] {
            unsigned char buf[16];
            waiting = true;
            EXPECT_EQ(scan_session_wait_scan(session, 5000, buf, sizeof buf, nullptr), 0);
        });
        while (!waiting)
            usleep(1000);
        usleep(10000);
        auto start = std::chrono::steady_clock::now();
        scan_session_close(session);
        session = nullptr;
        int fds[2][2];
        ASSERT_EQ(pipe(fds[0]), 0);
        ASSERT_EQ(pipe(fds[1]), 0);
        for (auto &p : fds)
            ASSERT_EQ(write(p[1], "12345678", 8), 8);
        waiter.join();
        EXPECT_LT(ms_since(start), 2500) << "the close did not wake the wait";
        for (auto &p : fds) {
            int waiting_bytes = -1;
            EXPECT_EQ(ioctl(p[0], FIONREAD, &waiting_bytes), 0);
            EXPECT_EQ(waiting_bytes, 8) << "a call read a closed descriptor's number";
            close(p[0]);
            close(p[1]);
        }
        if (HasFailure())
            break;
    }
}

// While the line is idle a wait makes no read and logs nothing.
TEST_F(DeviceSession, IdleWaitReadsAndLogsNothing)
{
    open();
    logs_reset();
    long own = read_calls(); // what a look at the count costs itself
    own = read_calls() - own;
    long reads = read_calls();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(300).result, 0);
    EXPECT_GE(ms_since(start), 290);
    // Under valgrind its scheduler reads a pipe of its own on the thread's
    // behalf whenever the thread blocks.
    const char *preload = getenv("LD_PRELOAD");
    if (preload == nullptr || strstr(preload, "vgpreload") == nullptr) {
        EXPECT_EQ(read_calls() - reads - own, 0);
    }
    EXPECT_EQ(logs_taken(), std::vector<LogLine>{});
}

// The session drops the rest of a message that was already on the line at
// its open, logs it once, and the next scan comes back whole.
TEST_F(DeviceSession, OpenDropsAMessageInFlight)
{
    const std::string first = letters(2000, 1);
    const std::string next = letters(1000, 2); // 87 ms on the line
    EXPECT_EQ(rounds_at_pace(sim, [&]() -> std::string {
                  scan_session_close(session);
                  session = nullptr;
                  scan_now(first);
                  if (!sim_wait_sent(sim, 300, 3000))
                      return "the scan never began";
                  open();
                  if (!session || !sim_wait_output_idle(sim, 3000))
                      return "no session, or the scan never ended";
                  if (wait(50).result != 0)
                      return "the tail came as a scan";
                  std::vector<LogLine> lines = logs_taken();
                  unsigned dropped = 0;
                  size_t at = 0;
                  for (size_t i = 0; i < lines.size(); i++)
                      if (sscanf(lines[i].text.c_str(),
                                 "void *session_reader(void *), dropped %u bytes", &dropped) == 1)
                          at = i + 1;
                  if (dropped == 0 || dropped > 1700)
                      return "dropped " + std::to_string(dropped);
                  // The tail's bytes, each once, after its count.
                  std::vector<LogLine> want;
                  add_hex_lines(&want, kReaderSig, "<", first.substr(first.size() - dropped));
                  if (lines.size() < at + want.size() ||
                      !std::equal(want.begin(), want.end(), lines.begin() + static_cast<long>(at)))
                      return "the tail's bytes are not logged once after its count";
                  return "";
              }),
              "");

    sim_clear_records(sim);
    scan_now(next);
    Waited w = wait(1000);
    EXPECT_EQ(w.bytes, next);
    std::vector<SimSentByte> sent = sim_sent(sim);
    ASSERT_FALSE(sent.empty());
    EXPECT_GE(w.first_us, sent.front().t_us) << "the time of the scan's first byte";
    EXPECT_LT(w.first_us, sent.front().t_us + 40000);
}

// A tail that shows itself only after the open has stopped looking (a
// tty layer that delivers late: 1000 bytes at once, some 25 ms after the
// flush, when they need 87 ms on the line) is dropped by the wait that
// sees it.
TEST_F(DeviceSession, TailSeenAfterTheOpenIsDroppedByTheWait)
{
    SimLine whole;
    whole.baud = 0;
    sim_set_line(sim, whole);
    open();
    sim_send_scan(sim, sim_scan(bytes_of(letters(1000, 3)), SimScanTrigger::AfterDelay, 15));
    logs_reset();
    EXPECT_EQ(wait(300).result, 0) << "the tail came as a scan";
    EXPECT_EQ(count_lines(logs_taken(), core_line(3, kReaderSig + ", dropped 1000 bytes: tail of an "
                                                                 "earlier message")),
              1);
    const std::string next = letters(20, 4);
    scan_now(next);
    EXPECT_EQ(wait(1000).bytes, next);
}

// A wake ends a wait at once: an idle one, one in the middle of a message
// (which the next wait reads on, whole), and the next wait when none is
// under way. After the close a wake writes nothing anywhere.
TEST_F(DeviceSession, WakeEndsAWait)
{
    open();
    const std::string scan = letters(2000, 3);
    for (bool in_message : {false, true}) {
        SCOPED_TRACE(in_message ? "during a message" : "idle");
        if (in_message)
            scan_now(scan);
        std::atomic<long> woken_ms{-1};
        auto start = std::chrono::steady_clock::now();
        std::thread waker([&] {
            if (in_message)
                ASSERT_TRUE(sim_wait_sent(sim, 500, 3000));
            else
                usleep(50000);
            woken_ms = ms_since(start);
            scan_session_wake(session);
        });
        Waited w = wait(5000);
        long took = ms_since(start);
        waker.join();
        EXPECT_EQ(w.result, 0);
        EXPECT_LT(took - woken_ms, 100) << "woken " << woken_ms << " ms in, returned at " << took;
        if (in_message) {
            EXPECT_EQ(wait(3000).bytes, scan) << "the message is read on after the wake";
        }
    }
    scan_session_wake(session);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(2000).result, 0);
    EXPECT_LT(ms_since(start), 100) << "a wake before the wait ends it at once";
    EXPECT_EQ(wait(100).result, 0);
    EXPECT_GE(ms_since(start), 90) << "and only that one";

    scan_session_close(session);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0); // takes the numbers the session had
    scan_session_wake(session);
    int waiting = -1;
    EXPECT_EQ(ioctl(pipe_fds[0], FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 0);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    session = nullptr;
}

// Wakes from another thread while sessions open and close: none of them
// writes to the descriptor numbers that a close gave back, which a pipe
// takes at once.
TEST_F(DeviceSession, WakesFromAnotherThreadAcrossCloses)
{
    open();
    ScanSession *const s = session;
    std::atomic<bool> stop{false};
    std::thread waker([s, &stop] {
        while (!stop) {
            scan_session_wake(s);
            sched_yield();
        }
    });
    int stray = 0;
    for (int i = 0; i < 50; i++) {
        scan_session_close(session);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        usleep(200);
        int waiting = -1;
        EXPECT_EQ(ioctl(fds[0], FIONREAD, &waiting), 0);
        stray += waiting != 0;
        close(fds[0]);
        close(fds[1]);
        open();
    }
    stop = true;
    waker.join();
    EXPECT_EQ(stray, 0);
}

class SessionLineRate : public DeviceSession {};

class SessionLineRateBursts : public WithBursts<SessionLineRate> {};
INSTANTIATE_TEST_SUITE_P(Bursts, SessionLineRateBursts, testing::Values(1, 16, 64));

// A scan just before a question, in its exchange ahead of the reply, and
// right behind the reply: each answer right, each scan once and whole.
TEST_P(SessionLineRateBursts, ScanAroundAQuestion)
{
    open();
    char value[16];
    struct Question {
        const char *what;
        std::function<int()> ask;
        std::string reply;
        int result;
        std::string value;
    } const questions[] = {
        {"check", [&] { return scan_session_check_type(session, 3); }, "9000031\x06\r", 1, ""},
        {"timeout", [&] { return scan_session_get_timeout(session, value); },
         "8610011234\x06\r", 4, "1234"},
        {"query", [&] { return scan_session_query(session, 100002, value); },
         "100002115200\x06\r", 6, "115200"},
    };
    enum Where { Before, Ahead, Behind };
    unsigned seed = 0;
    for (const Question &q : questions) {
        for (Where where : {Before, Ahead, Behind}) {
            SCOPED_TRACE(std::string(q.what) + (where == Before  ? ", scan before"
                                                : where == Ahead ? ", scan ahead of the reply"
                                                                 : ", scan behind the reply"));
            const std::string scan = letters(40, seed++);
            if (where == Before) {
                scan_now(scan);
                ASSERT_TRUE(sim_wait_sent(sim, 2, 3000));
            } else {
                // On the line as one message: the engine sends the one
                // right behind the other.
                std::string line = where == Ahead ? scan + q.reply : q.reply + scan;
                sim_push_fault(sim, sim_fault_bytes(SimFaultKind::RawReply, bytes_of(line)));
            }
            value[0] = '\0';
            logs_reset();
            EXPECT_EQ(q.ask(), q.result);
            EXPECT_STREQ(value, q.value.c_str());
            EXPECT_EQ(wait(1000).bytes, scan);
            EXPECT_EQ(wait(0).result, 0) << "the scan came once";
            ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
            sim_clear_records(sim);
        }
    }

    // Two scans while a question goes unanswered stay two.
    const std::string first = letters(40, seed++);
    const std::string second = letters(40, seed++);
    sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
    scan_now(first);
    sim_send_scan(sim, sim_scan(bytes_of(second), SimScanTrigger::AfterDelay, 50));
    EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_NO_ANSWER);
    EXPECT_EQ(wait(1000).bytes, first);
    EXPECT_EQ(wait(1000).bytes, second);
}

// The engine's refusal of a question (a setting it does not know) and a
// reply that comes after the question's budget are its answers, never
// scans: the question answers "no answer" and the next wait has nothing.
TEST_P(SessionLineRateBursts, RefusalsAndLateRepliesAreNoScans)
{
    open();
    char value[16];
    EXPECT_EQ(scan_session_query(session, 100099, value), SCAN_SESSION_NO_ANSWER);
    EXPECT_EQ(wait(200).result, 0) << "the refusal came as a scan";
    // Replies late by a little and by most of a second.
    for (int late_ms : {150, 700}) {
        SCOPED_TRACE(late_ms);
        sim_push_fault(sim, sim_fault(SimFaultKind::Delay, late_ms));
        EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_NO_ANSWER);
        // The scan follows the late reply; the wait that reads the reply
        // waits on for it.
        const std::string scan = letters(20, 7);
        sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::AfterDelay, late_ms));
        EXPECT_EQ(wait(2000).bytes, scan) << "the late reply came as a scan";
        EXPECT_EQ(wait(0).result, 0);
    }
}

// A question's budget holds while a message streams in: a scan that
// begins at once after the question (here: instead of its answer, 5000
// bytes, some 0.43 s on the line) does not hold off its "no answer", and
// still comes whole.
TEST_F(SessionLineRate, BudgetHoldsWhileAMessageStreams)
{
    open();
    const std::string scan = letters(5000, 11);
    sim_push_fault(sim, sim_fault_bytes(SimFaultKind::RawReply, bytes_of(scan)));
    EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_NO_ANSWER);
    size_t sent_by_then = sim_sent(sim).size();
    EXPECT_LT(sent_by_then, scan.size()) << "the question ended with the message";
    // One message; a starved engine thread may pause the line past the
    // quiet gap, but never where the question ended.
    Waited w = wait(3000);
    EXPECT_GT(w.bytes.size(), sent_by_then) << "the message was cut where the question ended";
    std::string got = w.bytes;
    for (Waited more = w; more.result > 0 && got.size() < scan.size(); got += more.bytes)
        more = wait(1000);
    EXPECT_TRUE(got == scan) << got.size() << " bytes came otherwise than the " << scan.size()
                             << " sent";
}

// A question asked again after one of its kind went unanswered is never
// handed the earlier one's late answer: the timeout asked, answered 250 ms
// late, set anew and asked again gives the new value (or fails), never
// the old one, whenever the second answer comes; also when the first
// answer never comes.
TEST_F(SessionLineRate, LateAnswerIsNeverTheNextQuestions)
{
    open();
    struct Case {
        const char *what;
        SimFault first;  // the first question's answer
        SimFault second; // the second question's
    } const cases[] = {
        {"second answered at once", sim_fault(SimFaultKind::Delay, 250), SimFault()},
        {"second answered after the late one", sim_fault(SimFaultKind::Delay, 250),
         sim_fault(SimFaultKind::Delay, 60)},
        {"first never answered", sim_fault(SimFaultKind::Silence), SimFault()},
    };
    int timeout = 1000;
    for (const Case &c : cases) {
        for (int round = 0; round < (c.first.kind == SimFaultKind::Silence ? 1 : 3); round++) {
            SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
            ASSERT_EQ(scan_session_set_timeout(session, timeout), 14);
            char value[5] = "";
            sim_push_fault(sim, c.first);
            EXPECT_EQ(scan_session_get_timeout(session, value), SCAN_SESSION_NO_ANSWER);
            timeout += 111;
            ASSERT_EQ(scan_session_set_timeout(session, timeout), 14);
            sim_push_fault(sim, c.second);
            int r = scan_session_get_timeout(session, value);
            if (r == 4) {
                EXPECT_EQ(atoi(value), timeout) << "an earlier question's answer";
            } else {
                EXPECT_EQ(r, SCAN_SESSION_NO_ANSWER);
            }
            EXPECT_EQ(wait(300).result, 0) << "a late answer came as a scan";
        }
    }
}

// A message ends at the buffer's size: a scan of 8192 bytes comes whole,
// a longer one as 8192 bytes and then the rest (sent whole here, so that
// the reads take as much as a pty gives).
TEST_F(SessionLineRate, MessagesEndAtTheBuffersSize)
{
    SimLine whole;
    whole.baud = 0;
    sim_set_line(sim, whole);
    open();
    // Written whole, the first message must come late enough after the
    // open's flush that its first 4095 bytes could have crossed the line,
    // or the open's tail rule takes it for the rest of an earlier one.
    usleep(400000);
    for (size_t size : {size_t{SCAN_SESSION_MAX_SCAN}, size_t{9000}}) {
        SCOPED_TRACE(size);
        const std::string scan = letters(size, 5);
        scan_now(scan);
        EXPECT_EQ(wait(1000).bytes, scan.substr(0, SCAN_SESSION_MAX_SCAN));
        if (size > SCAN_SESSION_MAX_SCAN) {
            EXPECT_EQ(wait(1000).bytes, scan.substr(SCAN_SESSION_MAX_SCAN));
        }
        EXPECT_EQ(wait(100).result, 0);
    }
}

// A thread with a large timer slack (40 ms) gets its answers within a few
// milliseconds of the reply, and its own slack back after each call.
TEST_F(SessionLineRate, LargeTimerSlackDoesNotStretchTheWaits)
{
    const unsigned long kSlackNs = 40000000;
    open();
    unsigned long had = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kSlackNs, 0, 0, 0), 0);
    std::vector<long> took;
    for (int i = 0; i < 5; i++) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(scan_session_check_type(session, 3), 1);
        took.push_back(ms_since(start));
        EXPECT_EQ(static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)), kSlackNs);
    }
    prctl(PR_SET_TIMERSLACK, had, 0, 0, 0);
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[2], 20) << "median time of a question answered at once, in ms";
}

// Scans at random moments while questions and writes go through the
// session: every scan comes once, whole and in order, and every answer is
// right.
TEST_P(SessionLineRateBursts, ScansAtRandomMomentsAroundRequests)
{
    const int kScans = 30;
    std::mt19937 rng(20240611);
    std::vector<std::string> sent;
    for (int i = 0; i < kScans; i++)
        sent.push_back(letters(std::uniform_int_distribution<size_t>(5, 300)(rng), i));
    std::atomic<bool> scanning{true};
    open();
    std::thread trigger([&] {
        std::mt19937 pause_rng(7);
        for (int i = 0; i < kScans; i++) {
            // Trigger presses at least 60 ms apart: two scans never merge.
            usleep(std::uniform_int_distribution<unsigned>(60000, 150000)(pause_rng));
            scan_now(sent[static_cast<size_t>(i)]);
            if (!sim_wait_scans_written(sim, i + 1, 5000)) {
                ADD_FAILURE() << "scan " << i << " was not sent";
                break;
            }
        }
        scanning = false;
    });

    std::vector<std::string> got;
    int timeout = 1234;
    bool enabled5 = false;
    char value[16];
    int requests = 0;
    auto take = [&](const Waited &w) {
        ASSERT_GE(w.result, 0);
        if (w.result > 0)
            got.push_back(w.bytes);
    };
    // As a port thread does: a wait for scan data, ended by its time,
    // then a request.
    while (scanning) {
        SCOPED_TRACE("request " + std::to_string(requests));
        take(wait(std::uniform_int_distribution<int>(0, 40)(rng)));
        switch (std::uniform_int_distribution<int>(0, 6)(rng)) {
        case 0:
            EXPECT_EQ(scan_session_check_type(session, 3), 1);
            EXPECT_EQ(scan_session_check_type(session, 4), 0);
            break;
        case 1:
            EXPECT_EQ(scan_session_get_timeout(session, value), 4);
            EXPECT_EQ(atoi(value), timeout);
            break;
        case 2:
            timeout = std::uniform_int_distribution<int>(0, 9999)(rng);
            EXPECT_EQ(scan_session_set_timeout(session, timeout), 14);
            break;
        case 3:
            EXPECT_EQ(scan_session_query(session, 100002, value), 6);
            EXPECT_STREQ(value, "115200");
            break;
        case 4:
            enabled5 = !enabled5;
            EXPECT_EQ(scan_session_enable_type(session, enabled5, 5), 11);
            EXPECT_EQ(scan_session_check_type(session, 5), enabled5 ? 1 : 0);
            break;
        case 5:
            sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
            EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_NO_ANSWER);
            break;
        default:
            EXPECT_EQ(scan_session_set_command(session, "X"), 5);
            EXPECT_EQ(scan_session_open_dev(session, true), 3);
            break;
        }
        requests++;
    }
    trigger.join();
    for (Waited w = wait(300); w.result != 0; w = wait(300))
        take(w);
    EXPECT_GT(requests, 20);
    EXPECT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < got.size() && i < sent.size(); i++) {
        if (got[i] != sent[i]) {
            ADD_FAILURE() << "scan " << i << ": " << got[i].size() << " bytes came, "
                          << sent[i].size() << " were sent";
            break;
        }
    }
}

} // namespace
