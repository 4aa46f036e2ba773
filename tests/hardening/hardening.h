// Helpers of the hardening tests: how long a call took, what the process
// holds (descriptors, heap), what waits in the port's input queue, and the
// bounds that no call may exceed whatever the engine does.
#ifndef SCANJNI_TESTS_HARDENING_H
#define SCANJNI_TESTS_HARDENING_H

#include <chrono>
#include <cstddef>
#include <string>

#include <unistd.h>

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

// Entries in /proc/self/fd.
int fd_count();

// Bytes of heap in use (glibc mallinfo2().uordblks).
size_t heap_in_use();

// Bytes waiting in the input queue of the pty behind /dev/ttyMT1, seen
// through the harness's own slave descriptor; -1 without one.
int port_pending();

// A result as text, so that a null result and the empty text differ.
std::string text_or_null(const char *text);

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

// Polls pred every millisecond until it holds or timeout_ms has passed.
template <typename Pred>
bool wait_for(Pred pred, int timeout_ms)
{
    for (Stopwatch clock; !pred(); usleep(1000))
        if (clock.ms() > timeout_ms)
            return false;
    return true;
}

#endif
