#include "sim_pace.h"

#include <algorithm>

namespace {

size_t burst_of(const SimPace* p) { return std::max<size_t>(1, p->burst); }

}  // namespace

int64_t sim_pace_at(const SimPace* p, size_t count) {
    if (p->baud == 0) return p->start_us;
    return p->start_us + static_cast<int64_t>(count) * kSimBitsPerByte *
                             kSimUsPerSecond / static_cast<int64_t>(p->baud);
}

int64_t sim_pace_next(const SimPace* p, size_t sent) {
    return sim_pace_at(p, std::min(p->size, sent + burst_of(p)));
}

size_t sim_pace_due(const SimPace* p, int64_t now_us) {
    if (now_us >= sim_pace_at(p, p->size)) return p->size;
    int64_t elapsed = now_us - p->start_us;
    if (elapsed <= 0) return 0;
    // elapsed is shorter than the message, so the product cannot overflow.
    // Whole byte times since the start, then down to whole bursts.
    int64_t bytes = elapsed * static_cast<int64_t>(p->baud) /
                    (kSimBitsPerByte * kSimUsPerSecond);
    if (bytes >= static_cast<int64_t>(p->size)) return p->size;
    size_t n = static_cast<size_t>(bytes);
    n -= n % burst_of(p);
    // The truncation of sim_pace_at may put a burst end a microsecond early.
    while (n < p->size && sim_pace_next(p, n) <= now_us) {
        n = std::min(p->size, n + burst_of(p));
    }
    return n;
}
