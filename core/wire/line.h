// The line's timing, without any I/O: how long bytes take on the wire at
// 115200 8N1, how long a batch of them is left to gather before a read,
// and how a read tells the tail of a message that was already on the line
// when the port was flushed from a message that began after the flush.
#ifndef SCANJNI_CORE_LINE_H
#define SCANJNI_CORE_LINE_H

#include "line_timing.h"

#include <stddef.h>
#include <stdint.h>

// One byte at 115200 baud, 8N1: a start bit, 8 data bits and a stop bit.
constexpr uint32_t kLineBaud = 115200;
constexpr uint32_t kBitsPerByte = 10;
constexpr uint32_t kByteTimeNs = 1000000000u / kLineBaud * kBitsPerByte; // 86800 ns

// Once a reply is longer than its shortest form, its length is unknown:
// the rest is read this many bytes' time at a time.
constexpr size_t kReplyStepBytes = 4;

// A message whose bytes could not all have crossed the line since the
// flush began before it. Bytes cannot arrive faster than the line carries
// them, and the tty layer can only deliver them later, never sooner: a
// message that starts at the flush or later has, by any time t after the
// flush, delivered at most t / kByteTimeNs bytes. The bytes waiting when
// the port first turns readable after the flush tell it: a tail has more,
// because its byte in flight at the flush arrives less than a byte time
// after it. kTailMarginUs (timing.h) widens the test for a tty layer or a
// reader that is late by up to that much.

// Time that n bytes take on the wire, in microseconds, rounded up (kept in
// 32 bits: counts beyond 49481 bytes, over 4 s, are taken as that many).
uint32_t line_time_us(size_t n);

// Time to wait, once the port is readable, for the bytes that a reply of
// at least expect_len bytes still lacks when `seen` bytes of the exchange
// have been read: the first of them has arrived by then.
uint32_t reply_gather_us(size_t expect_len, size_t seen);

// What is left of a gather of gather_us (timed from the first byte's
// arrival) when `waiting` bytes are already in: the time the ones after
// the first took on the wire has passed. Bytes that were all there at once
// (a reader that came late, a pty fed in one piece) are read at once.
uint32_t gather_left_us(uint32_t gather_us, int waiting);

// True when `bytes` bytes, all read `since_flush_us` after the port was
// flushed, must belong to a message that was already on the line then.
bool began_before_flush(int64_t since_flush_us, size_t bytes);

#endif
