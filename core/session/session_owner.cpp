// Who holds the port: the one session of the process, its open (the lock,
// the line settings, the reader thread), its close, the wake that any
// thread may call, and the calls counted in while it is open.
//
// Close, calls and wakes: every call and every wake counts itself in
// `users` and looks at the state only after that; the close first leaves
// the open state, wakes whoever waits, stops the reader, and waits until
// no user is under way before it closes the descriptors. A call or wake
// that comes too late sees the session not open and touches nothing, so
// none can write to a descriptor number that has been closed and given to
// something else. Both sides use sequentially consistent atomics.
#include "session_state.h"
#include "logtext.h"
#include "clock.h"
#include "log.h"
#include "free_wait.h"
#include "owner.h"
#include "port.h"
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

Session g_session = {}; // SESSION_FREE

// Port cycles of this process between their look at the session and their
// lock (session_enter, session_cycle_locked).
int g_cycles_locking = 0;

const char kOpenSig[] = SIG_S_OPEN;

int load_state(const Session *s)
{
    return __atomic_load_n(&s->state, __ATOMIC_SEQ_CST);
}

bool change_state(Session *s, int from, int to)
{
    return __atomic_compare_exchange_n(&s->state, &from, to, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

// Sleeps while *word holds value (or until woken for another reason: the
// caller looks again). Async-signal-safe, as is the wake.
// Waits until this process's port cycles that looked at the session
// before the open began have taken their locks (hold_port then waits for
// them to end).
void wait_cycles_locking()
{
    int n;
    while ((n = __atomic_load_n(&g_cycles_locking, __ATOMIC_SEQ_CST)) != 0)
        port_sleep_while(&g_cycles_locking, n, -1);
}

// The state leaves SESSION_OPENING: routed calls that wait for it go on.
void end_opening(Session *s, int state)
{
    __atomic_store_n(&s->state, state, __ATOMIC_SEQ_CST);
    port_wake_sleepers(&s->state);
}

void leave_call(Session *s)
{
    // A close waits for the calls under way to leave: the last one wakes it.
    if (__atomic_sub_fetch(&s->users, 1, __ATOMIC_SEQ_CST) == 1 &&
        load_state(s) == SESSION_CLOSING)
        port_wake_sleepers(&s->users);
}

// Counts a call in on the open session, or false when it is not open.
bool session_enter_call(Session *s)
{
    __atomic_add_fetch(&s->users, 1, __ATOMIC_SEQ_CST);
    if (load_state(s) == SESSION_OPEN)
        return true;
    leave_call(s);
    return false;
}

// The handle of the session of one open: an odd number made of the count
// of opens, never the address of anything, never null, and never the
// same for two opens (the count wraps after 2^31 opens).
ScanSession *handle_of(unsigned int generation)
{
    return reinterpret_cast<ScanSession *>(static_cast<uintptr_t>(generation) * 2 + 1);
}

// The open session that handle names, counted in (until leave_call), or
// null. Counted in before anything is looked at: a close that began
// earlier waits for this call, and one that begins later finds it counted;
// while it is counted in no other session can open, so the handle it
// matched stays the open session's.
Session *counted_in(ScanSession *handle)
{
    Session *s = &g_session;
    if (handle == nullptr || !session_enter_call(s))
        return nullptr;
    if (handle == handle_of(__atomic_load_n(&s->generation, __ATOMIC_SEQ_CST)))
        return s;
    leave_call(s);
    return nullptr;
}

// The eventfds, or false (all closed again, errno set).
bool make_events(Session *s)
{
    int *fds[] = {&s->wake_fd, &s->ctl_fd, &s->scan_fd, &s->done_fd};
    for (size_t i = 0; i < sizeof fds / sizeof fds[0]; i++) {
        *fds[i] = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (*fds[i] == -1) {
            int err = errno;
            while (i-- > 0)
                close(*fds[i]);
            errno = err;
            return false;
        }
    }
    return true;
}

void release_port(Session *s)
{
    close(s->wake_fd);
    close(s->ctl_fd);
    close(s->scan_fd);
    close(s->done_fd);
    owner_unlock_session(s->fd);
    close(s->fd); // and with it the lock
    s->fd = -1;
}

// Opens, locks and configures the port and starts the reader. Returns 0
// or the ScanSessionError, after its error line.
int hold_port(Session *s)
{
    FineSlack fine;
    // Close-on-exec: a child process must not keep the port, and its lock,
    // after the session has closed.
    int fd = port_open_device(O_CLOEXEC);
    if (fd == -1) {
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kOpenSig, errno);
        return SCAN_SESSION_NO_PORT;
    }
    // Locked before anything touches the line, so that the owner's line
    // settings and input stay as they are.
    int err = owner_lock_session(kOpenSig, fd);
    if (err != 0) {
        close(fd);
        if (err == EWOULDBLOCK || err == EAGAIN || err == EACCES) {
            CORE_LOG(PRIO_ERROR, FMT_S_BUSY, kOpenSig, err);
            return SCAN_SESSION_BUSY;
        }
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kOpenSig, err);
        return SCAN_SESSION_NO_PORT;
    }
    if (!make_events(s)) {
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kOpenSig, errno);
        owner_unlock_session(fd);
        close(fd);
        return SCAN_SESSION_NO_PORT;
    }
    s->fd = fd;
    if (uart_configure_line(fd, &s->flushed_us) == -1) {
        CORE_LOG(PRIO_ERROR, FMT_S_CFG_FAIL, kOpenSig, errno);
        release_port(s);
        return SCAN_SESSION_NO_PORT;
    }
    s->lost = false;
    s->stopping = false;
    s->first_message = true;
    s->recent_next = 0;
    memset(s->recent, 0, sizeof s->recent);
    memset(&s->request, 0, sizeof s->request);
    queue_clear(&s->queue);
    CORE_LOG(PRIO_DEBUG, FMT_S_OPEN, kOpenSig, SCANNER_PORT, fd);
    err = pthread_create(&s->reader, nullptr, session_reader, s);
    if (err != 0) {
        CORE_LOG(PRIO_ERROR, FMT_S_OPEN_FAIL, kOpenSig, err);
        release_port(s);
        return SCAN_SESSION_NO_PORT;
    }
    // The open returns one poll interval after its flush, as a port cycle's
    // first read comes: what the caller's engine sends from then on cannot
    // be taken for the tail of a message that was on the line before.
    port_sleep_until(s->flushed_us + kPollIntervalMs * 1000);
    return 0;
}

