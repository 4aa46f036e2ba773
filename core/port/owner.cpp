#include "owner.h"
#include "clock.h"

#include <errno.h>
#include <fcntl.h>
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
// byte (F_UNLCK when none does).
short lock_in_the_way(int fd, off_t byte)
{
    LockRecord r = lock_record(F_WRLCK, byte);
    if (fcntl(fd, F_OFD_GETLK, &r) != 0)
        return F_UNLCK;
    return r.l_type;
}

// This process's cycles, first come first served: a ticket each, and the
// ticket whose turn it is.
unsigned int g_next_ticket;
unsigned int g_serving;

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

bool busy(int err)
{
    return err == EAGAIN || err == EACCES || err == EWOULDBLOCK;
}

} // namespace

CycleLock owner_lock_cycle(int fd, unsigned int *waited_ms)
{
    *waited_ms = 0;
    int err = try_lock(fd, F_RDLCK, kSessionByte);
    if (err == EINVAL) {
        // No description locks: a shared flock, which a session refuses;
        // this process's cycles still take turns.
        if (flock(fd, LOCK_SH | LOCK_NB) != 0)
            return CycleLock::SessionHeld;
        wait_turn();
        return CycleLock::Taken;
    }
    if (err != 0) {
        errno = err;
        return CycleLock::SessionHeld;
    }
    int64_t start_us = port_now_us();
    bool waited = wait_turn();
    int64_t give_up_us = port_now_us() + kCycleLongestMs * 1000;
    while ((err = try_lock(fd, F_WRLCK, kCycleByte)) != 0) {
        if (!busy(err) || port_now_us() >= give_up_us) {
            owner_unlock_cycle();
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

void owner_unlock_cycle()
{
    __atomic_add_fetch(&g_serving, 1, __ATOMIC_SEQ_CST);
}

int owner_lock_session(int fd)
{
    int64_t give_up_us = port_now_us() + kCycleLongestMs * 1000;
    for (;;) {
        int err = try_lock(fd, F_WRLCK, kSessionByte);
        if (err == EINVAL)
            return flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        if (err == 0)
            return 0;
        // Shared holders are port cycles, which end: wait for them. An
        // exclusive holder is another session.
        if (!busy(err) || lock_in_the_way(fd, kSessionByte) == F_WRLCK ||
            port_now_us() >= give_up_us)
            return err;
        port_sleep_until(port_now_us() + kLockRetryUs);
    }
}
