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

ThreadCounts take() {
    ThreadCounts c;
    c.reads = thread_number("/proc/thread-self/io", "syscr: %ld");
    c.wakeups = thread_number("/proc/thread-self/status", "voluntary_ctxt_switches: %ld");
    return c;
}

ThreadCounts difference(const ThreadCounts& later, const ThreadCounts& before) {
    return {later.reads - before.reads, later.wakeups - before.wakeups};
}

// What one take costs: two takes in a row differ by it. Measured once, by
// the first thread_counts, before it takes its own count.
const ThreadCounts& take_cost() {
    static const ThreadCounts cost = [] {
        ThreadCounts first = take();
        return difference(take(), first);
    }();
    return cost;
}

}  // namespace

ThreadCounts thread_counts() {
    take_cost();
    return take();
}

ThreadCounts thread_counts_since(const ThreadCounts& before) {
    return difference(difference(take(), before), take_cost());
}
