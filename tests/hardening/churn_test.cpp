// Ten thousand calls of every operation, failures mixed in, must leave the
// process's descriptors and heap where they were.
//
// The mix is weighed by cost. Each round of 1000 calls runs against the
// simulated engine on a fresh pty (the fast writes in bulk, a few
// questions and scan data reads, one of each 100 ms setting write, one
// silent question, refused arguments), then with the device absent and
// then with a regular file in its place (every operation, failing at
// open or at configure). A round takes under a second; one round warms
// up what the first thread and the first calls set up once, ten more
// are measured. The engine is made anew each round, so nothing it
// records accumulates in this process's heap. Under a sanitizer the heap
// figure is not taken (LeakSanitizer checks for leaks there instead).
#include "engine_fixture.h"
#include "hardening.h"
#include "hostlog.h"
#include "scanjni.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int kRounds = 10;
constexpr int kCallsPerRound = 1000;
// Heap growth allowed over all rounds, far below one leaked block per call.
constexpr long kHeapSlackBytes = 1024;

const int kQueryNumbers[] = {0, -5, 100002, 800001, 2147483647};
const char *const kQueryValues[] = {"1", "OFF", "115200", "V1.2", "Z"};

struct Tally {
    int calls = 0;
    int wrong = 0;
    std::string first_wrong;

    void expect(bool ok, const char *what)
    {
        calls++;
        if (!ok && wrong++ == 0)
            first_wrong = what;
    }
};

bool text_is(const char *got, const char *want)
{
    return got != nullptr && strcmp(got, want) == 0;
}

// 649 calls against the engine.
void engine_calls(SimRunner *sim, Tally *t)
{
    for (int i = 0; i < 310; i++) {
        t->expect(scan_open_dev(i % 2 == 0) == 3, "scan_open_dev");
        t->expect(scan_enable_type(i % 3 != 0, i % 35) == 11, "scan_enable_type");
    }
    for (int i = 0; i < 10; i++) {
        scan_type_check(i * 3 % 35); // enabled or not, as the writes above left it
        t->calls++;
    }
    for (int i = 0; i < 5; i++) {
        t->expect(text_is(scan_get_timeout(), "3000"), "scan_get_timeout");
        t->expect(text_is(scan_query_data(kQueryNumbers[i]), kQueryValues[i]), "scan_query_data");
    }
    for (int i = 0; i < 2; i++) {
        sim_send_scan(sim, sim_scan({'C', 'O', 'D', 'E'}, SimScanTrigger::AfterConfigure));
        t->expect(text_is(scan_read_data(), "CODE"), "scan_read_data");
    }
    t->expect(scan_set_timeout(3000) == 14, "scan_set_timeout");
    t->expect(scan_set_command("PING") == 8, "scan_set_command");
    t->expect(profile_scan_type() == 20, "profile_scan_type");
    sim_push_fault(sim, sim_fault(SimFaultKind::Silence));
    t->expect(text_is(scan_get_timeout(), ""), "silent scan_get_timeout");
    t->expect(scan_enable_type(true, 35) == -1, "refused type index");
    t->expect(scan_set_timeout(10000) == 0, "refused timeout");
    t->expect(scan_set_command(nullptr) == 0, "refused command");
}

// Every operation with the port failing; 9 calls per pass.
void failing_calls(int passes, Tally *t)
{
    for (int i = 0; i < passes; i++) {
        t->expect(scan_open_dev(true) == -1, "failing scan_open_dev");
        t->expect(scan_enable_type(false, i % 35) == -1, "failing scan_enable_type");
        t->expect(scan_set_timeout(i) == 0, "failing scan_set_timeout");
        t->expect(scan_set_command("X") == 0, "failing scan_set_command");
        t->expect(profile_scan_type() == -1, "failing profile_scan_type");
        t->expect(!scan_type_check(i % 35), "failing scan_type_check");
        t->expect(scan_get_timeout() == nullptr, "failing scan_get_timeout");
        t->expect(scan_query_data(i) == nullptr, "failing scan_query_data");
        t->expect(scan_read_data() == nullptr, "failing scan_read_data");
    }
}

void round_body(Tally *t)
{
    int master = devns_install_pty();
    ASSERT_GE(master, 0);
    SimRunner *sim = sim_create(master);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(sim_start(sim));
    sim_set_settle_ms(sim, 300); // scan data only after the second flush, even under load
    engine_calls(sim, t);
    sim_destroy(sim);

    ASSERT_TRUE(devns_set_shape(DevnsShape::Absent));
    failing_calls(20, t);
    ASSERT_TRUE(devns_set_shape(DevnsShape::Regular));
    failing_calls(19, t);
    devns_teardown();
}

// A round runs on a thread of its own: its exit returns what the thread
// held (the library's per-thread result storage, the allocator's
// per-thread cache of freed blocks), so the heap figure between rounds
// shows only what stays allocated.
void one_round(Tally *t)
{
    std::thread([t] { round_body(t); }).join();
}

TEST(Churn, TenThousandCallsLeaveDescriptorsAndHeapAsTheyWere)
{
    hostlog_capture(0);
    hostlog_set_echo(0);

    Tally warmup;
    one_round(&warmup);
    ASSERT_EQ(warmup.calls, kCallsPerRound);
    int fds_before = open_fds();
    size_t heap_before = heap_in_use();

    Tally t;
    Stopwatch clock;
    for (int round = 0; round < kRounds && !HasFatalFailure(); round++)
        one_round(&t);
    long took = clock.ms();
    int fds_after = open_fds();
    size_t heap_after = heap_in_use();

    printf("%d calls in %ld ms\n", t.calls, took);
    printf("descriptors: %d before, %d after\n", fds_before, fds_after);
    printf("heap in use: %zu bytes before, %zu after%s\n", heap_before, heap_after,
           kHeapIsSanitized ? " (sanitizer allocator: not measured here)" : "");
    EXPECT_EQ(t.calls, kRounds * kCallsPerRound);
    EXPECT_EQ(t.wrong, 0) << "first wrong result: " << t.first_wrong;
    EXPECT_EQ(fds_after, fds_before);
    if (!kHeapIsSanitized) {
        EXPECT_LE(static_cast<long>(heap_after) - static_cast<long>(heap_before), kHeapSlackBytes);
    }
}

} // namespace
