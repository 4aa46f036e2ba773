// The texts that scan_query_data, scan_get_timeout and scan_read_data
// return belong to the calling thread: a call on another thread leaves
// them as they were. The threads take turns for their exchanges with the
// engine; only then do they look at their texts again, after every other
// thread has made the same calls.
#include "device_env.h"

#include <condition_variable>
#include <mutex>

namespace {

constexpr int kThreads = 4;

struct Turns {
    std::mutex mu;
    std::condition_variable cv;
    int turn = 0;  // the thread whose exchanges run; kThreads when all ran

    void wait_for(int t)
    {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return turn == t; });
    }
    void pass()
    {
        std::lock_guard<std::mutex> lock(mu);
        turn++;
        cv.notify_all();
    }
};

struct Texts {
    char *query = nullptr;
    char *timeout = nullptr;
    char *scan = nullptr;
};

class DeviceTexts : public DeviceTest {
protected:
    // Thread i's exchanges: each answer is made different from every
    // other thread's by the engine's state.
    Texts exchange(int i)
    {
        const std::string number = std::to_string(100 + i);
        const std::string scan = "scan of thread " + std::to_string(i);
        sim_with_engine(sim, [&](SimEngine *e) {
            sim_engine_set_setting(e, number, "value" + std::to_string(i));
            e->timeout = 1000 + i;
        });
        Texts t;
        t.query = scan_query_data(100 + i);
        t.timeout = scan_get_timeout();
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(scan.begin(), scan.end()),
                                    SimScanTrigger::AfterConfigure, 20));
        t.scan = scan_read_data();
        return t;
    }

    static void expect_own(const Texts &t, int i)
    {
        SCOPED_TRACE("thread " + std::to_string(i));
        ASSERT_NE(t.query, nullptr);
        ASSERT_NE(t.timeout, nullptr);
        ASSERT_NE(t.scan, nullptr);
        EXPECT_STREQ(t.query, ("value" + std::to_string(i)).c_str());
        EXPECT_STREQ(t.timeout, std::to_string(1000 + i).c_str());
        EXPECT_STREQ(t.scan, ("scan of thread " + std::to_string(i)).c_str());
    }
};

TEST_F(DeviceTexts, EachThreadKeepsItsOwnTexts)
{
    // The test's own thread goes first; its texts must survive the rest.
    Texts mine = exchange(kThreads);
    expect_own(mine, kThreads);

    Turns turns;
    Texts got[kThreads];
    std::thread threads[kThreads];
    for (int i = 0; i < kThreads; i++) {
        threads[i] = std::thread([&, i] {
            turns.wait_for(i);
            got[i] = exchange(i);
            expect_own(got[i], i);
            turns.pass();
            // Every thread has made its calls: the texts are still its own.
            turns.wait_for(kThreads);
            expect_own(got[i], i);
        });
    }
    for (std::thread &t : threads)
        t.join();
    expect_own(mine, kThreads);

    // All of them were alive together, so no two may share storage.
    for (int i = 0; i <= kThreads; i++) {
        const Texts &a = i < kThreads ? got[i] : mine;
        for (int j = 0; j < i; j++) {
            EXPECT_NE(a.query, got[j].query);
            EXPECT_NE(a.timeout, got[j].timeout);
            EXPECT_NE(a.scan, got[j].scan);
        }
    }
}

}  // namespace
