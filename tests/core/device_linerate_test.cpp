// The library against an engine that sends at the real line's pace
// (115200 8N1, 86.8 us a byte), so that every reply and every scan reaches
// it over several reads: scans come back whole and exact, replies are
// answered right wherever they fall against the 10 ms attempts, a short
// pause inside a scan does not cut it, and two scans far apart stay two.
#include "device_env.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <atomic>

namespace {

class LineRate : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        SimLine line; // 115200 baud
        sim_set_line(sim, line);
    }

    void set_line(size_t burst, int reply_delay_us)
    {
        SimLine line;
        line.burst = burst;
        line.reply_delay_us = reply_delay_us;
        sim_set_line(sim, line);
    }

    // Starts scan_read_data on a thread; the scan goes out delay_ms after
    // the call has configured the port.
    void send_scan(const std::string &bytes, int delay_ms)
    {
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(bytes.begin(), bytes.end()),
                                    SimScanTrigger::AfterConfigure, delay_ms));
    }
};

// One byte at 115200 8N1, in nanoseconds.
constexpr int64_t kByteNs = 86806;

void sleep_until_us(int64_t t_us)
{
    struct timespec t;
    t.tv_sec = static_cast<time_t>(t_us / 1000000);
    t.tv_nsec = static_cast<long>(t_us % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

std::string pattern(size_t n, size_t seed)
{
    std::string s(n, 'x');
    for (size_t i = 0; i < n; i++)
        s[i] = static_cast<char>(1 + (i * 7 + seed) % 255);
    return s;
}

// Scans of every size, byte by byte and in bursts, starting at different
// points of the 10 ms attempts.
TEST_F(LineRate, ScansComeBackWholeAndExact)
{
    const size_t sizes[] = {1, 13, 50, 200, 2000, 8192};
    const size_t bursts[] = {1, 16, 64};
    int phase = 0;
    for (size_t burst : bursts) {
        for (size_t size : sizes) {
            SCOPED_TRACE("scan of " + std::to_string(size) + " bytes, bursts of " +
                         std::to_string(burst));
            set_line(burst, 0);
            std::string scan = pattern(size, phase);
            send_scan(scan, 1 + phase++ * 7 % 10);
            logs_reset();
            long reads = read_calls();
            char *data = scan_read_data();
            reads = read_calls() - reads;
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(strlen(data), size);
            EXPECT_TRUE(std::string(data) == scan) << "the text differs from the scan";
            std::vector<LogLine> lines = logs_taken();
            EXPECT_EQ(count_lines(lines, core_line(3, kReadSig + ", length = " +
                                                          std::to_string(size) + " ")),
                      1);
            EXPECT_EQ(byte_lines_logged(kReadSig), size) << "every byte logged once";
            if (size == 2000 && burst == 1) {
                EXPECT_LT(reads, 200) << "bytes are read in batches";
            }
            ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
            // The engine really sent at the line's pace: a 200-byte scan
            // spans 17 ms, of which a late start may eat a part, but
            // never most.
            std::vector<SimSentByte> sent = sim_sent(sim);
            ASSERT_EQ(sent.size(), size);
            if (size >= 200) {
                EXPECT_GE(sent.back().t_us - sent.front().t_us,
                          static_cast<int64_t>(size) * 868 / 10 / 2);
            }
            sim_clear_records(sim);
        }
    }
}

// Replies that begin anywhere from 0 to 20 ms after the question, in steps
// that fall at every point of the 10 ms attempts, byte by byte or in
// bursts of 16 or 64 in turn, are all answered right.
TEST_F(LineRate, RepliesAreAnsweredWhereverTheyFall)
{
    sim_with_engine(sim, [](SimEngine *e) {
        e->enabled[3] = true;
        e->enabled[4] = false;
        e->timeout = 1234;
        sim_engine_set_setting(e, "100002", "115200");
    });
    const int kStepUs = 700;
    const size_t bursts[] = {1, 16, 64};
    for (int delay_us = 0, step = 0; delay_us <= 20000; delay_us += kStepUs, step++) {
        size_t burst = bursts[step % 3];
        SCOPED_TRACE("reply " + std::to_string(delay_us) + " us after the question, bursts of " +
                     std::to_string(burst));
        set_line(burst, delay_us);
        EXPECT_TRUE(scan_type_check(3));
        EXPECT_FALSE(scan_type_check(4));
        EXPECT_EQ(shown(scan_get_timeout()), "\"1234\"");
        EXPECT_EQ(shown(scan_query_data(100002)), "\"115200\"");
        ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    }
}

// Scan data sent in two parts: after a pause shorter than the quiet gap
// they are one message; 150 ms apart, as two trigger presses at least
// are, they are two.
TEST_F(LineRate, PausesInsideAScanAndGapsBetweenScans)
{
    const std::string first = pattern(40, 1);
    const std::string second = pattern(30, 2);
    const int first_ms = 5;
    const int first_len_ms = 4; // 40 bytes take 3.5 ms on the line

    struct Case {
        int pause_ms;
        std::vector<std::string> reads;
    } const cases[] = {
        {8, {first + second}},
        {150, {first, second}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("pause of " + std::to_string(c.pause_ms) + " ms");
        sim_clear_records(sim);
        std::vector<std::string> got;
        std::thread reader([&got, &c] {
            for (size_t i = 0; i < c.reads.size(); i++) {
                char *data = scan_read_data();
                got.push_back(data ? data : "(null)");
            }
        });
        ASSERT_TRUE(sim_wait_configures(sim, 1, 3000));
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(first.begin(), first.end()),
                                    SimScanTrigger::AfterDelay, first_ms));
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(second.begin(), second.end()),
                                    SimScanTrigger::AfterDelay,
                                    first_ms + first_len_ms + c.pause_ms));
        reader.join();
        EXPECT_EQ(got, c.reads);
        ASSERT_TRUE(sim_wait_output_idle(sim, 3000));
    }
}

