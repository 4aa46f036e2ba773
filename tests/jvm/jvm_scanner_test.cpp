// BarcodeScanner on the real library in a Java VM (-Xcheck:jni) while the
// simulated engine sends scans and another Java thread makes requests:
// every scan delivered once and whole, every answer right, stop and close
// within their documented bounds. Per call (an engine of the eleven
// operations): scans every 200 ms while the port is read, a question every
// 300 ms. On the session: scans at random moments, a request every 100 ms,
// and a second scanner refused with PORT_BUSY.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "jvm_run.h"
#include "sim_runner.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const int kScans = 24;
const milliseconds kScanPeriod(200);
// The port has been quiet this long (no new port cycle, no frame): it is
// inside a scan read, as a question's cycle ends well within it.
const milliseconds kReadingAfter(15);
// A read that began longer ago than this may end on its own (after about
// 1 s of silence) before the scan arrives; wait for the next one instead.
const milliseconds kReadTooOld(700);
const milliseconds kGiveUp(5000);
// BarcodeScanner.close(): the read in progress (about 1 s) and the port
// thread's end, documented as at most 1.5 s.
const long kCloseBoundMs = 1500;
const long kStopBoundMs = 50;
// On the session a request wakes the wait and runs at once, behind at most
// a scan still arriving (40 bytes and the 20 ms quiet gap); stop and close
// (here while scanning, 200 ms into a silent wait) wake the wait. Targets
// a few ms and 50 ms; the bounds are generous.
const long kSessionAnswerBoundMs = 200;
const long kSessionStopBoundMs = 200;
const int kMinGapMs = 20;
const int kBurstScans = 16;
const int kSlowScans = 15;
const int kHangupMs = 30;
const milliseconds kBurstScanGap(50);

std::string repeated_words(const std::string& word, int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += (i > 0 ? " " : "") + word;
    return s;
}
const int kMaxGapMs = 250;

// Scans sized like real barcodes, 13 and 40 bytes, each one unique.
std::string scan_text(int i) {
    char head[16];
    snprintf(head, sizeof head, "%05d", i);
    return std::string(head) + (i % 2 == 0 ? "40063813" : "4006381333931-0123456789-ABCDEFGHIJKLMN");
}

// The scanner reads the port while nothing else happens on it. The engine
// only sends scan data then: data sent while a question's exchange runs,
// or between two port cycles, is discarded by the library's next flush
// (as with a real engine), and this test is about what the Java layer
// does with what the library reads. A read is a port cycle that writes no
// frame: the last thing seen was a new cycle without a frame, and the
// port has stayed quiet since.
struct PortWatch {
    int configures = 0;
    size_t frames = 0;
    Clock::time_point changed = Clock::now();
    bool frameless_cycle = false;
};

