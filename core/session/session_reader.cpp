// The held port's reader thread: the only reader of the line while a
// session holds it. It waits for input, reads each message on to its
// quiet gap (the one line reader, reader.h), drops the tail of a message
// that was on the line at the open, tells answers from scans, hands a
// caller's question its answer as soon as its last byte is in, and queues
// the scans for scan_session_wait_scan. Because it is always there, a
// message's end is decided while the line is watched, whatever the
// session's callers do.
//
// Answers are known by their form (answer_at): the echo of a question
// under way or ended within kLateAnswerMs, value bytes, ACK or NAK, and a
// final byte. Such an answer is taken out of the message wherever it
// stands while its question runs; at a message's end, answers to ended
// questions are taken off its start and its end (a late answer alone, or
// glued to a scan). What is left is scan data. Scan data that begins or
// ends in exactly that form, with the echo of a question asked within the
// last second, cannot be told from an answer.
#include "session_state.h"
#include "logtext.h"
#include "clock.h"
#include "line.h"
#include "log.h"
#include "reader.h"

#include <errno.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const char kSig[] = SIG_S_READER;

// Raised above an app's ordinary threads where the system allows it (an
// app may raise its time-critical threads this far); it works without.
const int kReaderNice = -8;

const int64_t kNever = INT64_MAX / 2;

// The question that the reader looks for, copied from the request.
struct Armed {
    bool on;
    char echo[kReplyBufLen];
    size_t echo_len;
    size_t min_len;
    int64_t deadline_us; // kNever until the frame has left
    size_t searched;     // bytes of the message already looked through
};

struct Reader {
    Session *s;
    LineReader line;
    LineMessage m;
    Armed armed;
    bool request_waited; // the waiting request saw a message through
    int64_t held_until;  // a waiting question is held back until then
};

void log_read(const char *sig, const void *bytes, size_t n)
{
    log_hex_lines(sig, HEX_IN, bytes, n);
}

// A tail's bytes, a buffer at a time: how many, then which.
void log_tail(const char *sig, const void *bytes, size_t n)
{
    CORE_LOG(PRIO_DEBUG, FMT_TAIL, sig, static_cast<int>(n));
    log_read(sig, bytes, n);
}

void remember(Session *s, const Armed &a, bool owed)
{
    int64_t now_us = port_now_us();
    // The oldest entry goes, but one that still owes its answer only when
    // all do.
    RecentQuestion *r = &s->recent[s->recent_next];
    for (size_t i = 0; i < kRecentQuestions && r->owed && r->until_us > now_us; i++) {
        s->recent_next = (s->recent_next + 1) % kRecentQuestions;
        r = &s->recent[s->recent_next];
    }
    memcpy(r->echo, a.echo, a.echo_len);
    r->echo_len = a.echo_len;
    r->until_us = now_us + kLateAnswerMs * 1000;
    r->owed = owed;
    s->recent_next = (s->recent_next + 1) % kRecentQuestions;
}

// Until when a question with this echo is held back: the latest window of
// an ended question with the same echo that still owes its answer (0: none).
int64_t owed_until(const Session *s, const char *echo, size_t echo_len)
{
    int64_t now_us = port_now_us();
    int64_t until_us = 0;
    for (const RecentQuestion &q : s->recent) {
        if (q.owed && q.until_us > now_us && q.until_us > until_us && q.echo_len == echo_len &&
            memcmp(q.echo, echo, echo_len) == 0)
            until_us = q.until_us;
    }
    return until_us;
}

// Ends the armed question with a result (and the answer when there is
// one), and tells the caller.
void finish_question(Reader *r, int result, const unsigned char *answer, size_t len, bool refused)
{
    Session *s = r->s;
    pthread_mutex_lock(&s->lock);
    if (s->request.state == REQUEST_GO || s->request.state == REQUEST_SENT) {
        s->request.result = result;
        if (len > 0)
            memcpy(s->request.answer.bytes, answer, len);
        s->request.answer.len = len;
        s->request.answer.refused = refused;
        s->request.state = REQUEST_DONE;
    }
    pthread_mutex_unlock(&s->lock);
    remember(s, r->armed, result == SCAN_SESSION_NO_ANSWER);
    r->armed.on = false;
    session_poke(s->done_fd);
}

// Fails whatever request is under way: the port is gone or closing.
void fail_request(Session *s)
{
    pthread_mutex_lock(&s->lock);
    int st = s->request.state;
    if (st == REQUEST_WANT || st == REQUEST_GO || st == REQUEST_SENT) {
        s->request.result = SCAN_SESSION_PORT_LOST;
        s->request.state = REQUEST_DONE;
    }
    pthread_mutex_unlock(&s->lock);
    session_poke(s->done_fd);
}

// Once the armed question's frame has left, its answer's budget runs from
// then. Called with the lock held.
void time_answer(Reader *r, const SessionRequest *q)
{
    if (q->state == REQUEST_SENT && r->armed.on && r->armed.deadline_us == kNever)
        r->armed.deadline_us = q->sent_us + kAnswerBudgetMs * 1000;
}