// What one read made of a scan already on the line when it began.
struct TailRun {
    std::string got;     // the text it returned
    size_t dropped = 0;  // bytes it logged as dropped
    size_t byte_lines = 0;
};

class LineRateTail : public LineRate {
protected:
    // Writes the scan byte by byte at the line's pace on absolute times,
    // straight to the engine's side of the port, from start_us on, and the
    // next scan whole 80 ms after it; meanwhile reads once, either
    // offset_us into the scan or right after a setting write begun before
    // it (offset_us < 0).
    TailRun run(const std::string &scan, const std::string &next, int64_t offset_us)
    {
        const int64_t len_us = static_cast<int64_t>(scan.size()) * kByteNs / 1000;
        const int64_t start_us = sim_now_us() + (offset_us < 0 ? 50000 : 5000);
        std::thread engine([this, &scan, &next, start_us, len_us] {
            // A real engine never pauses inside a message; a thread of a
            // loaded machine may, unless it runs at real-time priority (the
            // tests run as root).
            struct sched_param prio = {};
            prio.sched_priority = 10;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &prio);
            for (size_t i = 0; i < scan.size(); i++) {
                sleep_until_us(start_us + static_cast<int64_t>(i) * kByteNs / 1000);
                ASSERT_EQ(write(master, &scan[i], 1), 1);
            }
            sleep_until_us(start_us + len_us + 80000);
            engine_write(next);
        });
        logs_reset();
        // The reader, too, is kept from being held off the processor by
        // the other tests: the rule allows for a late reader only up to a
        // margin below 1 ms.
        int policy;
        struct sched_param saved;
        pthread_getschedparam(pthread_self(), &policy, &saved);
        struct sched_param prio = {};
        prio.sched_priority = 5;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &prio);
        if (offset_us < 0)
            EXPECT_EQ(scan_set_timeout(1200), 14);
        else
            sleep_until_us(start_us + offset_us);
        char *data = scan_read_data();
        pthread_setschedparam(pthread_self(), policy, &saved);
        engine.join();
        TailRun r;
        r.got = data ? data : "(null)";
        for (const LogLine &l : logs_taken()) {
            unsigned n = 0;
            if (sscanf(l.text.c_str(),
                       "char *scan_read_data(), dropped %u bytes: tail of an earlier message",
                       &n) == 1)
                r.dropped += n;
        }
        r.byte_lines = byte_lines_logged(kReadSig);
        return r;
    }
};

