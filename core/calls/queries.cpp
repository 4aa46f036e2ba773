// The three questions: write one question frame, poll for the reply,
// take the answer out of it.
#include "scanjni.h"
#include "logtext.h"
#include "arg_checks.h"
#include "exchange.h"
#include "frames.h"
#include "log.h"
#include "reply.h"
#include "texts.h"

#include <string.h>

bool scan_type_check(int type)
{
    static const char sig[] = SIG_TYPE_CHECK;
    ReplyStream stream;
    Reply reply;

    CORE_LOG(PRIO_DEBUG, FMT_TYPE_IS, sig, type);
    if (!type_accepted(sig, type))
        return false;
    CallPort port;
    if (!call_open(sig, PRIO_ERROR, &port))
        return false;

    unsigned char frame[kTypeFrameLen];
    size_t len = type_frame(TYPE_CHECK, type, frame);
    bool enable = false;
    if (ask(&port, sig, WHAT_CHECK, frame, len, kCheckReplyMin, &stream, &reply)) {
        enable = check_reply_enabled(reply.text, reply.n);
        CORE_LOG(PRIO_DEBUG, FMT_ENABLE, sig, enable ? 1 : 0);
    }
    call_close(&port);
    return enable;
}

char *scan_get_timeout()
{
    static const char sig[] = SIG_GET_TIMEOUT;
    ReplyStream stream;
    Reply reply;

    ThreadTexts *texts = thread_texts(sig);
    if (texts == nullptr)
        return nullptr;
    char *result = texts->timeout;
    CallPort port;
    if (!call_open(sig, PRIO_ERROR, &port))
        return nullptr;

    memset(result, 0, sizeof texts->timeout);
    if (ask(&port, sig, WHAT_GET_TIMEOUT, kTimeoutQueryFrame, kTimeoutQueryFrameLen, kTimeoutReplyMin,
            &stream, &reply)) {
        timeout_reply_value(reply.text, reply.n, result);
        CORE_LOG(PRIO_DEBUG, FMT_VALUE, sig, result);
    }
    call_close(&port);
    return result;
}

char *scan_query_data(int number)
{
    static const char sig[] = SIG_QUERY_DATA;
    ReplyStream stream;
    Reply reply;
    char command[16];
    unsigned char frame[kQueryFrameMax];

    size_t command_len = query_text(number, command);
    CORE_LOG(PRIO_DEBUG, FMT_QUERY_COMMAND, sig,
             static_cast<int>(command_len), command);
    size_t write_len = query_frame(command, command_len, frame);
    CORE_LOG(PRIO_DEBUG, FMT_QUERY_WRITE_LEN, sig, static_cast<int>(write_len));
    log_byte_lines(sig, frame, write_len);

    ThreadTexts *texts = thread_texts(sig);
    if (texts == nullptr)
        return nullptr;
    char *result = texts->query;
    CallPort port;
    if (!call_open(sig, PRIO_ERROR, &port))
        return nullptr;

    memset(result, 0, sizeof texts->query);
    if (ask(&port, sig, WHAT_QUERY, frame, write_len, kQueryReplyMin, &stream, &reply)) {
        query_reply_value(reply.text, reply.n, command, command_len, result);
        CORE_LOG(PRIO_DEBUG, FMT_VALUE, sig, result);
    }
    call_close(&port);
    return result;
}
