// Every time the library keeps on the line, in one place, with what it
// stands for. The line itself: 115200 baud, 8N1, so a byte takes 86.8 us.
#ifndef SCANJNI_CORE_LINE_TIMING_H
#define SCANJNI_CORE_LINE_TIMING_H

#include <stdint.h>

// One attempt of a poll: a question's reply and a scan data read are
// looked for in attempts of this length, and a session's open returns one
// attempt after its flush.
constexpr unsigned int kPollIntervalMs = 10;

// A question's budget: its reply must come within this many attempts of
// its frame's leaving, per call and on the held port alike.
constexpr int kReplyAttempts = 10;
constexpr unsigned int kReplyBudgetMs = kReplyAttempts * kPollIntervalMs;
constexpr unsigned int kAnswerBudgetMs = kReplyBudgetMs;

// The read window: a scan data read waits this many attempts for a scan.
constexpr int kReadAttempts = 100;
constexpr unsigned int kReadWindowMs = kReadAttempts * kPollIntervalMs;

// A write that sets something is followed by this pause, the port still
// held, so that the engine has taken the setting before the next call.
constexpr unsigned int kSettleMs = 100;

// A frame's write, a short write continued and a full output queue waited
// out, gives up after this long.
constexpr unsigned int kWriteBudgetMs = 100;

// The quiet gap that ends a message of scan data. It is over 200 character
// times, so a UART driver that hands bytes over in bursts, or a tty layer
// that delivers them late under load, never splits a message; and it is a
// fifth of the 100 ms or more that lie between two trigger presses, so two
// scans never merge.
constexpr unsigned int kScanQuietGapMs = 20;

// Time left for bytes to gather once the line is busy, before each read
// of scan data: longer than a UART FIFO's period (16 bytes in 1.39 ms), so
// a read takes at least one whole FIFO load, and short enough that a
// scan's return is hardly later for it.
constexpr uint32_t kBatchUs = 2000;

// Longest time a message may take once it has begun. A full buffer takes
// 0.71 s; a line that keeps trickling bytes beyond this is no scan, and
// the reader must still end.
constexpr unsigned int kScanMessageMaxMs = 2000;

// The tail threshold: the bytes waiting at the first read after a flush
// belong to a message already on the line when they could not all have
// crossed it since the flush, give or take this margin for a tty layer or
// a reader that is late (below 1 ms, so that a message that begins 1 ms or
// more after the flush is never taken for a tail).
constexpr uint32_t kTailMarginUs = 900;

// The longest cycle: the longest a port cycle holds the port (a scan data
// read's window, the longest message and some slack). A cycle or a
// session's open waits this long at most for the cycles ahead of it.
constexpr unsigned int kCycleLongestMs = 3500;

// The lock retry: how often a cycle or a session's open looks again at a
// lock that another process holds. A blocking lock request cannot be
// bounded or called off without signals, so this one wait polls; waits
// within the process sleep until they are woken.
constexpr uint32_t kLockRetryUs = 1000;

// Waiting for a free port where the system refuses a watch on the device:
// how often the locks are looked at instead.
constexpr int kNoWatchRecheckMs = 20;

// The kernel tells of a close before it removes the closed description's
// locks: for kAfterCloseUs after a close a waiter for a free port looks
// again every kAfterCloseRecheckUs.
constexpr int64_t kAfterCloseUs = 20000;
constexpr int64_t kAfterCloseRecheckUs = 500;

// The late-answer window: how long after its question ended an answer is
// still known as one (never taken for a scan), and how long an unanswered
// question's answer is awaited before a question with its echo goes out.
constexpr unsigned int kLateAnswerMs = 1000;

// Longest a request on the held port waits for the session's reader: for
// an owed answer, a message in progress and its answer's budget, with room
// to spare. The reader always answers sooner; this only bounds a reader
// that cannot run.
constexpr unsigned int kRequestLongestMs =
    kLateAnswerMs + 2 * kScanMessageMaxMs + 4 * kAnswerBudgetMs;

#endif
