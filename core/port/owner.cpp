#include "owner.h"
#include "clock.h"
#include "free_wait.h"
#include "log.h"
#include "logtext.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

// The numbers of the open-file-description locks, for C libraries whose
// headers lack them.
#ifndef F_OFD_GETLK
#define F_OFD_GETLK 36
#define F_OFD_SETLK 37
#endif

namespace {

const off_t kSessionByte = 0;
const off_t kCycleByte = 1;

// How often a waiting cycle or open looks at the lock again.
const uint32_t kLockRetryUs = 1000;

// On 32-bit bionic fcntl() is the fcntl64 call, which takes the 64-bit
// record; glibc converts its own record itself.
#if defined(__BIONIC__) && !defined(__LP64__)
typedef struct flock64 LockRecord;
#else
typedef struct flock LockRecord;
#endif

LockRecord lock_record(short type, off_t byte)
{
    LockRecord r = {};
    r.l_type = type;
    r.l_whence = SEEK_SET;
    r.l_start = byte;
    r.l_len = 1;
    return r;
}

// 0 when the lock was taken, else the errno (EINVAL: no such locks here).
int try_lock(int fd, short type, off_t byte)
{
    LockRecord r = lock_record(type, byte);
    return fcntl(fd, F_OFD_SETLK, &r) == 0 ? 0 : errno;
}

// The type of the lock that stands in the way of an exclusive one on the
// byte (F_UNLCK when none does), or -1 with errno when it cannot be read.
int lock_in_the_way(int fd, off_t byte)
{
    LockRecord r = lock_record(F_WRLCK, byte);
    if (fcntl(fd, F_OFD_GETLK, &r) != 0)
        return -1;
    return r.l_type;
}

bool busy(int err)
{
    return err == EAGAIN || err == EACCES || err == EWOULDBLOCK;
}

bool refusal(int err)
{
    return err == EACCES || err == EPERM;
}

// The lock a port cycle or a session took on the system's side.
enum class Locked {
    Description, // the session byte, as asked
    WholeFile,   // a flock: no description locks on this kernel
    Nothing,     // the system refuses locks on the tty
};

// Once per process each, the first time a lock request meets them.
bool g_told_refused;
bool g_told_whole_file;

void tell_once(bool *told, int prio, const char *fmt_sig, const char *sig, int err)
{
    if (!__atomic_exchange_n(told, true, __ATOMIC_SEQ_CST))
        CORE_LOG(prio, fmt_sig, sig, err);
}

// Asks for the session byte of type; 0 with *locked set, or the errno of
// the refusal by a holder. A request refused while the holder cannot be
// read either, or a flock refused with EACCES or EPERM (a flock that
// meets a holder fails with EWOULDBLOCK), is the system refusing locks:
// not a holder.
int lock_session_byte(const char *sig, int fd, short type, Locked *locked)
{
    *locked = Locked::Description;
    int err = try_lock(fd, type, kSessionByte);
    if (err == 0)
        return 0;
    if (err == EINVAL) {
        *locked = Locked::WholeFile;
        tell_once(&g_told_whole_file, PRIO_WARN, FMT_LOCKS_WHOLE_FILE, sig, err);
        err = flock(fd, (type == F_WRLCK ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0 ? 0 : errno;
        if (!refusal(err))
            return err;
    } else if (!refusal(err) || lock_in_the_way(fd, kSessionByte) != -1) {
        return err;
    }
    tell_once(&g_told_refused, PRIO_WARN, FMT_LOCKS_REFUSED, sig, err);
    *locked = Locked::Nothing;
    return 0;
}

// This process's cycles, first come first served: a ticket each, and the
// ticket whose turn it is; the cycles counted in (from their request to
// their unlock), and whether this process's session holds the port.
unsigned int g_next_ticket;
unsigned int g_serving;
int g_cycles_in;
bool g_session_here;

// The descriptors that hold a lock of this process (fd + 1; 0 is a free
// slot). One per thread in a cycle, and the session's: a process with
// more threads in cycles at once leaves the rest untracked, which only a
// child forked at that moment would notice.
const int kTrackedFds = 64;
int g_locked_fds[kTrackedFds];

void track(int fd)
{
    for (int &slot : g_locked_fds) {
        int empty = 0;
        if (__atomic_compare_exchange_n(&slot, &empty, fd + 1, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return;
    }
}

void untrack(int fd)
{
    for (int &slot : g_locked_fds) {
        int was = fd + 1;
        if (__atomic_compare_exchange_n(&slot, &was, 0, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return;
    }
}

// A child forked without exec has only the thread that forked: no cycle
// and no session of its parent runs in it. It closes its copies of the
// locked descriptors, which would keep the parent's locks for as long as
// the child lives, and starts with no turn taken, so its own calls wait
// for nobody of its parent.
void forget_in_child()
{
    for (int &slot : g_locked_fds) {
        int fd = __atomic_exchange_n(&slot, 0, __ATOMIC_SEQ_CST);
        if (fd != 0)
            close(fd - 1);
    }
    __atomic_store_n(&g_next_ticket, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_serving, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_cycles_in, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_session_here, false, __ATOMIC_SEQ_CST);
}

pthread_once_t g_fork_once = PTHREAD_ONCE_INIT;

void watch_forks()
{
    pthread_atfork(nullptr, nullptr, forget_in_child);
}

// True when it had to wait.
bool wait_turn()
{
    unsigned int ticket = __atomic_fetch_add(&g_next_ticket, 1, __ATOMIC_SEQ_CST);
    bool waited = false;
    while (__atomic_load_n(&g_serving, __ATOMIC_SEQ_CST) != ticket) {
        port_sleep_until(port_now_us() + kLockRetryUs);
        waited = true;
    }
    return waited;
}

void leave_cycles()
{
    __atomic_sub_fetch(&g_cycles_in, 1, __ATOMIC_SEQ_CST);
}

// Waits, up to give_up_us, until no cycle of this process is under way.
bool cycles_ended(int64_t give_up_us)
{
    while (__atomic_load_n(&g_cycles_in, __ATOMIC_SEQ_CST) != 0) {
        if (port_now_us() >= give_up_us)
            return false;
        port_sleep_until(port_now_us() + kLockRetryUs);
    }
    return true;
}

} // namespace

CycleLock owner_lock_cycle(const char *sig, int fd, unsigned int *waited_ms)
{
    pthread_once(&g_fork_once, watch_forks);
    *waited_ms = 0;
    // Counted in before the session is looked at, as the session's open
    // looks at the count after it has set its flag: one of the two sees
    // the other.
    __atomic_add_fetch(&g_cycles_in, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&g_session_here, __ATOMIC_SEQ_CST)) {
        leave_cycles();
        errno = EWOULDBLOCK;
        return CycleLock::SessionHeld;
    }
    Locked locked = Locked::Nothing;
    int err = lock_session_byte(sig, fd, F_RDLCK, &locked);
    if (err != 0) {
        leave_cycles();
        errno = err;
        return CycleLock::SessionHeld;
    }
    track(fd);
    int64_t start_us = port_now_us();
    bool waited = wait_turn();
    int64_t give_up_us = port_now_us() + kCycleLongestMs * 1000;
    // Cycles of other processes hold the cycle byte; without description
    // locks nothing tells of them.
    while (locked == Locked::Description && (err = try_lock(fd, F_WRLCK, kCycleByte)) != 0) {
        if (!busy(err) || port_now_us() >= give_up_us) {
            owner_unlock_cycle(fd);
            errno = err;
            return CycleLock::CyclesAhead;
        }
        port_sleep_until(port_now_us() + kLockRetryUs);
        waited = true;
    }
    // Counted up, so that a wait shows however short it was.
    if (waited)
        *waited_ms = static_cast<unsigned int>((port_now_us() - start_us + 999) / 1000);
    return CycleLock::Taken;
}

void owner_unlock_cycle(int fd)
{
    untrack(fd);
    __atomic_add_fetch(&g_serving, 1, __ATOMIC_SEQ_CST);
    leave_cycles();
}

int owner_lock_session(const char *sig, int fd)
{
    pthread_once(&g_fork_once, watch_forks);
    int64_t give_up_us = port_now_us() + kCycleLongestMs * 1000;
    // This process's cycles: none starts once the flag is set; those under
    // way end within their bound.
    __atomic_store_n(&g_session_here, true, __ATOMIC_SEQ_CST);
    int err = cycles_ended(give_up_us) ? 0 : EWOULDBLOCK;
    while (err == 0) {
        Locked locked = Locked::Nothing;
        err = lock_session_byte(sig, fd, F_WRLCK, &locked);
        if (err == 0) {
            track(fd);
            return 0;
        }
        // Shared holders are port cycles, which end: wait for them. An
        // exclusive holder is another session. A whole-file lock does not
        // tell which: it is waited for as long as a cycle lasts.
        if (!busy(err) || port_now_us() >= give_up_us)
            break;
        if (locked == Locked::Description && lock_in_the_way(fd, kSessionByte) == F_WRLCK)
            break;
        port_sleep_until(port_now_us() + kLockRetryUs);
        err = 0;
    }
    __atomic_store_n(&g_session_here, false, __ATOMIC_SEQ_CST);
    return err;
}

void owner_unlock_session(int fd)
{
    untrack(fd);
    __atomic_store_n(&g_session_here, false, __ATOMIC_SEQ_CST);
    free_wait_recheck();
}

bool owner_port_free(int fd)
{
    if (__atomic_load_n(&g_session_here, __ATOMIC_SEQ_CST))
        return false;
    int in_the_way = lock_in_the_way(fd, kSessionByte);
    if (in_the_way != -1)
        return in_the_way != F_WRLCK;
    if (errno != EINVAL)
        return true; // the system refuses locks: only this process is known
    // A shared flock is refused only by a session's exclusive one; it is
    // given back at once.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0)
        return errno != EWOULDBLOCK;
    flock(fd, LOCK_UN);
    return true;
}
