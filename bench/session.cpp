#include "session.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "hostlog.h"
#include "scanjni.h"
#include "scansession.h"
#include "threadstats.h"
#include "timing.h"

namespace {

const int kScanSizes[] = {13, 200, 2000};
const int kWaitMs = 1000;        // a session's scan wait, as BarcodeScanner makes it
const int kQuestions = 12;       // questions asked while scanning, per way
const int kQuestionGapMs = 280;  // between two questions (plus up to 40 ms at random)

// What one way of reaching the engine does on the port thread: wait for a
// scan (a per-call read, or a session wait), and answer a question.
struct Way {
    const char* name;
    ScanSession* session;  // null: the per-call functions
};

void wait_for_scan(const Way& w) {
    if (w.session == nullptr) {
        scan_read_data();
        return;
    }
    unsigned char buf[SCAN_SESSION_MAX_SCAN];
    scan_session_wait_scan(w.session, kWaitMs, buf, sizeof buf, nullptr);
}

bool ask(const Way& w) {
    return w.session == nullptr ? scan_type_check(3) : scan_session_check_type(w.session, 3) == 1;
}

// The port thread of a scanner object: it runs a posted question, else
// waits for a scan, until stopped. The main thread posts and times.
struct PortThread {
    std::mutex mu;
    std::condition_variable cv;
    bool question = false;
    bool stop = false;
    int64_t answered_ns = 0;
    std::thread thread;

    void run(const Way& w) {
        for (;;) {
            bool ask_now;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (stop) return;
                ask_now = question;
            }
            if (!ask_now) {
                wait_for_scan(w);
                continue;
            }
            ask(w);
            std::lock_guard<std::mutex> lock(mu);
            question = false;
            answered_ns = bench_now_ns();
            cv.notify_all();
        }
    }
};

// Questions at random moments while the port thread scans; returns the
// time from each question's posting to its answer, and the time stop
// takes to end the thread.
void questions_while_scanning(const Way& w, std::vector<double>* answer_ms, double* stop_ms) {
    PortThread p;
    p.thread = std::thread([&p, &w] { p.run(w); });
    for (int i = 0; i < kQuestions; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kQuestionGapMs + rand() % 40));
        int64_t posted = bench_now_ns();
        std::unique_lock<std::mutex> lock(p.mu);
        p.question = true;
        if (w.session) scan_session_wake(w.session);
        p.cv.wait(lock, [&p] { return !p.question; });
        answer_ms->push_back(static_cast<double>(p.answered_ns - posted) / 1e6);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(rand() % 500));
    int64_t posted = bench_now_ns();
    {
        std::lock_guard<std::mutex> lock(p.mu);
        p.stop = true;
    }
    if (w.session) scan_session_wake(w.session);
    p.thread.join();
    *stop_ms = static_cast<double>(bench_now_ns() - posted) / 1e6;
}

// One second of waiting with nothing to scan: wakeups, reads and log lines.
void idle_second(const Way& w, long* wakeups, long* reads, size_t* lines) {
    hostlog_capture(1);
    ThreadCounts before = thread_counts();
    wait_for_scan(w);
    ThreadCounts made = thread_counts_since(before);
    *wakeups = made.wakeups;
    *reads = made.reads;
    *lines = hostlog_count();
    hostlog_capture(0);
}

// The two ways; the session is held only while its own rows are measured.
struct Ways {
    Way way[2] = {{"per call", nullptr}, {"session", nullptr}};

    bool hold(Way* w) {
        if (w != &way[1]) return true;
        int error = 0;
        w->session = scan_session_open(&error);
        if (w->session == nullptr) printf("session: cannot open (%d)\n", error);
        return w->session != nullptr;
    }
    void release(Way* w) {
        if (w->session) scan_session_close(w->session);
        w->session = nullptr;
    }
};

}  // namespace

void bench_session(SimRunner* sim) {
    SimLine line;  // 115200 8N1
    sim_set_line(sim, line);
    sim_with_engine(sim, [](SimEngine* e) { e->enabled[3] = true; });
    Ways ways;

    printf("\nscans at 115200 8N1, per call beside the session (medians):\n");
    printf("%-10s %8s %8s %8s %22s\n", "way", "bytes", "reads", "wakeups", "last byte -> return");
    for (Way& w : ways.way) {
        if (!ways.hold(&w)) continue;
        for (int size : kScanSizes) {
            std::vector<double> reads, wakeups, after_us;
            for (int i = 0; i < (size > 1000 ? 8 : 20); ++i) {
                sim_clear_records(sim);
                // The per-call read configures the port first; the session
                // holds it, so the scan simply starts a little later.
                sim_send_scan(sim, sim_scan(std::vector<uint8_t>(static_cast<size_t>(size), '5'),
                                            w.session ? SimScanTrigger::AfterDelay
                                                      : SimScanTrigger::AfterConfigure,
                                            5));
                ThreadCounts before = thread_counts();
                wait_for_scan(w);
                int64_t end = sim_now_us();
                ThreadCounts made = thread_counts_since(before);
                reads.push_back(static_cast<double>(made.reads));
                wakeups.push_back(static_cast<double>(made.wakeups));
                std::vector<SimSentByte> sent = sim_sent(sim);
                if (!sent.empty()) after_us.push_back(static_cast<double>(end - sent.back().t_us));
                sim_wait_output_idle(sim, 2000);
            }
            printf("%-10s %8d %8.0f %8.0f %19.2f ms\n", w.name, size, bench_median(reads),
                   bench_median(wakeups), bench_median(after_us) / 1000);
        }
        ways.release(&w);
    }

    printf("\none idle second (no scan):\n");
    printf("%-10s %8s %8s %10s\n", "way", "wakeups", "reads", "log lines");
    for (Way& w : ways.way) {
        if (!ways.hold(&w)) continue;
        long wakeups = 0, reads = 0;
        size_t lines = 0;
        idle_second(w, &wakeups, &reads, &lines);
        printf("%-10s %8ld %8ld %10zu\n", w.name, wakeups, reads, lines);
        ways.release(&w);
    }

    printf("\na question while scanning (posted at random moments), and stop:\n");
    printf("%-10s %16s %16s %10s\n", "way", "answer median", "answer max", "stop");
    for (Way& w : ways.way) {
        if (!ways.hold(&w)) continue;
        std::vector<double> answer_ms;
        double stop_ms = 0;
        questions_while_scanning(w, &answer_ms, &stop_ms);
        printf("%-10s %13.2f ms %13.2f ms %7.2f ms\n", w.name, bench_median(answer_ms),
               *std::max_element(answer_ms.begin(), answer_ms.end()), stop_ms);
        ways.release(&w);
    }
}
