// The engine's loop: wait for the master or the next due time, turn
// received bytes into frames and answers, and send due messages at the
// line's pace. All times are microseconds of sim_now_us.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "sim_runner.h"
#include "sim_runner_state.h"

namespace {

constexpr size_t kReadChunk = 8192;
constexpr int64_t kUsPerMs = 1000;
constexpr long kNsPerUs = 1000;
// The thread's timer slack in ns: the default 50 us would make every
// paced byte late by most of a byte time.
constexpr unsigned long kTimerSlackNs = 1;
// While no descriptor of the slave is open the master reports a hang-up
// without end, so it is not polled; a read this often tells when the
// slave is open again.
constexpr int64_t kSlaveProbeUs = 1000;

void handle_frames(SimRunner* r, SimChunks& chunks, int64_t now) {
    for (const std::vector<uint8_t>& c : chunks) {
        SimReplyPlan plan = sim_engine_receive(&r->engine, c.data(), c.size());
        if (r->hook) r->hook(r->engine.frames.back(), r->hook_arg);
        int64_t first = now + r->line.reply_delay_us + plan.delay_ms * kUsPerMs;
        for (size_t i = 0; i < plan.writes.size(); ++i) {
            // The byte vectors are copy-constructed, not copy-assigned:
            // GCC 12 at -O3 reports a false -Wnonnull in vector's operator=.
            SimTimed t;
            t.due = first + static_cast<int64_t>(i) * plan.gap_ms * kUsPerMs;
            t.bytes = std::vector<uint8_t>(plan.writes[i]);
            sim_schedule(r, std::move(t));
        }
        if (plan.hangup) {
            SimTimed t;
            t.due = now + plan.hangup_ms * kUsPerMs;
            t.hangup = true;
            sim_schedule(r, std::move(t));
        }
    }
    if (!chunks.empty()) r->cv.notify_all();
    chunks.clear();
}

// `at_ms` is when the configuration ended: the second flush notice, the
// first frame, or the lone notice that stood for both flushes.
void on_configured(SimRunner* r, int64_t at_ms) {
    ++r->configures;
    r->cv.notify_all();
    if (r->after_configure.empty()) return;
    SimTimed t;
    int delay_ms = std::max(r->after_configure.front().delay_ms, kSimAfterConfigureMinMs);
    t.due = (at_ms + delay_ms) * kUsPerMs;
    t.bytes = std::move(r->after_configure.front().bytes);
    t.is_scan = true;
    r->after_configure.pop_front();
    sim_schedule(r, std::move(t));
}

// With SimLine::flush_cuts only: scan data that the port had only partly
// taken when a new port cycle starts is dropped, and the line is free from
// then on. A real engine knows nothing of the host's flushes and sends
// every message it has begun to its end.
void cut_partial_scans(SimRunner* r, int64_t now) {
    if (!r->line.flush_cuts) return;
    while (!r->output.empty() && r->output.front().is_scan &&
           r->output.front().offset > 0) {
        r->output.pop_front();
        r->line_free_us = now;
        r->cv.notify_all();
    }
}

void read_master(SimRunner* r, int64_t now) {
    int64_t now_ms = now / kUsPerMs;
    SimChunks chunks;
    uint8_t buf[kReadChunk + 1];
    for (;;) {
        ssize_t n = read(r->master, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        // EIO: no descriptor of the slave is open (between two port cycles
        // of a user that keeps none open); anything else: it is open.
        r->slave_closed = n < 0 && errno == EIO;
        if (n <= 0) break;
        if (buf[0] == TIOCPKT_DATA) {
            r->received.insert(r->received.end(), buf + 1, buf + n);
            sim_parser_feed(&r->parser, buf + 1, static_cast<size_t>(n - 1),
                            chunks);
            if (n > 1 && sim_cycle_data(&r->cycle, now_ms)) on_configured(r, now_ms);
        } else if (buf[0] & TIOCPKT_FLUSHREAD) {
            // A flush starts the configuration of a new port cycle.
            sim_parser_cycle_end(&r->parser, chunks);
            cut_partial_scans(r, now);
            if (sim_cycle_flush(&r->cycle, now_ms)) on_configured(r, now_ms);
        }
    }
    sim_parser_burst_end(&r->parser, chunks);
    handle_frames(r, chunks, now);
}

void run_due(SimRunner* r, int64_t now) {
    for (SimRepeat& rep : r->repeats) {
        if (rep.next_due > now) continue;
        SimTimed t;
        t.due = rep.next_due;
        t.bytes = std::vector<uint8_t>(rep.scan.bytes);
        t.is_scan = true;
        sim_schedule(r, std::move(t));
        rep.next_due += std::max(1, rep.scan.period_ms) * kUsPerMs;
    }
    while (!r->timed.empty() && r->timed.front().due <= now) {
        SimTimed t = std::move(r->timed.front());
        r->timed.erase(r->timed.begin());
        if (t.hangup) {
            close(r->master);
            r->hung_up = true;
            r->cv.notify_all();
            return;
        }
        SimOutput o;
        o.bytes = std::move(t.bytes);
        // Never from a time already past: a message whose due time the
        // loop noticed late (a port configuration recognised at the end of
        // its settle time) still goes out at the line's pace.
        o.ready_us = std::max(t.due, now);
        o.is_scan = t.is_scan;
        r->output.push_back(std::move(o));
    }
}

// The message at the head of the line starts when it was handed over or
// when the one before it has left, whichever is later, at the line
// settings of that moment.
void start_head(SimRunner* r) {
    SimOutput& o = r->output.front();
    if (o.started) return;
    o.started = true;
    o.pace.start_us = std::max(o.ready_us, r->line_free_us);
    o.pace.baud = r->line.baud;
    o.pace.burst = r->line.burst;
    o.pace.size = o.bytes.size();
    r->line_free_us = sim_pace_at(&o.pace, o.pace.size);
}

// Writes every byte that is due, message after message; returns when the
// head message has bytes still to come. Bytes the port does not take (its
// buffer is full: nobody has read for a long while, or nobody has the
// slave open and the buffer filled up) are lost, as on a UART that nobody
// reads, and the message goes on at its pace.
void write_output(SimRunner* r, int64_t now) {
    while (!r->output.empty()) {
        start_head(r);
        SimOutput& o = r->output.front();
        size_t due = sim_pace_due(&o.pace, now);
        if (o.offset < due) {
            int64_t at = sim_now_us();
            ssize_t n = write(r->master, o.bytes.data() + o.offset, due - o.offset);
            if (n < 0 && errno == EINTR) continue;
            size_t taken = n > 0 ? static_cast<size_t>(n) : 0;
            for (size_t i = o.offset; i < due; ++i) {
                r->sent.push_back({at, o.bytes[i], i >= o.offset + taken});
            }
            o.offset = due;
            r->cv.notify_all();
        }
        if (o.offset < o.bytes.size()) return;
        if (o.is_scan) ++r->scans_written;
        r->output.pop_front();
        r->cv.notify_all();
    }
}

// The next time the loop has something to do, or -1 when only the master
// or the wake pipe can bring work.
int64_t next_wake(SimRunner* r) {
    int64_t next = -1;
    auto consider = [&next](int64_t t) {
        if (t >= 0 && (next < 0 || t < next)) next = t;
    };
    if (!r->timed.empty()) consider(r->timed.front().due);
    for (const SimRepeat& rep : r->repeats) consider(rep.next_due);
    int64_t settle_ms = sim_cycle_deadline(&r->cycle);
    if (settle_ms >= 0) consider(settle_ms * kUsPerMs);
    if (!r->output.empty()) {
        const SimOutput& o = r->output.front();
        consider(o.started ? sim_pace_next(&o.pace, o.offset) : 0);
    }
    if (r->slave_closed) consider(sim_now_us() + kSlaveProbeUs);
    return next;
}

// Waits on the master and the wake pipe until `until` (-1: no limit).
int wait_until(pollfd* fds, int64_t until) {
    if (until < 0) return ppoll(fds, 2, nullptr, nullptr);
    int64_t left = std::max<int64_t>(0, until - sim_now_us());
    timespec ts;
    ts.tv_sec = static_cast<time_t>(left / kSimUsPerSecond);
    ts.tv_nsec = static_cast<long>(left % kSimUsPerSecond) * kNsPerUs;
    return ppoll(fds, 2, &ts, nullptr);
}

}  // namespace

int sim_run(SimRunner* r) {
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
    while (!r->stop.load()) {
        pollfd fds[2];
        int64_t until;
        {
            std::lock_guard<std::mutex> lock(r->mu);
            if (r->hung_up) return 0;
            until = next_wake(r);
            fds[0] = {r->slave_closed ? -1 : r->master, POLLIN, 0};
            fds[1] = {r->wake[0], POLLIN, 0};
        }
        if (wait_until(fds, until) < 0 && errno != EINTR) return -1;
        char drain[64];
        while (read(r->wake[0], drain, sizeof drain) > 0) {
        }
        std::lock_guard<std::mutex> lock(r->mu);
        int64_t now = sim_now_us();
        read_master(r, now);
        if (sim_cycle_tick(&r->cycle, now / kUsPerMs)) {
            on_configured(r, sim_cycle_last_flush(&r->cycle));
        }
        run_due(r, now);
        if (r->hung_up) return 0;
        // Bytes that fell due while the loop was busy go out now as well.
        write_output(r, sim_now_us());
    }
    return 0;
}
