// One owner of the line, for real on "/dev/ttyMT1" against the simulated
// engine at the line's pace: the per-call functions never touch a line
// that a session holds (refused at once for another process, run on the
// session in this process), overlapping port cycles take turns, and the
// session's reader ends every message while the caller is away.
#include "session_env.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <functional>

namespace {

// Each per-call operation, its result as text, and its failure result.
struct PerCall {
    const char *sig;
    std::function<std::string()> call;
    std::string failed;
};

std::string num(int n)
{
    return std::to_string(n);
}

const PerCall kPerCalls[] = {
    {"int scan_open_dev(bool)", [] { return num(scan_open_dev(true)); }, "-1"},
    {"int scan_enable_type(bool, int)", [] { return num(scan_enable_type(true, 4)); }, "-1"},
    {"int scan_set_timeout(int)", [] { return num(scan_set_timeout(1234)); }, "0"},
    {"int scan_set_command(const char *)", [] { return num(scan_set_command("PING")); }, "0"},
    {"int profile_scan_type()", [] { return num(profile_scan_type()); }, "-1"},
    {"bool scan_type_check(int)", [] { return num(scan_type_check(3)); }, "0"},
    {"char *scan_get_timeout()", [] { return shown(scan_get_timeout()); }, "null"},
    {"char *scan_query_data(int)", [] { return shown(scan_query_data(100002)); }, "null"},
    {"char *scan_read_data()", [] { return shown(scan_read_data()); }, "null"},
};

class DeviceOwner : public SessionTest {};

class DeviceOwnerBursts : public WithBursts<DeviceOwner> {};
INSTANTIATE_TEST_SUITE_P(Bursts, DeviceOwnerBursts, testing::Values(1, 16, 64));

// A session held by another process (this one; the calls come from a
// child): every per-call operation fails at once with its failure result,
// writes and flushes nothing, and says why in one line; the holder's scan
// arrives whole meanwhile.
TEST_F(DeviceOwner, HeldByAnotherProcessRefusesAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(sim_wait_configures(sim, 1, 3000)) << "the engine never saw the session's settings";
    const std::string scan = "held-scan-0123456789";
    sim_clear_records(sim);
    int configures = sim_configures(sim);
    sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::AfterDelay, 5));
    std::string wrong = in_child([] {
        // The child checks and gives back what it found wrong.
        std::string wrong;
        for (const PerCall &c : kPerCalls) {
            logs_reset();
            auto start = std::chrono::steady_clock::now();
            std::string got = c.call();
            long took = ms_since(start);
            std::vector<LogLine> lines = logs_taken();
            LogLine want =
                core_line(6, std::string(c.sig) + ", port held by another process! errno = 11");
            if (got != c.failed || took > 50 || lines.empty() || !(lines.back() == want) ||
                count_lines(lines, want) != 1)
                wrong += std::string(c.sig) + ": " + got + " after " + std::to_string(took) +
                         " ms, " + std::to_string(lines.size()) + " lines\n";
        }
        return wrong;
    });
    EXPECT_EQ(wrong, "");
    EXPECT_EQ(wait(1000).bytes, scan) << "the holder's scan was cut";
    EXPECT_TRUE(sim_received(sim).empty()) << "nothing written";
    EXPECT_EQ(sim_configures(sim), configures) << "nothing configured or flushed";
}

// A session held by this process: the per-call operations run on it from
// another thread while the engine scans every 45 ms and the owner is away
// 100 ms between waits. Every answer is right, every scan comes whole and
// once, scan_read_data takes none of them.
TEST_P(DeviceOwnerBursts, HeldHereRunsOnTheSessionAndCutsNoScan)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const std::string scan = "ABCDEFGHIJKLM";
    const std::string want[] = {"3", "11", "14", "8", "20", "1", "\"1234\"", "\"115200\"", "null"};
    std::atomic<bool> done{false};
    std::thread caller([&] {
        for (int round = 0; round < 3; round++) {
            for (size_t i = 0; i < sizeof kPerCalls / sizeof kPerCalls[0]; i++)
                EXPECT_EQ(kPerCalls[i].call(), want[i]) << kPerCalls[i].sig << ", round " << round;
        }
        done = true;
    });
    // 25 ms between scans beyond the 20 ms quiet gap: a reader held off
    // the processor for less than that (a loaded machine, an emulator)
    // still sees them apart.
    sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::Every, 0, 45));
    std::vector<std::string> got;
    while (!done) {
        usleep(100000); // the owner is away
        for (Waited w = wait(0); w.result > 0; w = wait(0))
            got.push_back(w.bytes);
    }
    caller.join();
    sim_cancel_scans(sim);
    ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    for (Waited w = wait(100); w.result > 0; w = wait(100))
        got.push_back(w.bytes);
    EXPECT_EQ(static_cast<int>(got.size()), sim_scans_written(sim)) << "a scan lost or merged";
    for (const std::string &g : got)
        EXPECT_EQ(g, scan);
    std::vector<LogLine> lines = logs_taken();
    EXPECT_EQ(count_lines(lines, core_line(6, kReadSig + ", port held by this process's session: "
                                                         "no scan taken")),
              3);
    EXPECT_EQ(count_lines(lines, core_line(3, kCheckSig + ", on the held port")), 3);
}

