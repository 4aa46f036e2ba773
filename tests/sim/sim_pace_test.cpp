// When the bytes of a message are due on the line: whole byte times from
// the start, whole bursts, a short last burst, instant delivery.
#include <gtest/gtest.h>

#include "sim_pace.h"

namespace {

struct DueCase {
    unsigned baud;
    size_t burst;
    size_t size;
    int64_t after_us;  // since the start
    size_t due;
};

// 115200: a byte every 86.81 us; 9600: every 1041.67 us.
const DueCase kDue[] = {
    {115200, 1, 200, -5, 0},
    {115200, 1, 200, 85, 0},
    {115200, 1, 200, 86, 1},
    {115200, 1, 200, 17360, 199},
    {115200, 1, 200, 17361, 200},
    {115200, 1, 200, 1000000000, 200},
    {115200, 16, 40, 1387, 0},
    {115200, 16, 40, 1388, 16},
    {115200, 16, 40, 2776, 16},
    {115200, 16, 40, 2777, 32},
    {115200, 16, 40, 3471, 32},
    {115200, 16, 40, 3472, 40},
    {9600, 1, 100, 1040, 0},
    {9600, 1, 100, 1041, 1},
    {9600, 1, 100, 104165, 99},
    {9600, 1, 100, 104166, 100},
    {0, 1, 5000, -1, 0},
    {0, 1, 5000, 0, 5000},
};

TEST(SimPaceTest, BytesFallDueAtWholeByteTimesAndBursts) {
    constexpr int64_t kStart = 5000000;
    for (const DueCase& c : kDue) {
        SimPace p;
        p.start_us = kStart;
        p.baud = c.baud;
        p.burst = c.burst;
        p.size = c.size;
        size_t due = sim_pace_due(&p, kStart + c.after_us);
        EXPECT_EQ(due, c.due) << c.baud << " baud, burst " << c.burst << ", "
                              << c.after_us << " us";
        // The next burst is due exactly when sim_pace_due counts it.
        if (due < c.size) {
            int64_t next = sim_pace_next(&p, due);
            EXPECT_GT(next, kStart + c.after_us);
            EXPECT_GT(sim_pace_due(&p, next), due);
        }
    }
}

}  // namespace
