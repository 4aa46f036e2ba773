// Wall-clock timing for the benchmark: repeated runs, median.
#pragma once

#include <cstdint>
#include <vector>

int64_t bench_now_ns();

// Runs fn reps times and returns the median duration in microseconds.
// before (may be null) runs ahead of each timed call, outside the timing.
double bench_median_us(int reps, void (*fn)(), void (*before)() = nullptr);

double bench_median(std::vector<double> v);

// Runs a and b alternately reps times each, so that both meet the same
// machine conditions; returns their medians in microseconds.
void bench_paired_us(int reps, void (*a)(), void (*b)(), double* a_us, double* b_us);
