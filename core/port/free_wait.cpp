// Waiting for a free port without polling: the holder's release is a
// close of its descriptor (also when its process dies), and a close of a
// descriptor opened for writing raises IN_CLOSE_WRITE on the device's
// inode, so the waiter watches the device with inotify and looks at the
// locks again after each such close. An eventfd per waiter takes this
// process's own signals: the session's release, and the wake that ends
// every wait. Where the system refuses the watch, the locks are looked at
// every kNoWatchRecheckMs instead.
#include "free_wait.h"
#include "scansession.h"
#include "clock.h"
#include "log.h"
#include "logtext.h"
#include "owner.h"
#include "port.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

const char kWaitSig[] = SIG_S_WAIT_FREE;

// Without a watch, how often a waiter looks at the locks.
const int kNoWatchRecheckMs = 20;

// The kernel tells of a close before it removes the closed description's
// locks: for this long after a close the waiter looks again every
// kAfterCloseRecheckUs.
const int64_t kAfterCloseUs = 20000;
const int64_t kAfterCloseRecheckUs = 500;

// The eventfds of the waits in progress (-1: a free slot), and the wakes
// made so far. A wait finds a changed count when it was woken.
// g_wake_pending is under the lock, with the slots.
const int kWaiters = 16;
pthread_mutex_t g_waiters_lock = PTHREAD_MUTEX_INITIALIZER;
int g_waiter_fds[kWaiters] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
unsigned int g_wakes;
bool g_wake_pending; // a wake that found no wait in progress, for the next one
bool g_told_no_watch;

void poke(int fd)
{
    uint64_t one = 1;
    ssize_t put = write(fd, &one, sizeof one);
    (void)put; // a full count (EAGAIN) wakes as well
}

// Pokes every wait in progress (the lock held); true when there was none.
bool poke_waiters_locked()
{
    bool none = true;
    for (int fd : g_waiter_fds) {
        if (fd != -1) {
            poke(fd);
            none = false;
        }
    }
    return none;
}

// Joins the waits in progress: false when every slot is taken (that wait
// looks at the wakes count on the short period instead). *woken when a
// wake came while no wait was in progress: it is this wait's.
bool join_waiters(int fd, bool *woken)
{
    bool joined = false;
    pthread_mutex_lock(&g_waiters_lock);
    *woken = g_wake_pending;
    g_wake_pending = false;
    for (int &slot : g_waiter_fds) {
        if (slot == -1) {
            slot = fd;
            joined = true;
            break;
        }
    }
    pthread_mutex_unlock(&g_waiters_lock);
    return joined;
}

void leave_waiters(int fd)
{
    pthread_mutex_lock(&g_waiters_lock);
    for (int &slot : g_waiter_fds) {
        if (slot == fd)
            slot = -1;
    }
    pthread_mutex_unlock(&g_waiters_lock);
}