// The engine sends a scan whatever the host does. A read that begins while
// a scan is on the line, at any point of it or right after a setting write
// whose settle wait the scan began in, drops that scan's tail and returns
// the next scan whole (or the first scan whole, when its first byte had
// not yet arrived at the flush). Tails are told by the bytes waiting when
// the port first turns readable; a loaded machine can deliver a short,
// already ended tail later than the rule allows for, so a case fails only
// when it cuts the scan twice in a row.
TEST_F(LineRateTail, ReadBegunInsideAScanNeverReturnsItsTail)
{
    const std::string next = pattern(13, 99);
    const int kOffsets = 5;
    struct Case {
        size_t size;
        bool after_write;
    } const cases[] = {{13, false}, {200, false}, {2000, false}, {2000, true}};
    for (const Case &c : cases) {
        const int64_t len_us = static_cast<int64_t>(c.size) * 868 / 10;
        for (int k = 0; k < (c.after_write ? 1 : kOffsets); k++) {
            const int64_t offset_us = c.after_write ? -1 : len_us * k / kOffsets + 100;
            SCOPED_TRACE(std::to_string(c.size) + "-byte scan, read " +
                         (c.after_write ? std::string("after a setting write")
                                        : std::to_string(offset_us) + " us into it"));
            const std::string scan = pattern(c.size, static_cast<size_t>(k));
            TailRun r;
            for (int attempt = 0; attempt < 2; attempt++) {
                r = run(scan, next, offset_us);
                if (r.got == next || r.got == scan)
                    break;
            }
            EXPECT_TRUE(r.got == next || r.got == scan)
                << "a cut scan came back: " << r.got.size() << " of " << scan.size() << " bytes";
            EXPECT_LT(r.dropped, c.size);
            EXPECT_EQ(r.byte_lines, r.dropped + r.got.size()) << "every byte logged once";
        }
    }
}

void on_signal(int) {}

// Signals that interrupt the reader's waits many times during a scan do
// not cut it.
TEST_F(LineRate, SignalsDuringAScanDoNotCutIt)
{
    struct sigaction sa = {};
    sa.sa_handler = on_signal; // no SA_RESTART: every wait is interrupted
    struct sigaction old;
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    const std::string scan = pattern(2000, 5);
    send_scan(scan, 5);
    std::atomic<bool> done{false};
    std::string got;
    std::thread reader([&got, &done] {
        char *data = scan_read_data();
        got = data ? data : "(null)";
        done = true;
    });
    pthread_t target = reader.native_handle();
    int signals = 0;
    while (!done) {
        pthread_kill(target, SIGUSR1);
        signals++;
        usleep(2000);
    }
    reader.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GT(signals, 50);
    EXPECT_TRUE(got == scan) << got.size() << " bytes came back of " << scan.size();
}

// A thread with a large timer slack (40 ms, as a phone may give a
// background thread) still gets its answer within a few milliseconds of
// the reply, and has its own slack back after the call.
TEST_F(LineRate, LargeTimerSlackDoesNotStretchTheWaits)
{
    const unsigned long kSlackNs = 40000000;
    unsigned long had = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kSlackNs, 0, 0, 0), 0);
    sim_with_engine(sim, [](SimEngine *e) { e->enabled[3] = true; });
    std::vector<long> took;
    for (int i = 0; i < 5; i++) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(scan_type_check(3));
        took.push_back(ms_since(start));
        EXPECT_EQ(static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)), kSlackNs);
    }
    prctl(PR_SET_TIMERSLACK, had, 0, 0, 0);
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[2], 20) << "median time of a question answered at once, in ms";
}

} // namespace
