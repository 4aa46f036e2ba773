// Who holds the port: the one session of the process, its open (the lock,
// the line settings, the tail of a message already on the line), its
// close, and the wake that any thread may call.
//
// Close and wake: scan_session_wake counts itself in `wakers`, writes to
// the eventfd only while the session is open, and counts itself out;
// scan_session_close first leaves the open state, then waits until no wake
// is under way, and only then closes the eventfd. A wake that comes too
// late sees the session not open and writes nothing, so it can never write
// to a descriptor number that has been closed and given to something
// else. Both sides use sequentially consistent atomics: either the wake's
// count is seen by the close, or the close's state is seen by the wake.
#include "session_state.h"
#include "line.h"
#include "log.h"
#include "port.h"
#include "serial.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

ScanSession g_session; // zero: SESSION_FREE

const char kOpenSig[] = "ScanSession *scan_session_open(int *)";

// How often a close looks whether the wakes under way have left.
const uint32_t kWakerCheckUs = 100;

int load_state(const ScanSession *s)
{
    return __atomic_load_n(&s->state, __ATOMIC_SEQ_CST);
}

bool change_state(ScanSession *s, int from, int to)
{
    return __atomic_compare_exchange_n(&s->state, &from, to, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

void release_port(ScanSession *s)
{
    close(s->wake_fd);
    close(s->fd); // and with it the lock
    s->fd = -1;
    s->wake_fd = -1;
}

// Reads and drops the rest of a message that was already on the line when
// the port was flushed, told as scan_read_data tells it: by the bytes
// waiting when the port first turns readable after the flush. The open
// looks for it for one poll interval; a tail that arrives later is dropped
// by whichever call sees its first bytes (session_begin_message judges the
// first message). False when the port was lost.
bool drop_tail(ScanSession *s)
{
    SessionInput in =
        session_wait_input(s, kOpenSig, s->flushed_us + kPollIntervalMs * 1000, false);
    if (in == SessionInput::Lost)
        return false;
    if (in != SessionInput::Ready)
        return true;
    int64_t give_up_us = port_now_us() + kScanMessageMaxMs * 1000;
    session_begin_message(s, port_now_us());
    bool ready = true;
    // A tail longer than the buffer is dropped a buffer at a time; one that
    // goes on past the longest message is left to the later calls.
    while (s->incoming.tail) {
        if (session_finish_message(s, kOpenSig, ready, false) == MessageEnd::Lost)
            return false;
        session_keep_scan(s, kOpenSig);
        if (!s->tail_goes_on || port_now_us() >= give_up_us)
            return true;
        session_begin_message(s, port_now_us());
        ready = false;
    }
    return true;
}

// Opens, locks and configures the port and drops what it holds. Returns 0
// or the ScanSessionError, after its error line.
int hold_port(ScanSession *s)
{
    FineSlack fine;
    // Close-on-exec: a child process must not keep the port, and its lock,
    // after the session has closed.
    int fd = port_open_device(O_CLOEXEC);
    if (fd == -1) {
        CORE_LOG(PRIO_ERROR, "%s, open device fail! errno = %d", kOpenSig, errno);
        return SCAN_SESSION_NO_PORT;
    }
    // Locked before anything touches the line, so that the owner's line
    // settings and input stay as they are.
    if (flock(fd, LOCK_EX | LOCK_NB) == -1) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) {
            CORE_LOG(PRIO_ERROR, "%s, port busy! errno = %d", kOpenSig, err);
            return SCAN_SESSION_BUSY;
        }
        CORE_LOG(PRIO_ERROR, "%s, open device fail! errno = %d", kOpenSig, err);
        return SCAN_SESSION_NO_PORT;
    }
    int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd == -1) {
        CORE_LOG(PRIO_ERROR, "%s, open device fail! errno = %d", kOpenSig, errno);
        close(fd);
        return SCAN_SESSION_NO_PORT;
    }
    s->fd = fd;
    s->wake_fd = wake_fd;
    if (uart_configure(fd, 115200, 8, 'N', 1, &s->flushed_us) == -1) {
        CORE_LOG(PRIO_ERROR, "%s, set uart parm fail! errno = %d", kOpenSig, errno);
        release_port(s);
        return SCAN_SESSION_NO_PORT;
    }
    s->lost = false;
    s->incoming.len = 0;
    s->pending_head = 0;
    s->pending_count = 0;
    CORE_LOG(PRIO_DEBUG, "%s, open %s fd = %d, 115200 8N1", kOpenSig, SCANNER_PORT, fd);
    s->first_message = true;
    s->tail_goes_on = false;
    s->awaited_echo_len = 0;
    if (!drop_tail(s)) {
        release_port(s);
        return SCAN_SESSION_NO_PORT;
    }
    return 0;
}

} // namespace

bool session_usable(ScanSession *s, const char *sig)
{
    if (s == &g_session && load_state(s) == SESSION_OPEN)
        return true;
    CORE_LOG(PRIO_ERROR, "%s, no open session!", sig);
    return false;
}

ScanSession *scan_session_open(int *error)
{
    ScanSession *s = &g_session;
    int result = SCAN_SESSION_BUSY;
    if (!change_state(s, SESSION_FREE, SESSION_OPENING))
        CORE_LOG(PRIO_ERROR, "%s, port busy! errno = %d", kOpenSig, EBUSY);
    else if ((result = hold_port(s)) == 0 && change_state(s, SESSION_OPENING, SESSION_OPEN))
        return s;
    else
        __atomic_store_n(&s->state, SESSION_FREE, __ATOMIC_SEQ_CST);
    if (error != nullptr)
        *error = result;
    return nullptr;
}

void scan_session_close(ScanSession *s)
{
    static const char sig[] = "void scan_session_close(ScanSession *)";
    if (s != &g_session || !change_state(s, SESSION_OPEN, SESSION_CLOSING))
        return;
    while (__atomic_load_n(&s->wakers, __ATOMIC_SEQ_CST) != 0)
        port_sleep_until(port_now_us() + kWakerCheckUs);
    int fd = s->fd;
    release_port(s);
    CORE_LOG(PRIO_DEBUG, "%s, close fd = %d", sig, fd);
    s->incoming.len = 0;
    s->pending_count = 0;
    __atomic_store_n(&s->state, SESSION_FREE, __ATOMIC_SEQ_CST);
}

void scan_session_wake(ScanSession *s)
{
    if (s != &g_session)
        return;
    int saved_errno = errno; // a signal handler's caller must not see it change
    __atomic_add_fetch(&s->wakers, 1, __ATOMIC_SEQ_CST);
    if (load_state(s) == SESSION_OPEN) {
        uint64_t one = 1;
        ssize_t put = write(s->wake_fd, &one, sizeof one);
        (void)put; // a full count (EAGAIN) wakes as well
    }
    __atomic_sub_fetch(&s->wakers, 1, __ATOMIC_SEQ_CST);
    errno = saved_errno;
}
