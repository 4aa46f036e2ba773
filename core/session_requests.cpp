// The writes and questions of a session, on the held port. A frame goes
// out only when no scan is arriving (one that is, is read to its end and
// kept first), and is reported sent once it has left the port (tcdrain).
// A question's exchange is read in the reply poll's attempts: the reply is
// looked for after every byte, so that scan data that follows it in the
// same read stays for the next wait, and scan data ahead of it is kept as
// a scan of its own.
#include "session_state.h"
#include "exchange.h"
#include "frames.h"
#include "line.h"
#include "log.h"
#include "port.h"

#include <errno.h>
#include <string.h>
#include <termios.h>

namespace {

// Writes the frame whole and waits until it has left the port. Returns
// its length, or a negative ScanSessionError.
int send(ScanSession *s, const char *sig, const unsigned char *frame, size_t len)
{
    FineSlack fine;
    int r = session_settle_input(s, sig);
    if (r < 0)
        return r;
    bool sent = port_write_frame(s->fd, frame, len) == static_cast<int>(len);
    if (sent) {
        int drained;
        while ((drained = tcdrain(s->fd)) == -1 && errno == EINTR) {
        }
        sent = drained == 0;
    }
    if (!sent) {
        CORE_LOG(PRIO_ERROR, "%s, write fail! errno = %d", sig, errno);
        return SCAN_SESSION_NOT_SENT;
    }
    CORE_LOG(PRIO_DEBUG, "%s, write %d bytes", sig, static_cast<int>(len));
    log_hex_lines(sig, ">", frame, len);
    return static_cast<int>(len);
}

// Splits the exchange's bytes at the reply that ends at `end`: the bytes
// ahead of it are a scan of their own, the bytes after it are the start of
// the next message. The reply begins at its echo where it has one.
void take_reply(ScanSession *s, const char *sig, size_t end, const Reply &reply, const char *echo,
                size_t echo_len)
{
    SessionMessage *m = &s->incoming;
    size_t at = 0;
    reply_echo_at(reply.text, reply.n, echo, echo_len, &at);
    size_t reply_len = reply.n - at;
    size_t start = end > reply_len ? end - reply_len : 0;
    size_t after = m->len - end;
    if (start > 0) {
        m->len = start; // the bytes from start on stay where they are
        session_keep_scan(s, sig);
    }
    CORE_LOG(PRIO_DEBUG, "%s, reply %d bytes", sig, static_cast<int>(end - start));
    log_hex_lines(sig, "<", m->bytes + start, end - start);
    memmove(m->bytes, m->bytes + end, after);
    m->len = after;
    m->first_us = m->last_us;
}

// Writes a question frame and reads its exchange. Returns 0 with the reply
// in *reply (inside *stream), or a negative ScanSessionError. Without a
// reply, whatever came stays as the start of a message for the next wait.
int ask(ScanSession *s, const char *sig, const unsigned char *frame, size_t len, size_t min_len,
        ReplyStream *stream, Reply *reply)
{
    FineSlack fine;
    int r = send(s, sig, frame, len);
    if (r < 0)
        return r;
    const char *echo = reinterpret_cast<const char *>(frame + kQuestionHeaderLen);
    size_t echo_len = question_echo_len(len);
    memcpy(s->awaited_echo, echo, echo_len);
    s->awaited_echo_len = echo_len;
    size_t expect_len = echo_len + min_len;
    SessionMessage *m = &s->incoming; // empty: send() kept what was there
    size_t seen = 0;
    reply_stream_clear(stream);
    int64_t deadline_us = port_now_us();
    bool refused = false;
    for (int attempt = 0; attempt < kReplyAttempts && !refused; attempt++) {
        deadline_us += kPollIntervalMs * 1000;
        for (;;) {
            // Scan data in the exchange ends, as anywhere, with the quiet
            // gap after its latest bytes.
            int64_t quiet_us = m->last_us + kScanQuietGapMs * 1000;
            int64_t until_us = m->len > 0 ? earlier_us(quiet_us, deadline_us) : deadline_us;
            SessionInput in = session_wait_input(s, sig, until_us, false);
            if (in == SessionInput::Lost)
                return SCAN_SESSION_PORT_LOST;
            if (in != SessionInput::Ready && m->len > 0 && port_now_us() >= quiet_us) {
                if (session_keep_scan(s, sig) == Kept::Answer) {
                    refused = true; // the engine has answered: it refuses the question
                    break;
                }
                reply_stream_clear(stream); // no reply reaches back into it
                continue;
            }
            if (in != SessionInput::Ready)
                break;
            int64_t now_us = port_now_us();
            if (m->len == 0)
                session_begin_message(s, now_us);
            // Wait for the time that the reply's missing bytes need.
            uint32_t gather_us =
                gather_left_us(reply_gather_us(expect_len, seen), port_waiting(s->fd));
            port_sleep_until(earlier_us(now_us + gather_us, deadline_us));
            size_t from = m->len;
            if (!session_read(s, sig))
                return SCAN_SESSION_PORT_LOST;
            seen += m->len - from;
            size_t used = 0;
            if (reply_find_in(stream, m->bytes + from, m->len - from, min_len, reply, &used)) {
                s->awaited_echo_len = 0;
                take_reply(s, sig, from + used, *reply, echo, echo_len);
                return 0;
            }
            if (m->len == kScanBufLen) // a full buffer of scan data ends its message
                session_keep_scan(s, sig);
        }
    }
    CORE_LOG(PRIO_ERROR, "%s, no answer", sig);
    return SCAN_SESSION_NO_ANSWER;
}

// A question that writes its answer into the caller's buffer needs one.
bool usable_with_buffer(ScanSession *s, const char *sig, const char *value)
{
    if (!session_usable(s, sig))
        return false;
    if (value == nullptr) {
        CORE_LOG(PRIO_ERROR, "%s, no buffer!", sig);
        return false;
    }
    return true;
}

bool type_valid(int type, const char *sig)
{
    if (type_index_valid(type))
        return true;
    CORE_LOG(PRIO_ERROR, "%s, invalid type index! type = %d", sig, type);
    return false;
}

} // namespace

