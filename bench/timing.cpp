#include "timing.h"

#include <time.h>

#include <algorithm>

int64_t bench_now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double bench_median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

namespace {

double timed_us(void (*fn)()) {
    int64_t t0 = bench_now_ns();
    fn();
    return static_cast<double>(bench_now_ns() - t0) / 1000.0;
}

}  // namespace

void bench_paired_us(int reps, void (*a)(), void (*b)(), double* a_us, double* b_us) {
    std::vector<double> ta, tb;
    for (int i = 0; i < reps; ++i) {
        ta.push_back(timed_us(a));
        tb.push_back(timed_us(b));
    }
    *a_us = bench_median(ta);
    *b_us = bench_median(tb);
}

double bench_median_us(int reps, void (*fn)(), void (*before)()) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(reps));
    for (int i = 0; i < reps; ++i) {
        if (before) before();
        us.push_back(timed_us(fn));
    }
    return bench_median(us);
}