// Port cycles of two threads that overlap take turns: each gets its own
// answer, and the later one says that it waited.
TEST_F(DeviceOwner, OverlappingCyclesTakeTurns)
{
    EXPECT_EQ(overlapping_checks_wrong(15), 0);
    int waited = 0;
    for (const LogLine &l : logs_taken())
        waited += l.text.find(", port in use by another call: waited ") != std::string::npos;
    EXPECT_GT(waited, 0);
}

// A second process's port cycles while this one holds the port through a
// session: the session's scans are never cut by their flushes, and the
// per-call requests never reach the line.
TEST_P(DeviceOwnerBursts, SecondProcessNeverCutsTheSessionsScans)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const std::string scan(400, 'S'); // 35 ms on the line
    sim_clear_records(sim);
    sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::Every, 0, 100));
    EXPECT_EQ(in_child([] {
                  int refused = 0;
                  for (int i = 0; i < 40; i++) {
                      refused += !scan_type_check(3);
                      refused += scan_get_timeout() == nullptr;
                      usleep(5000);
                  }
                  return std::to_string(refused);
              }),
              "80")
        << "requests refused of 80";
    sim_cancel_scans(sim);
    ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    int count = 0;
    for (Waited w = wait(100); w.result > 0; w = wait(100), count++)
        EXPECT_EQ(w.bytes, scan);
    EXPECT_EQ(count, sim_scans_written(sim));
    EXPECT_TRUE(sim_frames(sim).empty()) << "a refused request reached the line";
}

} // namespace

