// Who holds the line. Every descriptor open on a tty shares its input
// queue, so a flush on one discards what another was reading: a held
// session and the port cycles of the per-call functions must never
// overlap, in one process or in several.
//
// Within the process the owner counts the cycles under way and knows its
// own session, whatever the system allows: a session's open waits for the
// cycles under way, a cycle that comes while the session holds the port
// is refused, and cycles take turns, first come first served.
//
// Across processes, open-file-description locks on two bytes of the
// device, so they go with the descriptor (a process that dies releases
// them) and a second open in the same process conflicts like another
// process:
//   - the session byte: a session holds it exclusively; every port cycle
//     holds it shared, so a cycle finds a session at once (and fails), and
//     a session's open finds cycles (and waits for them to end);
//   - the cycle byte: a port cycle holds it exclusively for its length,
//     so overlapping cycles run one after the other.
// A kernel without such locks (before Linux 3.15, EINVAL) gets whole-file
// flock locks instead: the session exclusive, cycles shared; cycles of
// several processes are then not serialised, and a session's open cannot
// tell another session from cycles, so it waits kCycleLongestMs before it
// reports the port busy. A system that refuses every lock on the tty (a
// security policy without "lock": EACCES or EPERM, with the holder
// unreadable too) is no holder: the library then guards only within the
// process, and says so once in the log.
//
// Every descriptor the owner has locked is known to it until unlocked: a
// child that forks without exec closes them (see owner.cpp), so that it
// keeps no lock of its parent, and starts with no turn taken.
#ifndef SCANJNI_CORE_OWNER_H
#define SCANJNI_CORE_OWNER_H

// Longest a port cycle holds the port: a scan data read's one-second
// window, the longest message and some slack. A cycle or a session's open
// waits this long at most for the cycles ahead of it.
constexpr unsigned int kCycleLongestMs = 3500;

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
CycleLock owner_lock_cycle(const char *sig, int fd, unsigned int *waited_ms);
void owner_unlock_cycle(int fd);

// Takes the port for a session on fd, waiting for port cycles under way.
// 0, or the errno of the refusal (EWOULDBLOCK: another session holds it).
// sig is the caller's, for the line that tells once what the system's
// locks allow.
// A session that took the port gives it back with owner_unlock_session
// before its descriptor is closed.
int owner_lock_session(const char *sig, int fd);
void owner_unlock_session(int fd);

// True when no session, of this process or another, holds the port; fd
// is any descriptor of the device.
bool owner_port_free(int fd);

#endif