// Watches the port until not_before has passed and the scanner is reading.
bool wait_until_reading(SimRunner* sim, PortWatch* w, Clock::time_point not_before) {
    const Clock::time_point give_up = not_before + kGiveUp;
    while (Clock::now() < give_up) {
        int c = sim_configures(sim);
        size_t f = sim_frames(sim).size();
        Clock::time_point now = Clock::now();
        if (c != w->configures || f != w->frames) {
            w->frameless_cycle = c != w->configures && f == w->frames;
            w->configures = c;
            w->frames = f;
            w->changed = now;
        } else if (now >= not_before && w->frameless_cycle && now - w->changed >= kReadingAfter &&
                   now - w->changed < kReadTooOld) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

// Sends a scan's text at once; every text but the closing "END" is kept
// in sent, in order.
void send_text(SimRunner* sim, const std::string& text, std::vector<std::string>* sent) {
    sim_send_scan(sim, sim_scan(std::vector<uint8_t>(text.begin(), text.end()),
                                SimScanTrigger::AfterDelay));
    if (text != "END") sent->push_back(text);
}

// A run that ended as its program does when nothing went wrong.
void expect_ended(JvmRun& run) {
    ASSERT_EQ(0, run.status) << jvm_output(run);
    EXPECT_EQ("ok", run.results["end"]);
}

// The engine as LineRate.java expects it.
class JvmScanner : public EngineFixture {
  protected:
    void set_up_engine() {
        sim_with_engine(sim, [](SimEngine* e) {
            e->enabled[3] = true;
            e->enabled[20] = false;
            e->timeout = 1234;
            sim_engine_set_setting(e, "100002", "9600");
        });
    }
};

struct Bounds {
    long min_requests;
    long answer_ms;  // the slowest answer; 0: not checked
    long stop_ms;
    long close_ms;
};

// The scans a run reports ("@ scan.NNN text"), in order.
std::vector<std::string> delivered_scans(JvmRun& run) {
    std::vector<std::string> delivered;
    for (const std::string& label : run.labels)
        if (label.compare(0, 5, "scan.") == 0) delivered.push_back(run.results[label]);
    return delivered;
}

// What every scenario checks of its run, after printing its figures: a
// clean end, every scan sent delivered once, whole and in order, every
// answer right, the listener on its executor, and the times.
void expect_scenario(const char* name, JvmRun& run, const std::vector<std::string>& sent,
                     const Bounds& bounds) {
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    for (const std::string& line : run.other_output)
        EXPECT_EQ(std::string::npos, line.find("WARNING")) << line;

    std::vector<std::string> delivered = delivered_scans(run);
    long close_ms = atol(run.results["close.ms"].c_str());
    long stop_ms = atol(run.results["stop.ms"].c_str());
    long latency_max = atol(run.results["latency.max"].c_str());
    printf("%s: scans delivered %zu of %zu sent; requests %s, wrong %s, failed %s; "
           "latency median %s ms, max %ld ms; stop %ld ms, close %ld ms\n",
           name, delivered.size(), sent.size(), run.results["questions"].c_str(),
           run.results["wrong"].c_str(), run.results["failed"].c_str(),
           run.results["latency.median"].c_str(), latency_max, stop_ms, close_ms);

    EXPECT_EQ(kScans, static_cast<int>(sent.size())) << "not every scan was sent";
    EXPECT_EQ(sent, delivered);
    EXPECT_LT(bounds.min_requests, atoi(run.results["questions"].c_str()));
    EXPECT_EQ("0", run.results["wrong"]);
    EXPECT_EQ("0", run.results["failed"]);
    EXPECT_EQ("0", run.results["foreign"]);
    if (bounds.answer_ms > 0) {
        EXPECT_LE(latency_max, bounds.answer_ms);
    }
    EXPECT_LE(stop_ms, bounds.stop_ms);
    EXPECT_LE(close_ms, bounds.close_ms);
}

TEST_F(JvmScanner, ScansEvery200msWithQuestionsEvery300ms) {
    set_up_engine();
    std::vector<std::string> sent;
    std::atomic<bool> stop{false};
    std::thread user([&] {
        PortWatch watch;
        if (!sim_wait_configures(sim, 1, 20000)) return;
        Clock::time_point next = Clock::now();
        for (int i = 0; i <= kScans && !stop; i++) {
            if (!wait_until_reading(sim, &watch, next)) continue;
            send_text(sim, i < kScans ? scan_text(i) : "END", &sent);
            next = Clock::now() + kScanPeriod;
        }
    });
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.LineRate", {"percall"});
    stop = true;
    user.join();
    expect_scenario("per-call scenario", run, sent, {10, 0, kStopBoundMs, kCloseBoundMs});
}

// The session: the engine sends scans at random moments, 20 to 250 ms
// apart, whatever the scanner is doing; every one must arrive once and
// whole while a request goes through every 100 ms.
TEST_F(JvmScanner, SessionScansAtRandomMomentsWithRequests) {
    set_up_engine();
    std::vector<std::string> sent;
    std::atomic<bool> stop{false};
    std::thread user([&] {
        // The open frame is the first request on the held port: from then
        // on the session reads whatever comes.
        if (!sim_wait_frames(sim, 1, 20000)) return;
        std::mt19937 random(16);
        std::uniform_int_distribution<int> gap_ms(kMinGapMs, kMaxGapMs);
        for (int i = 0; i <= kScans && !stop; i++) {
            std::this_thread::sleep_for(milliseconds(gap_ms(random)));
            send_text(sim, i < kScans ? scan_text(i) : "END", &sent);
        }
    });
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.LineRate", {"session"});
    stop = true;
    user.join();
    expect_scenario("session scenario", run, sent,
                    {20, kSessionAnswerBoundMs, kSessionStopBoundMs, kSessionStopBoundMs});
    printf("second scanner: onError %s, its request %s; a question right after the stop: %s "
           "after %s ms\n", run.results["busy.error"].c_str(), run.results["busy.request"].c_str(),
           run.results["afterstop"].c_str(), run.results["afterstop.ms"].c_str());
    EXPECT_EQ("1234", run.results["afterstop"]);
    EXPECT_LE(atol(run.results["afterstop.ms"].c_str()), kSessionAnswerBoundMs);
    EXPECT_EQ("PORT_BUSY", run.results["busy.error"]);
    EXPECT_EQ("PORT_BUSY", run.results["busy.request"]);
    EXPECT_EQ(0u, run.results.count("busy.scan"));
}

// Eight questions queued at once that a silent engine leaves unanswered
// (100 ms each), while it sends a scan every 50 ms: the session keeps a
// few scans while requests run, and the scanner takes them after each
// request, so none is lost to the run of requests.
TEST_F(JvmScanner, SessionScansDuringARunOfUnansweredQuestions) {
    SimFault silence;
    silence.kind = SimFaultKind::Silence;
    sim_set_persistent_fault(sim, silence);
    std::vector<std::string> sent;
    std::thread engine([&] {
        if (!sim_wait_frames(sim, 2, 20000)) return;  // the open frame and the first question
        for (int i = 0; i <= kBurstScans; i++) {
            send_text(sim, i < kBurstScans ? scan_text(i) : "END", &sent);
            std::this_thread::sleep_for(kBurstScanGap);
        }
    });
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.Burst", {});
    engine.join();
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    std::vector<std::string> delivered = delivered_scans(run);
    printf("run of unanswered questions: %zu of %zu scans delivered\n", delivered.size(),
           sent.size());
    EXPECT_EQ(sent, delivered);
    EXPECT_EQ(repeated_words("NO_ANSWER", 8), run.results["answers"]);
}

// A listener on a direct executor that sleeps 2 s at the first scan and
// waits for a request's answer at the third, and a request's stage that
// sleeps 1 s, while the engine sends a 13-byte scan every 200 ms: every
// scan delivered once, whole and in order, nothing of the app's on the port
// thread, the answer inside onScan given.
TEST_F(JvmScanner, SlowAppCodeOnEveryThreadItIsGiven) {
    set_up_engine();
    std::vector<std::string> sent;
    std::thread engine([&] {
        if (!sim_wait_frames(sim, 1, 20000)) return;  // the port is held
        for (int i = 0; i <= kSlowScans; i++) {
            send_text(sim, i < kSlowScans ? scan_text(i * 2) : "END", &sent);
            std::this_thread::sleep_for(kScanPeriod);
        }
    });
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.AppAtLineRate", {"slow"});
    engine.join();
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    std::vector<std::string> delivered = delivered_scans(run);
    printf("slow app code: %zu of %zu scans delivered; listener on %s, stage on %s\n",
           delivered.size(), sent.size(), run.results["listener.threads"].c_str(),
           run.results["stage.thread"].c_str());
    EXPECT_EQ(sent, delivered);
    EXPECT_EQ("1234", run.results["get.onscan"]);
    EXPECT_EQ("scanner-events", run.results["listener.threads"]);
    EXPECT_NE("scanner-port", run.results["stage.thread"]);
}

// A second scanner while a first holds the port: busy with the holder and
// the fix, then free (and its request answered) once the first closes; a
// scanner that is never closed: the next one is told so, and gets the
// port once the forgotten one has been collected.
TEST_F(JvmScanner, TwoOwnersAndAForgottenScanner) {
    set_up_engine();
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.AppAtLineRate", {"owners"});
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    const std::string busy_here =
        "PORT_BUSY: another BarcodeScanner of this app holds the scanner: close the other BarcodeScanner";
    EXPECT_EQ(busy_here, run.results["busy.message"]);
    EXPECT_EQ("PORT_BUSY", run.results["busy.request"]);
    EXPECT_EQ("busy:THIS_APP,free", run.results["second.events"]);
    EXPECT_EQ("1234", run.results["second.request"]);
    EXPECT_EQ(busy_here, run.results["forgotten.message"]);
    EXPECT_EQ("null", run.results["forgotten.reopened"]);
}

// The line hangs up during a question: the request fails with the port
// unavailable (not as no answer), before the listener hears the loss.
TEST_F(JvmScanner, HangUpFailsTheRequestThenTellsTheListener) {
    sim_push_fault(sim, sim_fault(SimFaultKind::Hangup, kHangupMs));
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "scanjni.jvmtest.AppAtLineRate", {"hangup"});
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    EXPECT_EQ("ready,request:PORT_UNAVAILABLE,lost", run.results["hangup.events"]);
}

// NativePortSession.close on one thread while another waits on the
// session: the wait is woken, and the close returns at once.
TEST_F(JvmScanner, SessionCloseWakesAWaitOnAnotherThread) {
    JvmRun run = jvm_run(JvmClassPath::WithScanNative, "com.morvek.scanner.SessionCloseProbe", {});
    ASSERT_NO_FATAL_FAILURE(expect_ended(run));
    EXPECT_EQ("null", run.results["wait"]);
    EXPECT_LT(atol(run.results["close.ms"].c_str()), kSessionStopBoundMs);
    EXPECT_LT(atol(run.results["woken.ms"].c_str()), kSessionStopBoundMs);
}

}  // namespace

