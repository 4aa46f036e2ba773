#include "scan_queue.h"

#include <string.h>

namespace {

void drop_oldest(ScanQueue *q)
{
    size_t len = q->scans[q->head].len;
    q->start = (q->start + len) % kQueueBytes;
    q->used -= len;
    q->head = (q->head + 1) % kQueueScans;
    q->count--;
}

} // namespace

void queue_clear(ScanQueue *q)
{
    q->start = 0;
    q->used = 0;
    q->head = 0;
    q->count = 0;
}

size_t queue_push(ScanQueue *q, const unsigned char *p, size_t len, int64_t first_us,
                  size_t *dropped_bytes)
{
    size_t dropped = 0;
    while (q->count > 0 && (q->count == kQueueScans || q->used + len > kQueueBytes)) {
        *dropped_bytes += q->scans[q->head].len;
        drop_oldest(q);
        dropped++;
    }
    size_t at = (q->start + q->used) % kQueueBytes;
    size_t first_part = len < kQueueBytes - at ? len : kQueueBytes - at;
    memcpy(q->bytes + at, p, first_part);
    memcpy(q->bytes, p + first_part, len - first_part);
    q->used += len;
    QueuedScan *e = &q->scans[(q->head + q->count) % kQueueScans];
    e->len = len;
    e->first_us = first_us;
    q->count++;
    return dropped;
}

size_t queue_pop(ScanQueue *q, unsigned char *buf, size_t cap, int64_t *first_us)
{
    const QueuedScan *e = &q->scans[q->head];
    size_t n = e->len < cap ? e->len : cap;
    size_t first_part = n < kQueueBytes - q->start ? n : kQueueBytes - q->start;
    memcpy(buf, q->bytes + q->start, first_part);
    memcpy(buf + first_part, q->bytes, n - first_part);
    *first_us = e->first_us;
    drop_oldest(q);
    return n;
}
