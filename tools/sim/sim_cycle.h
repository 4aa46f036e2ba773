// Tells when the library has finished configuring the port, from the flush
// notifications that the pty master sees in packet mode (TIOCPKT).
//
// Each port cycle flushes the port twice while configuring it; data written
// to the port before the second flush is discarded. The two notifications
// may reach the master as one when the reader is slow, so a cycle counts as
// configured at the second notification, or `settle_ms` after a lone one, or
// as soon as the library writes a frame (which it does after both flushes).
//
// Usage (times in ms of any monotonic clock):
//   SimCycleTracker t;                       // settle_ms defaults to 50
//   if (sim_cycle_flush(&t, now)) configured();
//   if (sim_cycle_data(&t, now)) configured();
//   if (sim_cycle_tick(&t, now)) configured();   // at sim_cycle_deadline(&t)
#pragma once

#include <cstdint>

struct SimCycleTracker {
    int settle_ms = 50;
    int flushes = 0;          // flush notifications in the open group
    int64_t deadline = -1;    // when a lone notification counts as configured
    int64_t last_flush = -1;  // time of the latest flush notification
};

bool sim_cycle_flush(SimCycleTracker* t, int64_t now_ms);
bool sim_cycle_data(SimCycleTracker* t, int64_t now_ms);
bool sim_cycle_tick(SimCycleTracker* t, int64_t now_ms);
// Time of the latest flush notification: when a lone notice is judged to
// stand for both flushes, the configuration ended then.
int64_t sim_cycle_last_flush(const SimCycleTracker* t);
// Next time sim_cycle_tick can report, or -1.
int64_t sim_cycle_deadline(const SimCycleTracker* t);
