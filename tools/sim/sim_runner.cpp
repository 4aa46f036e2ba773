#include "sim_runner.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "sim_runner_state.h"

namespace {

constexpr int64_t kUsPerMs = 1000;
constexpr int64_t kNsPerUs = 1000;

}  // namespace

int64_t sim_now_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kSimUsPerSecond + ts.tv_nsec / kNsPerUs;
}

int64_t sim_now_ms() { return sim_now_us() / kUsPerMs; }

void sim_schedule(SimRunner* r, SimTimed item) {
    auto at = std::upper_bound(
        r->timed.begin(), r->timed.end(), item.due,
        [](int64_t due, const SimTimed& t) { return due < t.due; });
    r->timed.insert(at, std::move(item));
}

void sim_wake(SimRunner* r) {
    const char c = 1;
    ssize_t ignored = write(r->wake[1], &c, 1);
    (void)ignored;
}

SimRunner* sim_create(int master_fd) {
    SimRunner* r = new SimRunner;
    r->master = master_fd;
    sim_engine_init(&r->engine);
    int one = 1;
    int flags = fcntl(master_fd, F_GETFL);
    if (pipe2(r->wake, O_CLOEXEC | O_NONBLOCK) != 0 || flags < 0 ||
        fcntl(master_fd, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ioctl(master_fd, TIOCPKT, &one) != 0) {
        sim_destroy(r);
        return nullptr;
    }
    return r;
}

bool sim_start(SimRunner* r) {
    if (r->thread.joinable()) return false;
    r->thread = std::thread([r] { sim_run(r); });
    return true;
}

void sim_request_stop(SimRunner* r) {
    r->stop.store(true);
    sim_wake(r);
}

void sim_destroy(SimRunner* r) {
    if (r == nullptr) return;
    if (r->wake[1] >= 0) sim_request_stop(r);
    if (r->thread.joinable()) r->thread.join();
    if (!r->hung_up && r->master >= 0) close(r->master);
    for (int fd : r->wake) {
        if (fd >= 0) close(fd);
    }
    delete r;
}

void sim_set_frame_hook(SimRunner* r, SimFrameHook hook, void* arg) {
    std::lock_guard<std::mutex> lock(r->mu);
    r->hook = hook;
    r->hook_arg = arg;
}

void sim_set_settle_ms(SimRunner* r, int ms) {
    std::lock_guard<std::mutex> lock(r->mu);
    r->cycle.settle_ms = ms;
}

void sim_set_line(SimRunner* r, const SimLine& line) {
    {
        std::lock_guard<std::mutex> lock(r->mu);
        r->line = line;
        r->line.burst = std::max<size_t>(1, line.burst);
        r->line.reply_delay_us = std::max(0, line.reply_delay_us);
    }
    sim_wake(r);
}

SimLine sim_line(SimRunner* r) {
    std::lock_guard<std::mutex> lock(r->mu);
    return r->line;
}

void sim_with_engine(SimRunner* r,
                     const std::function<void(SimEngine*)>& fn) {
    std::lock_guard<std::mutex> lock(r->mu);
    fn(&r->engine);
}

void sim_push_fault(SimRunner* r, const SimFault& fault) {
    std::lock_guard<std::mutex> lock(r->mu);
    sim_engine_push_fault(&r->engine, fault);
}

void sim_set_persistent_fault(SimRunner* r, const SimFault& fault) {
    std::lock_guard<std::mutex> lock(r->mu);
    sim_engine_set_persistent_fault(&r->engine, fault);
}

SimScan sim_scan(const std::vector<uint8_t>& bytes, SimScanTrigger trigger,
                 int delay_ms, int period_ms) {
    SimScan s;
    s.bytes = bytes;
    s.trigger = trigger;
    s.delay_ms = delay_ms;
    s.period_ms = period_ms;
    return s;
}

void sim_send_scan(SimRunner* r, const SimScan& scan) {
    {
        std::lock_guard<std::mutex> lock(r->mu);
        int64_t due = sim_now_us() + scan.delay_ms * kUsPerMs;
        switch (scan.trigger) {
            case SimScanTrigger::AfterDelay: {
                SimTimed t;
                t.due = due;
                t.bytes = scan.bytes;
                t.is_scan = true;
                sim_schedule(r, std::move(t));
                break;
            }
            case SimScanTrigger::AfterConfigure:
                r->after_configure.push_back(scan);
                break;
            case SimScanTrigger::Every:
                r->repeats.push_back({scan, due});
                break;
        }
    }
    sim_wake(r);
}

void sim_cancel_scans(SimRunner* r) {
    std::lock_guard<std::mutex> lock(r->mu);
    r->after_configure.clear();
    r->repeats.clear();
    r->timed.erase(std::remove_if(r->timed.begin(), r->timed.end(),
                                  [](const SimTimed& t) { return t.is_scan; }),
                   r->timed.end());
    r->cv.notify_all();
}

namespace {

// A copy of one recorded field, taken under the lock.
template <typename T>
T locked_copy(SimRunner* r, const T& field) {
    std::lock_guard<std::mutex> lock(r->mu);
    return field;
}

template <typename Pred>
bool wait_for(SimRunner* r, int timeout_ms, Pred pred) {
    std::unique_lock<std::mutex> lock(r->mu);
    return r->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

bool wait_count(SimRunner* r, const int& counter, int count, int timeout_ms) {
    return wait_for(r, timeout_ms, [&counter, count] { return counter >= count; });
}

}  // namespace

std::vector<SimRecordedFrame> sim_frames(SimRunner* r) {
    return locked_copy(r, r->engine.frames);
}

bool sim_wait_frames(SimRunner* r, size_t count, int timeout_ms) {
    return wait_for(r, timeout_ms,
                    [r, count] { return r->engine.frames.size() >= count; });
}

std::vector<uint8_t> sim_received(SimRunner* r) {
    return locked_copy(r, r->received);
}

int sim_configures(SimRunner* r) { return locked_copy(r, r->configures); }

bool sim_wait_configures(SimRunner* r, int count, int timeout_ms) {
    return wait_count(r, r->configures, count, timeout_ms);
}

int sim_scans_written(SimRunner* r) { return locked_copy(r, r->scans_written); }

bool sim_wait_scans_written(SimRunner* r, int count, int timeout_ms) {
    return wait_count(r, r->scans_written, count, timeout_ms);
}

std::vector<SimSentByte> sim_sent(SimRunner* r) { return locked_copy(r, r->sent); }

bool sim_wait_sent(SimRunner* r, size_t count, int timeout_ms) {
    return wait_for(r, timeout_ms, [r, count] { return r->sent.size() >= count; });
}

bool sim_wait_output_idle(SimRunner* r, int timeout_ms) {
    return wait_for(r, timeout_ms, [r] {
        bool timed_write = std::any_of(r->timed.begin(), r->timed.end(),
                                       [](const SimTimed& t) { return !t.hangup; });
        return r->hung_up ||
               (r->output.empty() && r->after_configure.empty() && !timed_write);
    });
}

bool sim_hung_up(SimRunner* r) { return locked_copy(r, r->hung_up); }

void sim_clear_records(SimRunner* r) {
    std::lock_guard<std::mutex> lock(r->mu);
    r->engine.frames.clear();
    r->received.clear();
    r->sent.clear();
    r->configures = 0;
    r->scans_written = 0;
}
