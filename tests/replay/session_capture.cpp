// Makes a capture of the held-port session for the replay tests: one
// session against the simulated engine in a private namespace, with every
// kind of exchange it logs, written to stderr by the host log stand-in in
// the logcat format that HOSTLOG_FORMAT names (root only).
//
//   replay_session_capture 2> session.log
//
// The session: the tail of a scan in flight at the open, which the
// session's reader drops; the five writes, one of them after a scan that
// the reader takes; the three questions with a reply, a reply 40 ms late
// with a scan ahead of it and one with bytes behind it (both the reader's
// scans), a refusal, and no answer in the 100 ms budget (the reader logs
// the reply that comes later, then a scan); waits, one woken in the middle
// of a scan and one that times out, which log nothing; five scans, each
// followed by a write, taken by waits afterwards; a write the line does
// not take; refused arguments; a second owner in this process and in
// another; the engine hanging up 5 ms after a question's write (the reader
// logs the loss, the question logs nothing more; the next question, on the
// lost port, logs nothing); the close and a call without a session; then
// no device and a device that is no terminal; a second session whose open
// meets the tail of a message already on the line.
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "devns.h"
#include "hostlog.h"
#include "scansession.h"
#include "sim_runner.h"

namespace {

constexpr int kIdleMs = 5000;   // for the engine to finish sending
constexpr int kSettleMs = 5;    // for sent bytes to reach the port
constexpr int kLongWaitMs = 2000;
constexpr size_t kTailScan = 150;   // in flight at the open
constexpr int kInFlightMs = 4;      // into it when the open flushes
constexpr size_t kWokenScan = 400;  // 35 ms on the line
constexpr int kWakeAfterMs = 10;
constexpr int kLateReplyMs = 150;   // past the question's 100 ms
constexpr int kScanAfterLateMs = 300;
constexpr int kAheadDelayMs = 40;   // the reply, behind a scan in the exchange
constexpr int kAheadScanMs = 3;
constexpr int kShortWaitMs = 30;
constexpr int kHangupMs = 5;
constexpr int kQueuedScans = 5;      // each followed by a write, taken later
constexpr size_t kLateTail = 400;   // 35 ms of the line, there at once

std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Letters that no reply parser takes for an ACK or an end.
std::vector<uint8_t> letters(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>('A' + (i * 7) % 26);
    return v;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Sends a scan now and waits until it is in the port.
void scan_waiting(SimRunner* sim, const std::vector<uint8_t>& bytes) {
    sim_send_scan(sim, sim_scan(bytes, SimScanTrigger::AfterDelay, 0));
    sim_wait_output_idle(sim, kIdleMs);
    sleep_ms(kSettleMs);
}

int wait_scan(ScanSession* s, int timeout_ms) {
    static unsigned char buf[SCAN_SESSION_MAX_SCAN];
    return scan_session_wait_scan(s, timeout_ms, buf, sizeof buf, nullptr);
}

// A second owner in another process: the child's copy of the session is
// closed without a trace, and its own open meets the parent's lock.
void open_in_child(ScanSession* s) {
    pid_t child = fork();
    if (child == 0) {
        hostlog_set_echo(0);
        scan_session_close(s);
        hostlog_set_echo(1);
        int error = 0;
        _exit(scan_session_open(&error) == nullptr ? 0 : 1);
    }
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
}

int run(int, char**) {
    int master = devns_install_pty();
    SimRunner* sim = master < 0 ? nullptr : sim_create(master);
    if (sim == nullptr || !sim_start(sim)) {
        fprintf(stderr, "replay_session_capture: no simulated engine\n");
        return 1;
    }
    sim_with_engine(sim, [](SimEngine* e) {
        e->enabled[3] = true;
        sim_engine_set_setting(e, "777", "ABC");
    });
    int error = 0;
    char value[16];

    sim_send_scan(sim, sim_scan(letters(kTailScan), SimScanTrigger::AfterDelay, 0));
    sleep_ms(kInFlightMs);
    ScanSession* s = scan_session_open(&error);
    if (s == nullptr) {
        fprintf(stderr, "replay_session_capture: the session did not open (%d)\n", error);
        sim_destroy(sim);
        return 1;
    }
    sim_wait_output_idle(sim, kIdleMs);

    scan_session_open_dev(s, true);
    scan_waiting(sim, bytes_of("4006381333931"));
    scan_session_enable_type(s, true, 3);
    scan_session_enable_type(s, false, 20);
    scan_session_set_timeout(s, 1200);
    scan_session_set_command(s, "A B?");
    scan_session_profile(s);

    scan_session_check_type(s, 3);
    sim_push_fault(sim, sim_fault(SimFaultKind::Delay, kAheadDelayMs));
    sim_send_scan(sim, sim_scan(bytes_of("AHEAD-1"), SimScanTrigger::AfterDelay, kAheadScanMs));
    scan_session_get_timeout(s, value);
    sim_push_fault(sim, sim_fault_bytes(SimFaultKind::ExtraBytes, bytes_of("BEHIND")));
    scan_session_query(s, 777, value);
    sim_wait_output_idle(sim, kIdleMs);
    // Waits that take the reader's scans (a wait logs nothing).
    for (int i = 0; i < 3; ++i) wait_scan(s, kLongWaitMs);
    scan_session_query(s, 424242, value);

    sim_push_fault(sim, sim_fault(SimFaultKind::Delay, kLateReplyMs));
    scan_session_check_type(s, 3);
    sim_send_scan(sim, sim_scan(bytes_of("AFTER-LATE"), SimScanTrigger::AfterDelay, kScanAfterLateMs));
    wait_scan(s, kLongWaitMs);

    sim_send_scan(sim, sim_scan(letters(kWokenScan), SimScanTrigger::AfterDelay, 0));
    std::thread waker([s] {
        sleep_ms(kWakeAfterMs);
        scan_session_wake(s);
    });
    wait_scan(s, kLongWaitMs);
    waker.join();
    wait_scan(s, kLongWaitMs);
    wait_scan(s, kShortWaitMs);

    for (int i = 0; i < kQueuedScans; ++i) {
        scan_waiting(sim, bytes_of("KEPT-" + std::to_string(i)));
        scan_session_profile(s);
    }
    for (int i = 0; i < kQueuedScans; ++i) wait_scan(s, kShortWaitMs);

    tcflow(devns_slave_fd(), TCOOFF);
    scan_session_profile(s);
    tcflow(devns_slave_fd(), TCOON);
    scan_session_check_type(s, 35);
    scan_session_set_command(s, nullptr);
    scan_session_query(s, 1, nullptr);
    scan_session_open(&error);
    open_in_child(s);

    sim_push_fault(sim, sim_fault(SimFaultKind::Hangup, kHangupMs));
    scan_session_check_type(s, 3);
    scan_session_check_type(s, 3);
    scan_session_close(s);
    scan_session_profile(s);

    devns_set_shape(DevnsShape::Absent);
    scan_session_open(&error);
    devns_set_shape(DevnsShape::Regular);
    scan_session_open(&error);
    sim_destroy(sim);

    // A second session, on a quiet line: a message that comes at once,
    // more bytes than the line carries in the open's look, is the tail of
    // one that was on the line, and the reader drops it for the open.
    master = devns_install_pty();
    sim = master < 0 ? nullptr : sim_create(master);
    if (sim != nullptr && sim_start(sim) && (s = scan_session_open(&error)) != nullptr) {
        SimLine at_once;
        at_once.baud = 0;
        sim_set_line(sim, at_once);
        sim_send_scan(sim, sim_scan(letters(kLateTail), SimScanTrigger::AfterDelay, 0));
        wait_scan(s, kShortWaitMs);
        scan_session_close(s);
    }
    sim_destroy(sim);
    devns_teardown();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return devns_main(argc, argv, run); }
