#include "linerate.h"

#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scanjni.h"
#include "threadstats.h"
#include "timing.h"

namespace {

struct LineOp {
    const char* name;
    size_t scan_bytes;  // scan data sent for a read; 0 for a question
    void (*fn)();
};

void check() { scan_type_check(3); }
void get_timeout() { scan_get_timeout(); }
void query() { scan_query_data(100002); }
void read_scan() { scan_read_data(); }

const LineOp kOps[] = {
    {"check type", 0, check},
    {"get timeout", 0, get_timeout},
    {"query", 0, query},
    {"read (13-byte scan)", 13, read_scan},
    {"read (200-byte scan)", 200, read_scan},
    {"read (2000-byte scan)", 2000, read_scan},
};

// A thread that a phone runs in the background may have a large timer
// slack, which stretches every short sleep and poll timeout by up to that
// much; the table is measured with the default slack and with this one.
const unsigned long kLargeSlackNs = 40000000;

void queue_scan(SimRunner* sim, size_t n) {
    sim_send_scan(sim, sim_scan(std::vector<uint8_t>(n, '7'), SimScanTrigger::AfterConfigure, 3));
}

}  // namespace

void bench_line_rate(SimRunner* sim, int scale) {
    SimLine line;
    sim_set_line(sim, line);
    unsigned long slack = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    for (unsigned long slack_ns : {slack, kLargeSlackNs}) {
        prctl(PR_SET_TIMERSLACK, slack_ns, 0, 0, 0);
        printf("\nat 115200 8N1 (86.8 us a byte), engine answers at once, timer slack %lu us:\n",
               slack_ns / 1000);
        printf("%-22s %12s %22s %12s %8s %8s\n", "operation", "call median", "last byte -> return",
               "max", "reads", "wakeups");
        for (const LineOp& op : kOps) {
            std::vector<double> call_us, after_us, reads, wakeups;
            int reps = (op.scan_bytes ? (op.scan_bytes > 1000 ? 10 : 40) : 100) * scale;
            for (int i = 0; i < reps; ++i) {
                sim_clear_records(sim);
                if (op.scan_bytes) queue_scan(sim, op.scan_bytes);
                ThreadCounts before = thread_counts();
                int64_t start = sim_now_us();
                op.fn();
                int64_t end = sim_now_us();
                ThreadCounts made = thread_counts_since(before);
                wakeups.push_back(static_cast<double>(made.wakeups));
                reads.push_back(static_cast<double>(made.reads));
                std::vector<SimSentByte> sent = sim_sent(sim);
                if (sent.empty()) continue;
                call_us.push_back(static_cast<double>(end - start));
                after_us.push_back(static_cast<double>(end - sent.back().t_us));
                sim_wait_output_idle(sim, 1000);
            }
            double max_after =
                after_us.empty() ? 0 : *std::max_element(after_us.begin(), after_us.end());
            printf("%-22s %9.0f us %19.0f us %9.0f us %8.0f %8.0f\n", op.name,
                   bench_median(call_us), bench_median(after_us), max_after, bench_median(reads),
                   bench_median(wakeups));
        }
    }
    prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
}

void bench_syscall_marks(SimRunner* sim) {
    SimLine line;
    sim_set_line(sim, line);
    for (const LineOp& op : kOps) {
        for (int warm = 0; warm < 2; ++warm) {
            if (op.scan_bytes) queue_scan(sim, op.scan_bytes);
            if (warm == 1) access((std::string("/scanbench-mark/") + op.name).c_str(), F_OK);
            op.fn();
            if (warm == 1) access("/scanbench-mark/-", F_OK);
            sim_wait_output_idle(sim, 1000);
        }
    }
}
