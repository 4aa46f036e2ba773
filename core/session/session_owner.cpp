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
#include "owner.h"
#include "port.h"
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

ScanSession g_session = {}; // SESSION_FREE

const char kOpenSig[] = SIG_S_OPEN;

// How often a close looks whether the users under way have left, and a
// routed call whether an open under way has ended.
const uint32_t kUserCheckUs = 100;

int load_state(const ScanSession *s)
{
    return __atomic_load_n(&s->state, __ATOMIC_SEQ_CST);
}

bool change_state(ScanSession *s, int from, int to)
{
    return __atomic_compare_exchange_n(&s->state, &from, to, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

void leave_call(ScanSession *s)
{
    __atomic_sub_fetch(&s->users, 1, __ATOMIC_SEQ_CST);
}

// The eventfds, or false (all closed again, errno set).
bool make_events(ScanSession *s)
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

void release_port(ScanSession *s)
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
int hold_port(ScanSession *s)
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
    if (uart_configure(fd, 115200, 8, 'N', 1, &s->flushed_us) == -1) {
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

bool session_usable(ScanSession *s, const char *sig)
{
    if (s == &g_session && load_state(s) == SESSION_OPEN)
        return true;
    CORE_LOG(PRIO_ERROR, FMT_S_NO_SESSION, sig);
    return false;
}

bool session_enter_call(ScanSession *s)
{
    __atomic_add_fetch(&s->users, 1, __ATOMIC_SEQ_CST);
    if (load_state(s) == SESSION_OPEN)
        return true;
    leave_call(s);
    return false;
}

ScanSession *session_enter(void)
{
    ScanSession *s = &g_session;
    // An open under way in this process (it may be waiting for this very
    // kind of call to end elsewhere) is waited for; it ends in bounded time.
    while (load_state(s) == SESSION_OPENING)
        port_sleep_until(port_now_us() + kUserCheckUs);
    return session_enter_call(s) ? s : nullptr;
}

void session_leave(ScanSession *s)
{
    leave_call(s);
}

extern "C" ScanSession *scan_session_open(int *error)
{
    ScanSession *s = &g_session;
    pthread_once(&g_fork_once, watch_forks);
    int result = SCAN_SESSION_BUSY;
    if (!change_state(s, SESSION_FREE, SESSION_OPENING))
        CORE_LOG(PRIO_ERROR, FMT_S_BUSY, kOpenSig, EBUSY);
    else if ((result = hold_port(s)) == 0 && change_state(s, SESSION_OPENING, SESSION_OPEN))
        return s;
    else
        __atomic_store_n(&s->state, SESSION_FREE, __ATOMIC_SEQ_CST);
    if (error != nullptr)
        *error = result;
    return nullptr;
}

extern "C" void scan_session_close(ScanSession *s)
{
    static const char sig[] = SIG_S_CLOSE;
    if (s != &g_session || !change_state(s, SESSION_OPEN, SESSION_CLOSING))
        return;
    // The reader ends (failing a request under way), a wait in progress
    // is woken, and the calls under way leave before anything is closed.
    __atomic_store_n(&s->stopping, true, __ATOMIC_SEQ_CST);
    session_poke(s->ctl_fd);
    pthread_join(s->reader, nullptr);
    session_poke(s->wake_fd);
    while (__atomic_load_n(&s->users, __ATOMIC_SEQ_CST) != 0)
        port_sleep_until(port_now_us() + kUserCheckUs);
    int fd = s->fd;
    release_port(s);
    CORE_LOG(PRIO_DEBUG, FMT_S_CLOSE, sig, fd);
    queue_clear(&s->queue);
    __atomic_store_n(&s->state, SESSION_FREE, __ATOMIC_SEQ_CST);
}

extern "C" void scan_session_wake(ScanSession *s)
{
    if (s != &g_session)
        return;
    int saved_errno = errno; // a signal handler's caller must not see it change
    if (session_enter_call(s)) {
        session_poke(s->wake_fd);
        leave_call(s);
    }
    errno = saved_errno;
}
