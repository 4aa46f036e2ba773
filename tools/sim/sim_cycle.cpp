#include "sim_cycle.h"

namespace {

bool close_group(SimCycleTracker* t) {
    bool was_open = t->flushes > 0;
    t->flushes = 0;
    t->deadline = -1;
    return was_open;
}

}  // namespace

bool sim_cycle_flush(SimCycleTracker* t, int64_t now_ms) {
    ++t->flushes;
    t->last_flush = now_ms;
    if (t->flushes >= 2) return close_group(t);
    t->deadline = now_ms + t->settle_ms;
    return false;
}

bool sim_cycle_data(SimCycleTracker* t, int64_t) { return close_group(t); }

bool sim_cycle_tick(SimCycleTracker* t, int64_t now_ms) {
    if (t->deadline < 0 || now_ms < t->deadline) return false;
    return close_group(t);
}

int64_t sim_cycle_deadline(const SimCycleTracker* t) { return t->deadline; }

int64_t sim_cycle_last_flush(const SimCycleTracker* t) { return t->last_flush; }
