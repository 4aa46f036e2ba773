// Who holds the line. Every descriptor open on a tty shares its input
// queue, so a flush on one discards what another was reading: a held
// session and the port cycles of the per-call functions must never
// overlap, in one process or in several.
//
// The locks are open-file-description locks on two bytes of the device,
// so they go with the descriptor (a process that dies releases them) and
// a second open in the same process conflicts like another process:
//   - the session byte: a session holds it exclusively; every port cycle
//     holds it shared, so a cycle finds a session at once (and fails), and
//     a session's open finds cycles (and waits for them to end);
//   - the cycle byte: a port cycle holds it exclusively for its length,
//     so overlapping cycles run one after the other.
// A kernel without such locks (before Linux 3.15) gets whole-file flock
// locks instead: the session exclusive, cycles shared; cycles of several
// processes are then not serialised.
#ifndef SCANJNI_CORE_OWNER_H
#define SCANJNI_CORE_OWNER_H

#include "line_timing.h" // kCycleLongestMs

enum class CycleLock {
    Taken,          // the cycle may configure the port
    SessionHeld,    // a session holds the port (errno set)
    CyclesAhead,    // cycles ahead of it did not end in time (errno set)
};

// Takes the port for a port cycle on fd, waiting for the cycles ahead of
// it: those of this process in the order they came (each is bounded, so
// the wait is), then those of other processes for kCycleLongestMs at most.
// *waited_ms tells how long it waited. A cycle that took the port gives it
// back with owner_unlock_cycle before its descriptor is closed.
CycleLock owner_lock_cycle(int fd, unsigned int *waited_ms);
void owner_unlock_cycle();

// Takes the port for a session on fd, waiting for port cycles under way.
// 0, or the errno of the refusal (EWOULDBLOCK: another session holds it).
int owner_lock_session(int fd);

#endif
