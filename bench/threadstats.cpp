#include "threadstats.h"

#include <stdio.h>

namespace {

// One number of a /proc file of this thread, read with `format` ("name:
// %ld"); -1 when it cannot be had.
long thread_number(const char* path, const char* format) {
    FILE* f = fopen(path, "r");
    if (f == nullptr) return -1;
    char line[96];
    long n = -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, format, &n) == 1) break;
    fclose(f);
    return n;
}

}  // namespace

long thread_reads() { return thread_number("/proc/thread-self/io", "syscr: %ld"); }

long thread_wakeups() {
    return thread_number("/proc/thread-self/status", "voluntary_ctxt_switches: %ld");
}