int scan_session_open_dev(ScanSession *s, bool open)
{
    static const char sig[] = "int scan_session_open_dev(ScanSession *, bool)";
    if (!session_usable(s, sig))
        return SCAN_SESSION_INVALID;
    return send(s, sig, open ? kOpenFrame : kCloseFrame, kControlFrameLen);
}

int scan_session_enable_type(ScanSession *s, bool enable, int type)
{
    static const char sig[] = "int scan_session_enable_type(ScanSession *, bool, int)";
    if (!session_usable(s, sig) || !type_valid(type, sig))
        return SCAN_SESSION_INVALID;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(enable ? TYPE_ENABLE : TYPE_DISABLE, type, frame);
    return send(s, sig, frame, len);
}

int scan_session_set_timeout(ScanSession *s, int timeout)
{
    static const char sig[] = "int scan_session_set_timeout(ScanSession *, int)";
    if (!session_usable(s, sig))
        return SCAN_SESSION_INVALID;
    if (!timeout_in_range(timeout)) {
        CORE_LOG(PRIO_ERROR, "%s, timeout out of range -999..9999! time = %d", sig, timeout);
        return SCAN_SESSION_INVALID;
    }
    char text[5];
    unsigned char frame[kTimeoutFrameLen];
    timeout_text(timeout, text);
    timeout_frame(text, frame);
    return send(s, sig, frame, kTimeoutFrameLen);
}

int scan_session_set_command(ScanSession *s, const char *command)
{
    static const char sig[] = "int scan_session_set_command(ScanSession *, const char *)";
    if (!session_usable(s, sig))
        return SCAN_SESSION_INVALID;
    if (command == nullptr) {
        CORE_LOG(PRIO_ERROR, "%s, command is null!", sig);
        return SCAN_SESSION_INVALID;
    }
    size_t n = strnlen(command, kMaxCommandText + 1);
    if (n > kMaxCommandText) {
        CORE_LOG(PRIO_ERROR, "%s, command longer than %d bytes! length = %zu", sig,
                 static_cast<int>(kMaxCommandText), strlen(command));
        return SCAN_SESSION_INVALID;
    }
    unsigned char frame[kCommandFrameMax];
    size_t len = command_frame(command, n, frame);
    return send(s, sig, frame, len);
}

int scan_session_profile(ScanSession *s)
{
    static const char sig[] = "int scan_session_profile(ScanSession *)";
    if (!session_usable(s, sig))
        return SCAN_SESSION_INVALID;
    return send(s, sig, kProfileFrame, kProfileFrameLen);
}

int scan_session_check_type(ScanSession *s, int type)
{
    static const char sig[] = "int scan_session_check_type(ScanSession *, int)";
    if (!session_usable(s, sig) || !type_valid(type, sig))
        return SCAN_SESSION_INVALID;
    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(TYPE_CHECK, type, frame);
    ReplyStream stream;
    Reply reply;
    int r = ask(s, sig, frame, len, kCheckReplyMin, &stream, &reply);
    if (r < 0)
        return r;
    bool enabled = check_reply_enabled(reply.text, reply.n);
    CORE_LOG(PRIO_DEBUG, "%s, answer %s", sig, enabled ? "enabled" : "disabled");
    return enabled ? 1 : 0;
}

int scan_session_get_timeout(ScanSession *s, char value[5])
{
    static const char sig[] = "int scan_session_get_timeout(ScanSession *, char *)";
    if (!usable_with_buffer(s, sig, value))
        return SCAN_SESSION_INVALID;
    ReplyStream stream;
    Reply reply;
    int r = ask(s, sig, kTimeoutQueryFrame, kTimeoutQueryFrameLen, kTimeoutReplyMin, &stream,
                &reply);
    if (r < 0)
        return r;
    timeout_reply_value(reply.text, reply.n, value);
    CORE_LOG(PRIO_DEBUG, "%s, answer %s", sig, value);
    return static_cast<int>(kTimeoutValueLen);
}

int scan_session_query(ScanSession *s, int number, char value[16])
{
    static const char sig[] = "int scan_session_query(ScanSession *, int, char *)";
    if (!usable_with_buffer(s, sig, value))
        return SCAN_SESSION_INVALID;
    char text[16];
    unsigned char frame[kQueryFrameMax];
    size_t text_len = query_text(number, text);
    size_t len = query_frame(text, text_len, frame);
    ReplyStream stream;
    Reply reply;
    int r = ask(s, sig, frame, len, kQueryReplyMin, &stream, &reply);
    if (r < 0)
        return r;
    size_t n = query_reply_value(reply.text, reply.n, text, text_len, value);
    CORE_LOG(PRIO_DEBUG, "%s, answer %s", sig, value);
    return static_cast<int>(n);
}
