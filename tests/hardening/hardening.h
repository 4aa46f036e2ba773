// Helpers of the hardening tests beside the device tests' own (open
// descriptors, results as text, waits for a condition): how long a call
// took, the heap in use, what waits in the port's input queue, and the
// bounds that no call may exceed whatever the engine does.
#ifndef SCANJNI_TESTS_HARDENING_H
#define SCANJNI_TESTS_HARDENING_H

#include "device_env.h"

#include <chrono>
#include <cstddef>

// Upper bounds of one call, in ms: the documented waits (100 ms after a
// setting write, a 100 ms reply poll, a one-second scan data poll) plus
// a wide margin for a loaded machine and sanitizer builds.
constexpr long kWriteBoundMs = 3000;
constexpr long kQuestionBoundMs = 3000;
constexpr long kReadBoundMs = 5000;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapIsSanitized = true; // the sanitizer's allocator bypasses mallinfo2
#else
constexpr bool kHeapIsSanitized = false;
#endif

// Bytes of heap in use (glibc mallinfo2().uordblks).
size_t heap_in_use();

// Bytes waiting in the input queue of the pty behind /dev/ttyMT1, seen
// through the harness's own slave descriptor; -1 without one.
int port_pending();

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long ms() const
    {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
    }

private:
    std::chrono::steady_clock::time_point start_;
};

#endif