// Looks at the request: gives a waiting one its moment when no message
// is arriving, arms its question, and times the answer once the frame
// has left.
void follow_request(Reader *r)
{
    Session *s = r->s;
    bool go = false;
    pthread_mutex_lock(&s->lock);
    SessionRequest *q = &s->request;
    // A request goes out only between messages: none being read, and no
    // bytes of the next one waiting in the port, unless it has already
    // waited for a message to end (a line that never goes quiet must not
    // hold it longer than that).
    if (q->state == REQUEST_WANT && r->m.len > 0)
        r->request_waited = true;
    // A question whose echo an ended question still owes its answer waits
    // for that answer, or for the end of its window.
    r->held_until = q->state == REQUEST_WANT && q->question ? owed_until(s, q->echo, q->echo_len) : 0;
    if (q->state == REQUEST_WANT && r->m.len == 0 && r->held_until == 0 &&
        (r->request_waited || line_waiting(s->fd) <= 0)) {
        r->request_waited = false;
        // What comes after a frame of ours is no tail of the open's.
        s->first_message = false;
        q->state = REQUEST_GO;
        go = true;
        r->armed.on = q->question;
        memcpy(r->armed.echo, q->echo, q->echo_len);
        r->armed.echo_len = q->echo_len;
        r->armed.min_len = q->min_len;
        r->armed.deadline_us = kNever;
        r->armed.searched = 0;
    } else if (q->state == REQUEST_SENT) {
        time_answer(r, q);
    } else if (q->state == REQUEST_NONE) {
        r->armed.on = false; // not sent, or a write alone
    }
    pthread_mutex_unlock(&s->lock);
    if (go)
        session_poke(s->done_fd);
}

// Where the armed question's answer stands in the message from `from` on:
// Whole (at *at, *len bytes), Partial (its start ends the message), None.
AnswerForm find_answer(const Armed &a, const LineMessage *m, size_t from, size_t *at, size_t *len)
{
    AnswerForm found = AnswerForm::None;
    for (size_t p = from; p < m->len; p++) {
        AnswerForm f = answer_at(m->bytes + p, m->len - p, a.echo, a.echo_len, a.min_len, len);
        if (f == AnswerForm::Whole) {
            *at = p;
            return f;
        }
        if (f == AnswerForm::Partial && found == AnswerForm::None) {
            *at = p;
            found = f;
        }
    }
    return found;
}

// The ended question whose answer stands at the start of p (length in
// *len), one that owes it first; null when none.
RecentQuestion *late_answer_at(Session *s, const unsigned char *p, size_t n, size_t *len)
{
    int64_t now_us = port_now_us();
    RecentQuestion *found = nullptr;
    for (RecentQuestion &q : s->recent) {
        if (q.echo_len == 0 || q.until_us < now_us || (found != nullptr && found->owed))
            continue;
        // An ended question's answer may be a refusal or hold any value.
        if (answer_at(p, n, q.echo, q.echo_len, 0, len) == AnswerForm::Whole)
            found = &q;
    }
    return found;
}

void log_reply(const unsigned char *p, size_t n)
{
    CORE_LOG(PRIO_DEBUG, FMT_S_REPLY, kSig, static_cast<int>(n));
    log_read(kSig, p, n);
}

// A message has ended (or ends where an answer begins): late answers off
// its start and its end are logged as replies, the rest is queued.
void end_message(Session *s, const unsigned char *p, size_t n, int64_t first_us)
{
    size_t len = 0;
    RecentQuestion *q;
    while (n > 0 && (q = late_answer_at(s, p, n, &len)) != nullptr) {
        q->owed = false;
        log_reply(p, len);
        p += len;
        n -= len;
    }
    size_t tail_from = n > kReplyBufLen ? n - kReplyBufLen : 0;
    for (size_t at = tail_from; at < n; at++) {
        q = late_answer_at(s, p + at, n - at, &len);
        if (q != nullptr && at + len == n) {
            if (at > 0)
                end_message(s, p, at, first_us);
            q->owed = false;
            log_reply(p + at, len);
            return;
        }
    }
    if (n == 0)
        return;
    CORE_LOG(PRIO_DEBUG, FMT_S_SCAN, kSig, static_cast<int>(n));
    log_read(kSig, p, n);
    size_t dropped_bytes = 0;
    pthread_mutex_lock(&s->lock);
    size_t dropped = queue_push(&s->queue, p, n, first_us, &dropped_bytes);
    pthread_mutex_unlock(&s->lock);
    if (dropped > 0)
        CORE_LOG(PRIO_ERROR, FMT_S_NO_ROOM, kSig,
                 static_cast<int>(dropped_bytes));
    session_poke(s->scan_fd);
}

