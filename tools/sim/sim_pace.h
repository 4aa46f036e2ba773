// Timing of one message on the serial line, free of any I/O: when each
// byte (or burst of bytes) has finished arriving at the receiver.
//
// A byte takes 10 bit times at `baud` (8N1: start bit, 8 data bits, stop
// bit). With `burst` N the bytes are handed over N at a time, each burst
// when its last byte has finished arriving, as a UART FIFO or DMA does.
// Every time is computed from the message's start, so a late writer never
// pushes the later bytes back: it catches up by writing all that is due.
//
// Usage (times in microseconds of one monotonic clock):
//   SimPace p = {start_us, 115200, 1, bytes.size()};
//   size_t due = sim_pace_due(&p, now_us);      // bytes that may be written by now
//   int64_t next = sim_pace_next(&p, sent);     // when more than `sent` are due
//   int64_t end = sim_pace_at(&p, p.size);      // the line is free again
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int64_t kSimBitsPerByte = 10;
constexpr int64_t kSimUsPerSecond = 1000000;
constexpr unsigned kSimDefaultBaud = 115200;

struct SimPace {
    int64_t start_us = 0;
    unsigned baud = kSimDefaultBaud;  // 0: the whole message at its start
    size_t burst = 1;                 // treated as 1 when 0
    size_t size = 0;
};

// When the first `count` bytes of the message have finished arriving.
int64_t sim_pace_at(const SimPace* p, size_t count);
// How many bytes are due at `now_us`: whole bursts, and all of them once
// the last one is due.
size_t sim_pace_due(const SimPace* p, int64_t now_us);
// When the burst that follows the first `sent` bytes falls due.
int64_t sim_pace_next(const SimPace* p, size_t sent);