#ifdef JVM_ROBOLECTRIC_CP
// The README's Activity under Robolectric (SDK 24) on the library and the
// simulated engine: the engine sends a scan every 50 ms while it is read;
// each screen (the first and three rotations) shows scans, and the engine
// holds the Activity's profile (type 3 on, which it starts without).
TEST_F(JvmScanner, ReadmeActivityUnderRobolectric) {
    sim_with_engine(sim, [](SimEngine* e) { e->enabled[3] = false; });
    std::atomic<bool> stop{false};
    std::thread engine([&] {
        // From the first frame on (the profile's) a session reads the line.
        while (!stop && !sim_wait_frames(sim, 1, 1000)) {
        }
        for (int i = 0; !stop; i++) {
            std::this_thread::sleep_for(milliseconds(50));
            std::string text = "R" + std::to_string(i);
            sim_send_scan(sim, sim_scan(std::vector<uint8_t>(text.begin(), text.end()),
                                        SimScanTrigger::AfterDelay));
        }
    });
    JvmRun run = jvm_run(JvmClassPath::Robolectric, "org.junit.runner.JUnitCore",
                         {"scanjni.activitytest.ScanActivityRealTest"});
    stop = true;
    engine.join();
    EXPECT_EQ(0, run.status) << jvm_output(run);
    EXPECT_EQ("ok", run.results["activity"]) << jvm_output(run);
    bool type3 = false;
    sim_with_engine(sim, [&](SimEngine* e) { type3 = e->enabled[3]; });
    EXPECT_TRUE(type3) << "the engine did not get the profile";
    EXPECT_FALSE(run.log.empty()) << "the library logged nothing: it was not the one run";
}
#endif