// After every read while a question runs: its answer, as soon as its last
// byte is in. The bytes ahead of it end as a message of their own, the
// bytes after it begin the next one. Also ends the question when its
// budget has run out.
bool look_for_answer(void *ctx, LineMessage *m, size_t)
{
    Reader *r = static_cast<Reader *>(ctx);
    if (!r->armed.on)
        return false;
    if (r->armed.deadline_us == kNever) {
        // The frame may have left while the line was busy, unseen: a
        // message in progress does not hold the budget off.
        pthread_mutex_lock(&r->s->lock);
        time_answer(r, &r->s->request);
        pthread_mutex_unlock(&r->s->lock);
    }
    size_t from = r->armed.searched > kReplyBufLen ? r->armed.searched - kReplyBufLen : 0;
    size_t at = 0, len = 0;
    AnswerForm f = find_answer(r->armed, m, from, &at, &len);
    r->armed.searched = m->len;
    if (f == AnswerForm::Whole) {
        if (at > 0)
            end_message(r->s, m->bytes, at, m->first_us);
        bool refused = m->bytes[at + len - 2] == kNak;
        finish_question(r, 0, m->bytes + at, len, refused);
        size_t after = m->len - (at + len);
        memmove(m->bytes, m->bytes + at + len, after);
        m->len = after;
        m->first_us = m->last_us;
        return true;
    }
    if (port_now_us() >= r->armed.deadline_us)
        finish_question(r, SCAN_SESSION_NO_ANSWER, nullptr, 0, false);
    return false;
}

// While a question runs, an answer begun is not ended by a pause inside it.
int64_t answer_hold_until(void *ctx, const LineMessage *m)
{
    Reader *r = static_cast<Reader *>(ctx);
    size_t at = 0, len = 0;
    if (r->armed.on && find_answer(r->armed, m, 0, &at, &len) == AnswerForm::Partial)
        return r->armed.deadline_us;
    return 0;
}

// The armed question's deadline: the message's reader looks by then, also
// while the message is still arriving.
int64_t answer_due(void *ctx)
{
    const Reader *r = static_cast<const Reader *>(ctx);
    return r->armed.on ? r->armed.deadline_us : kNever;
}

// The port is gone: logged once, and everyone who waits is told.
// what is the call that failed, with its errno; null for a hang-up.
void lose_port(Session *s, const char *what, int err)
{
    if (what == nullptr)
        CORE_LOG(PRIO_ERROR, FMT_S_HUNG_UP, kSig);
    else
        CORE_LOG(PRIO_ERROR, FMT_S_LOST, kSig, what, err);
    pthread_mutex_lock(&s->lock);
    s->lost = true;
    pthread_mutex_unlock(&s->lock);
    session_poke(s->scan_fd);
}

bool stopping(const Session *s)
{
    return __atomic_load_n(&s->stopping, __ATOMIC_SEQ_CST);
}

// Reads one message from its first bytes to its end. False when the
// reader must end (the port is gone, or the close).
bool read_message(Reader *r, const MessageWatch *watch)
{
    Session *s = r->s;
    LineMessage *m = &r->m;
    int64_t now_us = port_now_us();
    m->len = 0;
    m->first_us = now_us;
    m->last_us = now_us;
    bool tail = false;
    if (s->first_message) {
        s->first_message = false;
        tail = line_first_is_tail(s->flushed_us, now_us, line_waiting(s->fd));
    }
    for (;;) {
        MessageEnd end = line_read_message(&r->line, m, tail ? nullptr : watch);
        if (end == MessageEnd::Woken) {
            if (stopping(s))
                return false;
            follow_request(r); // a request waits for the message to end
            continue;
        }
        if (end == MessageEnd::Gone) {
            lose_port(s, nullptr, 0);
            return false;
        }
        if (end == MessageEnd::Watched) {
            if (m->len == 0)
                return true;
            continue; // the bytes after an answer go on as a message
        }
        if (tail) {
            line_drop_tail(&r->line, m, m->first_us + kScanMessageMaxMs * 1000, log_tail, kSig);
            return true;
        }
        end_message(s, m->bytes, m->len, m->first_us);
        m->len = 0;
        return true;
    }
}

} // namespace

void *session_reader(void *arg)
{
    Session *s = static_cast<Session *>(arg);
    FineSlack fine;
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kReaderNice); // or stays as it was

    Reader r = {};
    r.s = s;
    r.line = {s->fd, s->ctl_fd};
    r.m.bytes = s->incoming;
    r.m.cap = sizeof s->incoming;
    const MessageWatch watch = {look_for_answer, answer_hold_until, answer_due, &r};
    while (!stopping(s)) {
        follow_request(&r);
        if (r.armed.on && port_now_us() >= r.armed.deadline_us)
            finish_question(&r, SCAN_SESSION_NO_ANSWER, nullptr, 0, false);
        int64_t look_by_us = r.armed.on ? r.armed.deadline_us : kNever;
        if (r.held_until > 0)
            look_by_us = earlier_us(look_by_us, r.held_until);
        LineInput in = line_wait(&r.line, look_by_us);
        if (in == LineInput::Gone || in == LineInput::Failed) {
            lose_port(s, in == LineInput::Gone ? nullptr : WHAT_POLL, errno);
            break;
        }
        if (in == LineInput::Ready && !read_message(&r, &watch))
            break;
    }
    fail_request(s);
    return nullptr;
}
