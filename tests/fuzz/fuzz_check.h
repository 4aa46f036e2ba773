// What every fuzz target needs: a check that stays on in release builds
// (assert vanishes under NDEBUG) and buffers of exactly the size that the
// code under test may touch, on the heap so that AddressSanitizer reports
// the first byte read or written past either end.
#ifndef SCANJNI_FUZZ_CHECK_H
#define SCANJNI_FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#define FUZZ_REQUIRE(cond)                                                          \
    do {                                                                            \
        if (!(cond)) {                                                              \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                \
        }                                                                           \
    } while (0)

// size bytes, zero-filled; a null pointer stands for no buffer at all.
template <typename T>
std::unique_ptr<T[]> exact_buffer(size_t size)
{
    return size > 0 ? std::unique_ptr<T[]>(new T[size]()) : nullptr;
}

// True when none of the n bytes at p is zero.
inline bool no_zero(const void *p, size_t n)
{
    return n == 0 || memchr(p, 0, n) == nullptr;
}

#endif
