#include "merges.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "line_timing.h"
#include "scansession.h"

namespace {

const int kScans = 200;
const int kGapMinMs = 25;   // between two scans' starts, at random
const int kGapMaxMs = 100;
const int kAwayMs = 100;    // the caller's absence between two waits
const int kBusyLoops = 2;   // the load: one busy loop a core

// One run: scans of 13 to 200 letters at random gaps; returns how many of
// them came out merged with another (or not at all).
void run(SimRunner* sim, bool loaded) {
    std::atomic<bool> busy{loaded};
    std::vector<std::thread> load;
    for (int i = 0; loaded && i < kBusyLoops; i++)
        load.emplace_back([&busy] {
            volatile unsigned long spin = 0;
            while (busy) spin++;
        });
    int error = 0;
    ScanSession* s = scan_session_open(&error);
    if (s == nullptr) {
        printf("  cannot open a session: %d\n", error);
        busy = false;
        for (std::thread& t : load) t.join();
        return;
    }
    std::mt19937 rng(loaded ? 2 : 1);
    int scans_before = sim_scans_written(sim);
    std::vector<std::string> sent;
    size_t total_bytes = 0;
    int64_t at_ms = 0;
    for (int i = 0; i < kScans; i++) {
        std::string scan(13 + rng() % 188, static_cast<char>('A' + i % 26));
        // The gap runs from the end of the scan before (86.8 us a byte).
        at_ms += kGapMinMs + static_cast<int64_t>(rng() % (kGapMaxMs - kGapMinMs + 1)) +
                 (sent.empty() ? 0 : static_cast<int64_t>(sent.back().size()) * 868 / 10000 + 1);
        sim_send_scan(sim, sim_scan(std::vector<uint8_t>(scan.begin(), scan.end()),
                                    SimScanTrigger::AfterDelay, static_cast<int>(at_ms)));
        sent.push_back(scan);
        total_bytes += scan.size();
    }
    std::vector<std::string> got;
    unsigned char buf[SCAN_SESSION_MAX_SCAN];
    while (static_cast<int>(got.size()) < kScans) {
        usleep(kAwayMs * 1000);
        int n;
        while ((n = scan_session_wait_scan(s, 0, buf, sizeof buf, nullptr)) > 0)
            got.emplace_back(buf, buf + n);
        if (n < 0) break;
        if (sim_scans_written(sim) < scans_before + kScans || !sim_wait_output_idle(sim, 0)) continue;
        // The engine is done: what has not come now never will.
        while ((n = scan_session_wait_scan(s, 200, buf, sizeof buf, nullptr)) > 0)
            got.emplace_back(buf, buf + n);
        break;
    }
    scan_session_close(s);
    busy = false;
    for (std::thread& t : load) t.join();
    // Gaps the engine really left (a loaded machine can delay its bytes):
    // two scans less than the quiet gap apart are one message on the line.
    std::vector<SimSentByte> bytes = sim_sent(sim);
    size_t at = bytes.size() >= total_bytes ? bytes.size() - total_bytes : 0;
    int short_gaps = 0;
    for (size_t i = 0; i + 1 < sent.size() && at + sent[i].size() < bytes.size(); i++) {
        at += sent[i].size();
        short_gaps += bytes[at].t_us - bytes[at - 1].t_us < static_cast<int>(kScanQuietGapMs) * 1000;
    }
    // Each delivery is a scan, or scans run together.
    int whole = 0, merged = 0;
    size_t next = 0;
    for (const std::string& g : got) {
        std::string joined;
        size_t first = next;
        while (next < sent.size() && joined.size() < g.size()) joined += sent[next++];
        if (joined != g) break;
        if (next - first == 1) whole++;
        else merged += static_cast<int>(next - first);
    }
    printf("  %-22s %4d scans: %4d whole, %3d merged, %3d lost; %3d less than %d ms apart on the line\n",
           loaded ? "loaded (2 busy loops)" : "idle machine", kScans, whole, merged,
           kScans - whole - merged, short_gaps, static_cast<int>(kScanQuietGapMs));
}

}  // namespace

void bench_merges(SimRunner* sim) {
    printf("\nScans %d-%d ms apart (end to start), 13-200 bytes, the caller away %d ms between waits:\n",
           kGapMinMs, kGapMaxMs, kAwayMs);
    run(sim, false);
    run(sim, true);
}
