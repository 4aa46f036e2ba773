// Counts the kernel keeps for the calling thread, without a tracer slowing
// its calls down.
#pragma once

// Read-type system calls this thread has made so far ("syscr"); -1 when
// the kernel does not tell.
long thread_reads();

// Times this thread has blocked and been woken again so far (voluntary
// context switches); -1 when the kernel does not tell.
long thread_wakeups();