namespace {

const std::string kReaderSig = "void *session_reader(void *)";
const std::string kCheckSig2 = "int scan_session_check_type(ScanSession *, int)";

// Answers known by their form on the held port: a reply that comes late
// (after its budget, alone or right behind a scan), one with a pause
// inside it, one late within its budget. Each question's result is right,
// each scan whole, and no reply is handed out as a scan.
TEST_F(DeviceOwner, AnswersKnownByTheirForm)
{
    ASSERT_NO_FATAL_FAILURE(open());
    struct Case {
        const char *what;
        std::vector<std::pair<int, std::string>> chunks; // ms after the frame, bytes
        int result;
        std::string scan; // what the next wait hands out
        int replies;      // late replies the reader logged
    } const cases[] = {
        {"late, alone", {{150, "9000031\x06\r"}}, SCAN_SESSION_NO_ANSWER, "", 1},
        {"late, behind a scan", {{150, "SCANDATA9000031\x06\r"}}, SCAN_SESSION_NO_ANSWER,
         "SCANDATA", 1},
        {"late, ahead of a scan", {{150, "9000031\x06\rSCANDATA"}}, SCAN_SESSION_NO_ANSWER,
         "SCANDATA", 1},
        {"a pause inside it", {{5, "9000"}, {40, "031\x06\r"}}, 1, "", 0},
        {"late within the budget", {{70, "9000031\x06\r"}}, 1, "", 0},
        {"refused", {{5, "900003\x15\r"}}, SCAN_SESSION_NO_ANSWER, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // A chunk written more than 15 ms after its moment (this thread
        // held off the processor) no longer tests its case: run it again.
        for (int attempt = 0; attempt < 3; attempt++) {
            std::atomic<int64_t> late_ms{0};
            sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
            std::thread engine([&] {
                ASSERT_TRUE(sim_wait_frames(sim, 1, 3000));
                int64_t sent_ms = sim_now_ms();
                for (const auto &chunk : c.chunks) {
                    while (sim_now_ms() < sent_ms + chunk.first)
                        usleep(1000);
                    engine_write(chunk.second);
                    late_ms = std::max<int64_t>(late_ms, sim_now_ms() - sent_ms - chunk.first);
                }
            });
            logs_reset();
            int result = scan_session_check_type(session, 3);
            engine.join();
            Waited w = wait(300);
            Waited after = wait(50);
            std::vector<LogLine> lines = logs_taken();
            sim_clear_records(sim);
            if (late_ms > 15 && attempt < 2)
                continue;
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(w.bytes, c.scan);
            EXPECT_EQ(after.result, 0);
            EXPECT_EQ(count_lines(lines, core_line(3, kReaderSig + ", reply 9 bytes")), c.replies);
            EXPECT_EQ(count_lines(lines, core_line(6, kCheckSig2 + ", no answer")),
                      c.result == SCAN_SESSION_NO_ANSWER ? 1 : 0);
            break;
        }
    }
}

// What the held port takes that a careless reader would not: the longest
// command, and a signal that interrupts a wait.
TEST_F(DeviceOwner, LongestCommandAndASignalDuringAWait)
{
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(scan_session_set_command(session, std::string(255, 'C').c_str()), 259);

    struct sigaction on_usr1 = {}, had = {};
    on_usr1.sa_handler = [](int) {};
    sigaction(SIGUSR1, &on_usr1, &had); // no SA_RESTART
    pthread_t waiter = pthread_self();
    std::thread signaller([waiter] {
        usleep(30000);
        pthread_kill(waiter, SIGUSR1);
    });
    EXPECT_EQ(wait(100).result, 0);
    signaller.join();
    sigaction(SIGUSR1, &had, nullptr);
    EXPECT_EQ(scan_session_check_type(session, 3), 1) << "the port is not lost";
}

} // namespace

namespace {

std::atomic<int64_t> g_frame_us{0};

void note_frame(const SimRecordedFrame &, void *)
{
    g_frame_us = sim_now_us();
}

// What the reader must not do to a scan: a request that comes while it
// arrives goes out after its last byte; a pause inside it shorter than
// the quiet gap (a bursty UART driver) does not split it; a tail longer
// than the buffer at the open is dropped whole; a line that never goes
// quiet holds a request no longer than the longest message.
TEST_F(DeviceOwner, ScansStayWholeAroundRequests)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const std::string scan(1500, 'L'); // 130 ms on the line
    sim_set_frame_hook(sim, note_frame, nullptr);
    sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::AfterDelay, 0));
    ASSERT_TRUE(sim_wait_sent(sim, 100, 3000));
    EXPECT_EQ(scan_session_open_dev(session, true), 3);
    ASSERT_TRUE(sim_wait_frames(sim, 1, 1000));
    std::vector<SimSentByte> sent = sim_sent(sim);
    ASSERT_EQ(sent.size(), scan.size());
    EXPECT_GT(g_frame_us.load(), sent.back().t_us) << "the frame went out while the scan arrived";
    EXPECT_EQ(wait(1000).bytes, scan);
    sim_set_frame_hook(sim, nullptr, nullptr);

    // Two parts 10 ms apart are one message; a round whose second part
    // this thread wrote only after the quiet gap (held off the processor)
    // is drained and run again.
    for (int attempt = 0; attempt < 3; attempt++) {
        auto first = std::chrono::steady_clock::now();
        engine_write("FIRST-PART");
        usleep(10000);
        engine_write("-SECOND-PART");
        bool apart = ms_since(first) >= static_cast<long>(kScanQuietGapMs) - 2;
        Waited w = wait(1000);
        if (apart && attempt < 2) {
            while (wait(100).result > 0) {
            }
            continue;
        }
        EXPECT_EQ(w.bytes, "FIRST-PART-SECOND-PART");
        break;
    }

    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        while (trickling) {
            engine_write("t");
            usleep(10000);
        }
    });
    usleep(20000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scan_session_open_dev(session, false), 3);
    EXPECT_LT(ms_since(start), 2500) << "a request held by a line that never goes quiet";
    trickling = false;
    trickle.join();
}

// The rest of a message longer than the buffer, on the line at the open:
// dropped to its end, none of it handed out.
TEST_F(DeviceOwner, TailLongerThanTheBufferIsDroppedWhole)
{
    EXPECT_EQ(rounds_at_pace(sim, [&]() -> std::string {
                  scan_session_close(session);
                  session = nullptr;
                  sim_send_scan(sim, sim_scan(bytes_of(std::string(12000, 'T')),
                                              SimScanTrigger::AfterDelay, 0));
                  if (!sim_wait_sent(sim, 500, 3000))
                      return "the scan never began";
                  open();
                  if (!session || !sim_wait_output_idle(sim, 5000))
                      return "no session, or the scan never ended";
                  int n = wait(100).result;
                  unsigned dropped = 0; // a buffer at a time
                  for (const LogLine &l : logs_taken()) {
                      unsigned d = 0;
                      if (sscanf(l.text.c_str(), "void *session_reader(void *), dropped %u bytes",
                                 &d) == 1)
                          dropped += d;
                  }
                  if (n != 0 || dropped <= 8192)
                      return "handed out " + std::to_string(n) + ", dropped " +
                             std::to_string(dropped);
                  return "";
              }),
              "");
}

} // namespace

