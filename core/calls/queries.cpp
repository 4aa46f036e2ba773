// The three questions: write one question frame, poll for the reply,
// take the answer out of it.
#include "scanjni.h"
#include "logtext.h"
#include "exchange.h"
#include "log.h"
#include "operations.h"
#include "reply.h"
#include "texts.h"

#include <string.h>

bool scan_type_check(int type)
{
    static const char sig[] = SIG_TYPE_CHECK;
    ReplyStream stream;
    Reply reply;

    CORE_LOG(PRIO_DEBUG, FMT_TYPE_IS, sig, type);
    OpCall c = op_call(OP_CHECK_TYPE, false, type, nullptr);
    if (!op_accepted(sig, &c))
        return false;
    CallPort port;
    if (!call_open(sig, PRIO_ERROR, &port))
        return false;

    op_frame(&c);
    bool enable = false;
    if (ask(&port, sig, WHAT_CHECK, c.frame, c.len, op_answer_min(c.id), &stream, &reply)) {
        enable = op_result(c, reply.text, reply.n, nullptr) == 1;
        CORE_LOG(PRIO_DEBUG, FMT_ENABLE, sig, enable ? 1 : 0);
    }
    call_close(&port);
    return enable;
}

namespace {

// A question whose answer is a text in the calling thread's storage:
// null when the storage or the port cannot be had, the empty text when no
// answer was accepted.
char *ask_text(const char *sig, const char *what, const OpCall &c, char *result, size_t size)
{
    CallPort port;
    if (result == nullptr || !call_open(sig, PRIO_ERROR, &port))
        return nullptr;
    ReplyStream stream;
    Reply reply;
    memset(result, 0, size);
    if (ask(&port, sig, what, c.frame, c.len, op_answer_min(c.id), &stream, &reply)) {
        op_result(c, reply.text, reply.n, result);
        CORE_LOG(PRIO_DEBUG, FMT_VALUE, sig, result);
    }
    call_close(&port);
    return result;
}

} // namespace

char *scan_get_timeout()
{
    static const char sig[] = SIG_GET_TIMEOUT;
    ThreadTexts *texts = thread_texts(sig);
    OpCall c = op_call(OP_GET_TIMEOUT, false, 0, nullptr);
    op_frame(&c);
    return ask_text(sig, WHAT_GET_TIMEOUT, c, texts ? texts->timeout : nullptr, sizeof texts->timeout);
}

char *scan_query_data(int number)
{
    static const char sig[] = SIG_QUERY_DATA;
    OpCall c = op_call(OP_QUERY, false, number, nullptr);
    op_frame(&c);
    CORE_LOG(PRIO_DEBUG, FMT_QUERY_COMMAND, sig, static_cast<int>(c.text_len), c.text);
    CORE_LOG(PRIO_DEBUG, FMT_QUERY_WRITE_LEN, sig, static_cast<int>(c.len));
    log_byte_lines(sig, c.frame, c.len);

    ThreadTexts *texts = thread_texts(sig);
    return ask_text(sig, WHAT_QUERY, c, texts ? texts->query : nullptr, sizeof texts->query);
}