void drain(int fd)
{
    char buf[256];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

// The watches, kept from one wait to the next (fd + 1; 0: none yet), and
// whether a wait is using one. Closing an inotify descriptor waits for the
// kernel's grace period, several milliseconds, which a wait would
// otherwise spend after it has seen the port free. Under g_waiters_lock.
struct Watch {
    int fd1;
    bool in_use;
};
Watch g_watches[kWaiters];

void say_no_watch(int err)
{
    if (!__atomic_exchange_n(&g_told_no_watch, true, __ATOMIC_SEQ_CST))
        CORE_LOG(PRIO_WARN, FMT_S_NO_WATCH, kWaitSig, err, kNoWatchRecheckMs);
}

// A watch on the device, for one wait: its slot, or -1 (every slot in
// use, or the system refuses the watch: said once).
int take_watch()
{
    int err = 0;
    int taken = -1;
    pthread_mutex_lock(&g_waiters_lock);
    for (int i = 0; i < kWaiters && taken == -1; i++) {
        Watch &w = g_watches[i];
        if (w.in_use)
            continue;
        if (w.fd1 == 0) {
            int in = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            if (in == -1) {
                err = errno;
                break;
            }
            w.fd1 = in + 1;
        }
        // Asked each time: the device at the path may be a new node (a
        // node that goes away takes its watch with it); the same node
        // keeps its one watch.
        if (inotify_add_watch(w.fd1 - 1, SCANNER_PORT, IN_CLOSE_WRITE) == -1) {
            err = errno;
            break;
        }
        w.in_use = true;
        taken = i;
    }
    pthread_mutex_unlock(&g_waiters_lock);
    if (err != 0)
        say_no_watch(err);
    return taken;
}

void give_watch(int slot)
{
    pthread_mutex_lock(&g_waiters_lock);
    g_watches[slot].in_use = false;
    pthread_mutex_unlock(&g_waiters_lock);
}

// A child forked while waits were in progress has none: the waits'
// eventfds are the parent's (closed in the child, whose wakes must not
// reach them), and so are the watches (closed too: a wait of the child
// would take their events from the parent's; the parent's reference keeps
// the close cheap); the lock is as no thread holds it.
void forget_in_child()
{
    pthread_mutex_init(&g_waiters_lock, nullptr);
    for (int &fd : g_waiter_fds) {
        if (fd != -1)
            close(fd);
        fd = -1;
    }
    for (Watch &w : g_watches) {
        if (w.fd1 != 0)
            close(w.fd1 - 1);
        w = Watch();
    }
    g_wake_pending = false;
}

pthread_once_t g_fork_once = PTHREAD_ONCE_INIT;

void watch_forks()
{
    pthread_atfork(nullptr, nullptr, forget_in_child);
}

struct Waiter {
    int port;  // read only: its close raises no IN_CLOSE_WRITE
    int watch; // or -1
    int watch_slot;
    int event;
    bool joined;
    bool woken; // by a wake that came before it
    unsigned int wakes;
};

// 1 when the port is free, 0 when woken or at the deadline.
int wait_for_free(Waiter *w, int64_t deadline_us)
{
    int64_t closed_us = 0; // the last close seen
    for (;;) {
        if (owner_port_free(w->port))
            return 1;
        int64_t now = port_now_us();
        if (w->woken || __atomic_load_n(&g_wakes, __ATOMIC_SEQ_CST) != w->wakes ||
            now >= deadline_us)
            return 0;
        int64_t until = deadline_us;
        if (w->watch == -1 || !w->joined)
            until = earlier_us(until, now + kNoWatchRecheckMs * 1000);
        if (now < closed_us + kAfterCloseUs)
            until = earlier_us(until, now + kAfterCloseRecheckUs);
        struct pollfd fds[2] = {{w->event, POLLIN, 0}, {w->watch, POLLIN, 0}};
        if (port_poll_by(fds, w->watch == -1 ? 1 : 2, until) < 0)
            port_sleep_until(until); // looked at again on the period
        if (fds[0].revents & POLLIN)
            drain(w->event);
        if (w->watch != -1 && (fds[1].revents & POLLIN)) {
            drain(w->watch);
            closed_us = port_now_us();
        }
    }
}

} // namespace

void free_wait_recheck()
{
    pthread_mutex_lock(&g_waiters_lock);
    poke_waiters_locked();
    pthread_mutex_unlock(&g_waiters_lock);
}

extern "C" int scan_session_wait_free(int timeout_ms)
{
    if (timeout_ms < 0)
        return SCAN_SESSION_INVALID;
    pthread_once(&g_fork_once, watch_forks);
    int64_t start_us = port_now_us();
    Waiter w = {};
    w.wakes = __atomic_load_n(&g_wakes, __ATOMIC_SEQ_CST);
    w.port = open(SCANNER_PORT, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (w.port == -1) {
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kWaitSig, errno);
        return SCAN_SESSION_NO_PORT;
    }
    w.event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w.event == -1) {
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kWaitSig, errno);
        close(w.port);
        return SCAN_SESSION_NO_PORT;
    }
    // Watched and joined before the first look, so that no release
    // between the look and the wait goes unseen.
    w.watch_slot = take_watch();
    w.watch = w.watch_slot == -1 ? -1 : g_watches[w.watch_slot].fd1 - 1;
    if (w.watch != -1)
        drain(w.watch); // closes before this wait
    w.joined = join_waiters(w.event, &w.woken);
    int free = wait_for_free(&w, start_us + static_cast<int64_t>(timeout_ms) * 1000);
    leave_waiters(w.event);
    if (free)
        CORE_LOG(PRIO_DEBUG, FMT_S_FREE, kWaitSig,
                 static_cast<int>((port_now_us() - start_us) / 1000));
    if (w.watch_slot != -1)
        give_watch(w.watch_slot);
    close(w.event);
    close(w.port);
    return free;
}

extern "C" void scan_session_wake_free(void)
{
    __atomic_add_fetch(&g_wakes, 1, __ATOMIC_SEQ_CST);
    pthread_mutex_lock(&g_waiters_lock);
    g_wake_pending = poke_waiters_locked();
    pthread_mutex_unlock(&g_waiters_lock);
}
