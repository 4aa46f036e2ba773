// Counts the kernel keeps for the calling thread, without a tracer slowing
// its calls down.
#pragma once

struct ThreadCounts {
    long reads;    // read-type system calls ("syscr")
    long wakeups;  // times the thread blocked and was woken (voluntary context switches)
};

// The counts so far; -1 in a field the kernel does not tell.
ThreadCounts thread_counts();

// What the thread did since `before` (taken with thread_counts), less what
// taking the counts costs in the counts themselves.
ThreadCounts thread_counts_since(const ThreadCounts& before);
