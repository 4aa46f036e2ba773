// A BarcodeScanner in a Java VM finds the port held by a session of
// another process (this one) and takes it over when the holder closes:
// holds of 1, 5 and 20 s while the engine sends a scan every 40 ms. The
// scanner hears onPortFree and its first scan within a few milliseconds of
// the close, whatever the hold's length, without a back-off's delay.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "jvm_run.h"
#include "scansession.h"
#include "sim_runner.h"

namespace {

const int kScanPeriodMs = 40;
// The criterion: the first scan begun 50 ms or more after the close is
// delivered (measured here: onPortFree 11 to 30 ms after the close, the
// first scan the one begun 17 ms after it). The check allows 400 ms more:
// a loaded 2-core machine holds a thread off the CPU for tens of
// milliseconds, the VM's threads for more (one run of the 1 s hold at a
// load of 3 to 6 failed a 200 ms allowance); a back-off that grows with
// the hold still fails it (measured with it: 519 ms after a 1 s hold,
// 1160 ms after 20 s).
const int64_t kCriterionUs = 50000;
const int64_t kLoadedMachineUs = 400000;

class JvmHandOver : public EngineFixture, public testing::WithParamInterface<int> {};

TEST_P(JvmHandOver, ScansFlowSoonAfterTheHoldersClose) {
    const int hold_s = GetParam();
    char dir[] = "/tmp/scanjni-handover-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string flag = std::string(dir) + "/busy";
    int error = 0;
    ScanSession* holder = scan_session_open(&error);
    ASSERT_NE(holder, nullptr) << error;

    std::mutex m;
    std::vector<std::pair<int64_t, std::string>> sent;  // begun at, text
    std::atomic<bool> stop{false};
    std::thread engine([&] {
        for (int i = 0; !stop; i++) {
            char text[16];
            snprintf(text, sizeof text, "HAND%05d", i);
            {
                std::lock_guard<std::mutex> g(m);
                sent.push_back({sim_now_us(), text});
            }
            sim_send_scan(sim, sim_scan(std::vector<uint8_t>(text, text + strlen(text)),
                                        SimScanTrigger::AfterDelay));
            usleep(kScanPeriodMs * 1000);
        }
    });
    std::atomic<int64_t> closed_us{0};
    std::thread holding([&] {
        struct stat st;
        for (int i = 0; i < 30000 && stat(flag.c_str(), &st) != 0; i++) usleep(1000);
        int64_t until = sim_now_us() + hold_s * 1000000LL;
        unsigned char buf[64];
        while (sim_now_us() < until) scan_session_wait_scan(holder, 100, buf, sizeof buf, nullptr);
        scan_session_close(holder);
        closed_us = sim_now_us();
    });
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.HandOver", {flag});
    holding.join();
    // Scans go on past the latest that the check may ask for.
    while (sim_now_us() < closed_us + kCriterionUs + kLoadedMachineUs + 2 * kScanPeriodMs * 1000)
        usleep(1000);
    stop = true;
    engine.join();
    unlink(flag.c_str());
    rmdir(dir);

    ASSERT_NE(run.results["free.us"], "none") << jvm_output(run);
    ASSERT_NE(run.results["busy.us"], "0") << "never busy: " << jvm_output(run);
    int64_t free_us = atoll(run.results["free.us"].c_str());
    std::string text = run.results["scan.text"];
    ASSERT_FALSE(text.empty()) << jvm_output(run);
    int64_t got_begun = -1, criterion_begun = -1, tolerated_begun = -1;
    for (const auto& s : sent) {
        if (s.second == text) got_begun = s.first;
        if (criterion_begun < 0 && s.first >= closed_us + kCriterionUs) criterion_begun = s.first;
        if (tolerated_begun < 0 && s.first >= closed_us + kCriterionUs + kLoadedMachineUs)
            tolerated_begun = s.first;
    }
    ASSERT_GE(got_begun, 0) << text;
    printf("hold %d s: onPortFree %+.1f ms, first scan begun %+.1f ms after the close "
           "(the first begun 50 ms after it: %+.1f ms): %s\n",
           hold_s, (free_us - closed_us) / 1000.0, (got_begun - closed_us) / 1000.0,
           (criterion_begun - closed_us) / 1000.0,
           got_begun <= criterion_begun ? "met" : "missed");
    EXPECT_LT(free_us - closed_us, kCriterionUs + kLoadedMachineUs);
    EXPECT_LE(got_begun, tolerated_begun) << "scans lost after the close";
}

INSTANTIATE_TEST_SUITE_P(Holds, JvmHandOver, testing::Values(1, 5, 20));

}  // namespace