namespace {

// Per-call calls routed to the session while another thread closes it:
// each ends with its result or its failure result, none hangs, and the
// port is free afterwards.
TEST_F(DeviceOwner, CallsRoutedWhileTheSessionCloses)
{
    for (int round = 0; round < 5; round++) {
        ASSERT_NO_FATAL_FAILURE(open());
        std::atomic<int> odd{0};
        std::atomic<bool> stop{false};
        std::thread caller([&] {
            while (!stop) {
                int r = scan_open_dev(true);
                odd += r != 3 && r != -1;
                char *t = scan_get_timeout();
                odd += t != nullptr && strcmp(t, "1234") != 0 && *t != '\0';
            }
        });
        usleep(static_cast<useconds_t>(5000 + round * 7000));
        auto start = std::chrono::steady_clock::now();
        scan_session_close(session);
        session = nullptr;
        EXPECT_LT(ms_since(start), 500) << "the close waited too long";
        stop = true;
        caller.join();
        EXPECT_EQ(odd, 0);
    }
    int error = 0;
    session = scan_session_open(&error);
    EXPECT_NE(session, nullptr) << error;
}

// Per-call operations of this process on a held port that has hung up:
// each fails with its own failure result, never a session's error code.
TEST_F(DeviceOwner, RoutedCallsOnALostPortFailAsPerCall)
{
    open();
    sim_push_fault(sim, sim_fault(SimFaultKind::Hangup, 10));
    EXPECT_EQ(scan_session_check_type(session, 3), SCAN_SESSION_PORT_LOST);
    const std::string want[] = {"-1", "-1", "-1", "-1", "-1", "0", "\"\"", "\"\"", "null"};
    for (size_t i = 0; i < sizeof want / sizeof want[0]; i++) {
        SCOPED_TRACE(kPerCalls[i].sig);
        EXPECT_EQ(kPerCalls[i].call(), want[i]);
    }
}

// A per-call operation that comes while a session of this process is
// being opened waits for the open and runs on the session; one that began
// its own port cycle just before runs it before the open takes the port.
TEST_F(DeviceOwner, CallsRoutedWhileTheSessionOpens)
{
    for (int round = 0; round < 20; round++) {
        std::atomic<int> failed{0};
        std::atomic<bool> stop{false};
        std::thread caller([&] {
            while (!stop)
                failed += scan_open_dev(true) != 3;
        });
        usleep(static_cast<useconds_t>(1000 + round % 5 * 2300));
        ASSERT_NO_FATAL_FAILURE(open());
        usleep(20000);
        stop = true;
        caller.join();
        EXPECT_EQ(failed, 0);
        scan_session_close(session);
        session = nullptr;
    }
}

// A session opened while a port cycle runs waits for it to end, rather
// than flushing the line under it.
TEST_F(DeviceOwner, OpenWaitsForACycleUnderWay)
{
    std::string read;
    std::thread reader([&] { read = shown(scan_read_data()); });
    ASSERT_TRUE(sim_wait_configures(sim, 1, 1000));
    const std::string scan = "SCAN-IN-THE-CYCLE";
    sim_send_scan(sim, sim_scan(bytes_of(scan), SimScanTrigger::AfterDelay, 200));
    usleep(100000);
    int error = 0;
    auto start = std::chrono::steady_clock::now();
    session = scan_session_open(&error);
    long took = ms_since(start);
    reader.join();
    EXPECT_NE(session, nullptr) << error;
    EXPECT_GT(took, 80) << "the open did not wait for the cycle";
    EXPECT_EQ(read, "\"" + scan + "\"") << "the cycle's scan was cut by the open";
}

// A process that dies holding the port gives it up with its descriptors.
// The holder is forked before this process starts any thread of its own
// (no engine runs): a child of a process with threads cannot start one
// under an emulator or ThreadSanitizer.
TEST(HolderDeath, ReleasesThePort)
{
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    Child holder([](int out, int) {
        int error = 0;
        say(out, scan_session_open(&error) != nullptr ? "held" : "refused");
        pause(); // killed holding the port
        return 0;
    });
    EXPECT_EQ(holder.line(), "held");
    int error = 0;
    EXPECT_EQ(scan_session_open(&error), nullptr);
    EXPECT_EQ(error, SCAN_SESSION_BUSY);
    EXPECT_EQ(holder.end(SIGKILL), 128 + SIGKILL);
    ScanSession *s = scan_session_open(&error);
    EXPECT_NE(s, nullptr) << "the dead holder kept the port: " << error;
    scan_session_close(s);
    close(master);
    devns_teardown();
}

} // namespace
