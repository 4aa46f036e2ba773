// scanbench: every exported operation against the simulated engine on a
// pty at /dev/ttyMT1, in a private mount namespace set up in-process.
// Prints median wall times, the waits the operations are documented to
// make, the library's time above them, a bare-syscall baseline of the same
// port cycle, the cost of a logged byte line and open/close throughput on
// 1 to 8 threads. Run it through bench/run.sh (Release, quiet log).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "devns.h"
#include "linerate.h"
#include "merges.h"
#include "timing.h"
#include "session.h"
#include "raw_cycle.h"
#include "scanjni.h"
#include "sim_runner.h"
#include "line_timing.h"

namespace {

SimRunner* g_sim = nullptr;
std::vector<uint8_t> g_scan;
int g_scan_delay_ms = 0;  // after the library's configuration
size_t g_read_len = 0;

struct Op {
    const char* name;
    double floor_ms;  // the documented wait of the call
    int reps;
    void (*fn)();
    void (*before)();
};

void queue_scan() {
    sim_send_scan(g_sim, sim_scan(g_scan, SimScanTrigger::AfterConfigure, g_scan_delay_ms));
}

void op_raw() { raw_open_cycle(); }
void op_open() { scan_open_dev(true); }
void op_close() { scan_open_dev(false); }
void op_enable() { scan_enable_type(true, 3); }
void op_disable() { scan_enable_type(false, 3); }
void op_set_timeout() { scan_set_timeout(1200); }
void op_command() { scan_set_command("hello"); }
void op_profile() { profile_scan_type(); }
void op_check() { scan_type_check(3); }
void op_get_timeout() { scan_get_timeout(); }
void op_query() { scan_query_data(100002); }
void op_read() {
    const char* t = scan_read_data();
    g_read_len = t ? strlen(t) : 0;
}

void print_row(const char* name, double floor_ms, double us, double raw_us) {
    double over = us - floor_ms * 1000.0;
    printf("%-26s %10.1f %8.0f %10.1f", name, us, floor_ms * 1000.0, over);
    if (floor_ms > 0) {
        printf("  %6.3fx floor\n", us / (floor_ms * 1000.0));
    } else {
        printf("  %6.2fx raw (raw %.1f us)\n", us / raw_us, raw_us);
    }
}

// Median read time with n bytes of scan data waiting; sets g_read_len.
// The bytes are written whole, once as long after the configuration as
// the first pty read's worth of them (4095) takes on the line, so that the
// read takes them for a scan of its own and not for the tail of one that
// was on the line at its flush; the wait is taken off the time.
double read_with(size_t n, int reps) {
    g_scan.assign(n, 'A');
    g_scan_delay_ms = n > 13 ? 400 : 0;
    double us = bench_median_us(reps, op_read, queue_scan) - g_scan_delay_ms * 1000.0;
    sim_cancel_scans(g_sim);
    g_scan_delay_ms = 0;
    return us;
}

void byte_line_cost() {
    double small_us = read_with(13, 21);
    size_t small_len = g_read_len;
    double big_us = read_with(8191, 21);
    size_t big_len = g_read_len;
    printf("\nscan data read: 8191 bytes sent, %zu read and logged\n"
           "  (%zu-byte read %.1f us, %zu-byte read %.1f us)\n",
           big_len, small_len, small_us, big_len, big_us);
    if (big_len > small_len) {
        double per = (big_us - small_us) / static_cast<double>(big_len - small_len);
        printf("  cost per logged byte line: %.3f us (with the quiet log stand-in's formatting)\n"
               "  8191 byte lines would take about %.1f ms\n",
               per, per * 8191 / 1000.0);
    }
}

std::atomic<bool> g_stop{false};
std::atomic<long> g_calls{0};

void open_close_loop() {
    long n = 0;
    while (!g_stop.load(std::memory_order_relaxed)) {
        scan_open_dev((n & 1) == 0);
        ++n;
    }
    g_calls += n;
}

void threads(int seconds_tenths) {
    printf("\nopen/close calls per second (%.1f s per row):\n", seconds_tenths / 10.0);
    for (int t = 1; t <= 8; ++t) {
        sim_clear_records(g_sim);
        g_stop = false;
        g_calls = 0;
        std::vector<std::thread> pool;
        int64_t t0 = bench_now_ns();
        for (int i = 0; i < t; ++i) pool.emplace_back(open_close_loop);
        usleep(static_cast<useconds_t>(seconds_tenths) * 100000);
        g_stop = true;
        for (std::thread& th : pool) th.join();
        double s = static_cast<double>(bench_now_ns() - t0) / 1e9;
        printf("  %d thread(s): %9.0f calls/s\n", t, static_cast<double>(g_calls.load()) / s);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The log stand-in echoes every line unless told to be quiet.
    setenv("HOSTLOG_QUIET", "1", 1);
    int scale = argc > 1 ? atoi(argv[1]) : 1;  // 0 for --syscalls
    if (scale < 1) scale = 1;
    if (geteuid() != 0 || !devns_enter()) {
        fprintf(stderr, "scanbench: needs root for a private mount namespace\n");
        return 1;
    }
    int master = devns_install_pty();
    g_sim = master < 0 ? nullptr : sim_create(master);
    if (g_sim == nullptr || !sim_start(g_sim)) {
        fprintf(stderr, "scanbench: cannot start the simulated engine\n");
        return 1;
    }
    // Scan data goes out 2 ms after the library's configuration.
    sim_set_settle_ms(g_sim, 2);
    if (argc > 1 && strcmp(argv[1], "--session") == 0) {
        bench_session(g_sim);
        sim_destroy(g_sim);
        devns_teardown();
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "--merges") == 0) {
        bench_merges(g_sim);
        sim_destroy(g_sim);
        devns_teardown();
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "--line-rate") == 0) {
        bench_line_rate(g_sim, 1);
        sim_destroy(g_sim);
        devns_teardown();
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "--syscalls") == 0) {
        bench_syscall_marks(g_sim);
        sim_destroy(g_sim);
        devns_teardown();
        return 0;
    }
    // The first table has every message written whole, at once.
    SimLine instant;
    instant.baud = 0;
    sim_set_line(g_sim, instant);

    const Op ops[] = {
        {"open", 0, 1000, op_open, nullptr},
        {"close", 0, 1000, op_close, nullptr},
        {"enable type", 0, 1000, op_enable, nullptr},
        {"disable type", 0, 1000, op_disable, nullptr},
        {"check type (answered)", 0, 200, op_check, nullptr},
        {"get timeout (answered)", 0, 200, op_get_timeout, nullptr},
        {"query (answered)", 0, 200, op_query, nullptr},
        {"read (13 bytes waiting)", kScanQuietGapMs, 60, op_read, queue_scan},
        {"set timeout", kSettleMs, 15, op_set_timeout, nullptr},
        {"send command", kSettleMs, 15, op_command, nullptr},
        {"profile", kSettleMs, 15, op_profile, nullptr},
    };
    g_scan.assign(13, '4');
    for (int i = 0; i < 20; ++i) op_raw(), op_open();  // warm up
    double raw_us = bench_median_us(300 * scale, op_raw);

    printf("%-26s %10s %8s %10s  %s\n", "operation", "median us", "floor us",
           "above us", "ratio");
    print_row("raw cycle (bare syscalls)", 0, raw_us, raw_us);
    for (const Op& op : ops) {
        double us = 0;
        double pair_raw_us = raw_us;
        // Calls without a wait are timed alternately with the raw cycle
        // and compared with that run's raw median.
        if (op.floor_ms == 0) {
            bench_paired_us(op.reps * scale, op_raw, op.fn, &pair_raw_us, &us);
        } else {
            us = bench_median_us(op.reps * scale, op.fn, op.before);
        }
        sim_cancel_scans(g_sim);
        print_row(op.name, op.floor_ms, us, pair_raw_us);
    }
    byte_line_cost();
    threads(10);
    bench_line_rate(g_sim, scale);
    bench_session(g_sim);
    bench_merges(g_sim);
    sim_destroy(g_sim);
    devns_teardown();
    return 0;
}