// A child forked while the session is open has the session's memory but
// not its reader thread: it holds no session of its own (its copies of the
// descriptors go at its exec, close-on-exec).
void forget_in_child()
{
    __atomic_store_n(&g_session.state, SESSION_FREE, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_session.users, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_cycles_locking, 0, __ATOMIC_SEQ_CST);
    pthread_mutex_init(&g_session.lock, nullptr); // as no thread of the child holds them
    pthread_mutex_init(&g_session.requests, nullptr);
}

pthread_once_t g_fork_once = PTHREAD_ONCE_INIT;

void watch_forks()
{
    pthread_atfork(nullptr, nullptr, forget_in_child);
}

} // namespace

void session_poke(int fd)
{
    uint64_t one = 1;
    ssize_t put = write(fd, &one, sizeof one);
    (void)put; // a full count (EAGAIN) wakes as well
}

void session_drain(int fd)
{
    uint64_t count;
    ssize_t got = read(fd, &count, sizeof count);
    (void)got;
}

Session *session_call_in(ScanSession *handle, const char *sig)
{
    Session *s = counted_in(handle);
    if (s == nullptr)
        CORE_LOG(PRIO_ERROR, FMT_S_NO_SESSION, sig);
    return s;
}

Session *session_enter(void)
{
    Session *s = &g_session;
    for (;;) {
        // Counted before the look: an open that begins after it waits for
        // this call's cycle to lock; one that began before is seen.
        __atomic_add_fetch(&g_cycles_locking, 1, __ATOMIC_SEQ_CST);
        if (load_state(s) != SESSION_OPENING) {
            if (!session_enter_call(s))
                return nullptr; // counted until session_cycle_locked
            session_cycle_locked();
            return s;
        }
        // An open under way in this process (it may be waiting for this
        // very kind of call to end elsewhere) is waited for, uncounted; it
        // ends in bounded time.
        session_cycle_locked();
        port_sleep_while(&s->state, SESSION_OPENING, -1);
    }
}

