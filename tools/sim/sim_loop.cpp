// The engine's loop: poll the master, turn received bytes into frames and
// answers, and write due replies and scan data.
#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "sim_runner.h"
#include "sim_runner_state.h"

namespace {

constexpr size_t kReadChunk = 8192;

void handle_frames(SimRunner* r, SimChunks& chunks, int64_t now) {
    for (const std::vector<uint8_t>& c : chunks) {
        SimReplyPlan plan = sim_engine_receive(&r->engine, c.data(), c.size());
        if (r->hook) r->hook(r->engine.frames.back(), r->hook_arg);
        for (size_t i = 0; i < plan.writes.size(); ++i) {
            // The byte vectors are copy-constructed, not copy-assigned:
            // GCC 12 at -O3 reports a false -Wnonnull in vector's operator=.
            SimTimed t;
            t.due = now + plan.delay_ms + static_cast<int64_t>(i) * plan.gap_ms;
            t.bytes = std::vector<uint8_t>(plan.writes[i]);
            sim_schedule(r, std::move(t));
        }
        if (plan.hangup) {
            SimTimed t;
            t.due = now + plan.hangup_ms;
            t.hangup = true;
            sim_schedule(r, std::move(t));
        }
    }
    if (!chunks.empty()) r->cv.notify_all();
    chunks.clear();
}

// `at` is when the configuration ended: the second flush notice, the first
// frame, or the lone notice that stood for both flushes.
void on_configured(SimRunner* r, int64_t at) {
    ++r->configures;
    r->cv.notify_all();
    if (r->after_configure.empty()) return;
    SimTimed t;
    t.due = at + r->after_configure.front().delay_ms;
    t.bytes = std::move(r->after_configure.front().bytes);
    t.is_scan = true;
    r->after_configure.pop_front();
    sim_schedule(r, std::move(t));
}

// Scan data that the port had only partly taken when a new port cycle
// starts is dropped: that cycle's flush discards what was taken.
void drop_partial_scans(SimRunner* r) {
    while (!r->output.empty() && r->output.front().is_scan &&
           r->output.front().offset > 0) {
        r->output.pop_front();
    }
}

void read_master(SimRunner* r, int64_t now) {
    SimChunks chunks;
    uint8_t buf[kReadChunk + 1];
    for (;;) {
        ssize_t n = read(r->master, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EIO) r->slave_gone = true;
        if (n <= 0) break;
        if (buf[0] == TIOCPKT_DATA) {
            r->received.insert(r->received.end(), buf + 1, buf + n);
            sim_parser_feed(&r->parser, buf + 1, static_cast<size_t>(n - 1),
                            chunks);
            if (n > 1 && sim_cycle_data(&r->cycle, now)) on_configured(r, now);
        } else if (buf[0] & TIOCPKT_FLUSHREAD) {
            // A flush starts the configuration of a new port cycle.
            sim_parser_cycle_end(&r->parser, chunks);
            drop_partial_scans(r);
            if (sim_cycle_flush(&r->cycle, now)) on_configured(r, now);
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
        rep.next_due += std::max(1, rep.scan.period_ms);
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
        r->output.push_back({std::move(t.bytes), 0, t.is_scan});
    }
}

void write_output(SimRunner* r) {
    while (!r->output.empty()) {
        SimOutput& o = r->output.front();
        size_t left = o.bytes.size() - o.offset;
        if (left > 0) {
            ssize_t n = write(r->master, o.bytes.data() + o.offset, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            o.offset += static_cast<size_t>(n);
            if (o.offset < o.bytes.size()) return;
        }
        if (o.is_scan) ++r->scans_written;
        r->output.pop_front();
        r->cv.notify_all();
    }
}

int poll_timeout(SimRunner* r, int64_t now) {
    int64_t next = -1;
    auto consider = [&next](int64_t t) {
        if (t >= 0 && (next < 0 || t < next)) next = t;
    };
    if (!r->timed.empty()) consider(r->timed.front().due);
    for (const SimRepeat& rep : r->repeats) consider(rep.next_due);
    consider(sim_cycle_deadline(&r->cycle));
    if (next < 0) return -1;
    return next <= now ? 0 : static_cast<int>(next - now);
}

}  // namespace

int sim_run(SimRunner* r) {
    while (!r->stop.load()) {
        pollfd fds[2];
        int timeout;
        {
            std::lock_guard<std::mutex> lock(r->mu);
            if (r->hung_up) return 0;
            timeout = poll_timeout(r, sim_now_ms());
            short ev = POLLIN;
            if (!r->output.empty()) ev |= POLLOUT;
            // Once the slave side is gone the master reports a hang-up
            // forever; then only the timers and the wake pipe are watched.
            fds[0] = {r->slave_gone ? -1 : r->master, ev, 0};
            fds[1] = {r->wake[0], POLLIN, 0};
        }
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) return -1;
        char drain[64];
        while (read(r->wake[0], drain, sizeof drain) > 0) {
        }
        std::lock_guard<std::mutex> lock(r->mu);
        int64_t now = sim_now_ms();
        if (!r->slave_gone) read_master(r, now);
        if (sim_cycle_tick(&r->cycle, now)) {
            on_configured(r, sim_cycle_last_flush(&r->cycle));
        }
        run_due(r, now);
        if (r->hung_up) return 0;
        write_output(r);
    }
    return 0;
}
