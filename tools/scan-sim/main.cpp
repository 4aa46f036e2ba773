// scan-sim: runs a command against the simulated scan engine. It enters a
// private mount namespace, puts a pty at /dev/ttyMT1, runs the engine on
// the pty's master, runs the command inside the namespace and prints every
// frame that the engine receives.
#include <stdio.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "child.h"
#include "devns.h"
#include "options.h"
#include "print.h"
#include "sim_runner.h"

namespace {

void configure(SimRunner* sim, const SimOptions& o) {
    sim_with_engine(sim, [&o](SimEngine* e) {
        if (o.set_timeout) e->timeout = o.timeout;
        for (const TypeState& t : o.types) e->enabled[t.index] = t.enabled;
        for (const SimSetting& s : o.settings) {
            sim_engine_set_setting(e, s.number, s.value);
        }
    });
    for (const SimFault& f : o.faults) sim_push_fault(sim, f);
    if (o.has_persistent) sim_set_persistent_fault(sim, o.persistent);
    if (o.settle_ms >= 0) sim_set_settle_ms(sim, o.settle_ms);
    sim_set_line(sim, o.line);
    if (!o.quiet_frames) sim_set_frame_hook(sim, print_frame, nullptr);
    for (const std::vector<uint8_t>& bytes : o.scans) {
        SimScanTrigger trigger =
            o.every_ms > 0 ? SimScanTrigger::Every : SimScanTrigger::AfterConfigure;
        sim_send_scan(sim, sim_scan(bytes, trigger, o.delay_ms, o.every_ms));
    }
}

// Frames that the command wrote just before it exited may still be in the
// pty: wait until the engine has taken no new byte for 50 ms (at most 1 s).
void drain(SimRunner* sim) {
    size_t seen = sim_received(sim).size();
    for (int quiet = 0, i = 0; quiet < 2 && i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        size_t now = sim_received(sim).size();
        quiet = now == seen ? quiet + 1 : 0;
        seen = now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions opts;
    bool help = false;
    if (!parse_options(argc, argv, &opts, &help)) {
        fprintf(stderr, "Try 'scan-sim --help'.\n");
        return kSimExitOwnFailure;
    }
    if (help) {
        print_sim_usage(stdout);
        return 0;
    }
    if (geteuid() != 0) {
        fprintf(stderr,
                "scan-sim: must run as root: it needs a private mount namespace "
                "to put the simulated engine at /dev/ttyMT1\n");
        return kSimExitOwnFailure;
    }
    // The namespace must be entered before any thread exists.
    if (!devns_enter()) return kSimExitOwnFailure;
    int master = devns_install_pty();
    SimRunner* sim = master < 0 ? nullptr : sim_create(master);
    if (sim == nullptr) {
        fprintf(stderr, "scan-sim: cannot set up the pty at %s\n", kDevnsDevice);
        return kSimExitOwnFailure;
    }
    configure(sim, opts);
    if (!sim_start(sim)) {
        sim_destroy(sim);
        return kSimExitOwnFailure;
    }
    pid_t pid = start_child(opts.command);
    int status = pid < 0 ? kSimExitOwnFailure : wait_child(pid);
    drain(sim);
    size_t frames = sim_frames(sim).size();
    int scans = sim_scans_written(sim);
    sim_destroy(sim);
    devns_teardown();
    fprintf(stderr, "scan-sim: %zu frame(s) received, %d scan(s) sent; command exit status %d\n",
            frames, scans, status);
    return status;
}