void session_cycle_locked(void)
{
    if (__atomic_sub_fetch(&g_cycles_locking, 1, __ATOMIC_SEQ_CST) == 0)
        port_wake_sleepers(&g_cycles_locking);
}

void session_leave(Session *s)
{
    leave_call(s);
}

extern "C" ScanSession *scan_session_open(int *error)
{
    Session *s = &g_session;
    pthread_once(&g_fork_once, watch_forks);
    int result = SCAN_SESSION_BUSY;
    if (!change_state(s, SESSION_FREE, SESSION_OPENING)) {
        CORE_LOG(PRIO_ERROR, FMT_S_BUSY, kOpenSig, EBUSY);
    } else {
        wait_cycles_locking();
        if ((result = hold_port(s)) == 0) {
            // The new handle is in place before the session can be seen open.
            unsigned int generation = __atomic_add_fetch(&s->generation, 1, __ATOMIC_SEQ_CST);
            end_opening(s, SESSION_OPEN);
            return handle_of(generation);
        }
        end_opening(s, SESSION_FREE);
    }
    if (error != nullptr)
        *error = result;
    return nullptr;
}

extern "C" void scan_session_close(ScanSession *handle)
{
    static const char sig[] = SIG_S_CLOSE;
    // Counted in, so that no other close ends this session and no other
    // session opens before the state has changed.
    Session *s = counted_in(handle);
    if (s != nullptr && !change_state(s, SESSION_OPEN, SESSION_CLOSING)) {
        leave_call(s); // closed by another thread meanwhile
        s = nullptr;
    }
    if (s == nullptr) {
        if (handle != nullptr)
            CORE_LOG(PRIO_ERROR, FMT_S_NO_SESSION, sig);
        return;
    }
    // The reader ends (failing a request under way), a wait in progress
    // is woken, and the calls under way leave before anything is closed.
    __atomic_store_n(&s->stopping, true, __ATOMIC_SEQ_CST);
    session_poke(s->ctl_fd);
    pthread_join(s->reader, nullptr);
    session_poke(s->wake_fd);
    int users;
    while ((users = __atomic_load_n(&s->users, __ATOMIC_SEQ_CST)) != 1) // the close itself
        port_sleep_while(&s->users, users, -1);
    int fd = s->fd;
    release_port(s);
    CORE_LOG(PRIO_DEBUG, FMT_S_CLOSE, sig, fd);
    queue_clear(&s->queue);
    leave_call(s);
    __atomic_store_n(&s->state, SESSION_FREE, __ATOMIC_SEQ_CST);
}

extern "C" void scan_session_wake(ScanSession *handle)
{
    int saved_errno = errno; // a signal handler's caller must not see it change
    Session *s = counted_in(handle);
    if (s != nullptr) {
        session_poke(s->wake_fd);
        leave_call(s);
    }
    errno = saved_errno;
}

extern "C" int scan_session_wait_free(int timeout_ms)
{
    if (timeout_ms < 0)
        return SCAN_SESSION_INVALID;
    int free = port_wait_free(timeout_ms);
    return free < 0 ? SCAN_SESSION_NO_PORT : free;
}

extern "C" void scan_session_wake_free(void)
{
    port_wake_free();
}
