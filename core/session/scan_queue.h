// The scans that the held port's reader has ended and nobody has taken
// yet: a ring of bytes, so that many short scans or a few long ones fit in
// the same room, with one entry a scan. Pure logic, no I/O and no lock
// (the session locks around it).
#ifndef SCANJNI_CORE_SCAN_QUEUE_H
#define SCANJNI_CORE_SCAN_QUEUE_H

#include <stddef.h>
#include <stdint.h>

// Room for about three seconds of the line at its full rate (11,520 bytes
// a second), and for 64 scans: an engine scans at most about ten times a
// second.
constexpr size_t kQueueBytes = 32768;
constexpr size_t kQueueScans = 64;

struct QueuedScan {
    size_t len;
    int64_t first_us; // its first byte's arrival
};

struct ScanQueue {
    unsigned char bytes[kQueueBytes];
    size_t start; // where the oldest scan's bytes begin
    size_t used;  // bytes held
    QueuedScan scans[kQueueScans];
    size_t head;  // the oldest scan's entry
    size_t count;
};

void queue_clear(ScanQueue *q);

// Adds a scan of len bytes (at most kQueueBytes), first dropping the
// oldest scans until it fits. Returns how many were dropped; the bytes of
// each are added to *dropped_bytes.
size_t queue_push(ScanQueue *q, const unsigned char *p, size_t len, int64_t first_us,
                  size_t *dropped_bytes);

// Takes the oldest scan: copies at most cap of its bytes into buf (the
// rest is dropped) and returns how many were copied; *first_us is its
// first byte's time. The queue must not be empty.
size_t queue_pop(ScanQueue *q, unsigned char *buf, size_t cap, int64_t *first_us);

#endif
