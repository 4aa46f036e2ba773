#include "operations.h"
#include "logtext.h"
#include "log.h"
#include "reply.h"

#include <string.h>

size_t op_answer_min(OpId id)
{
    switch (id) {
    case OP_CHECK_TYPE: return kCheckReplyMin;
    case OP_GET_TIMEOUT: return kTimeoutReplyMin;
    case OP_QUERY: return kQueryReplyMin;
    default: return 0;
    }
}

bool op_accepted(const char *sig, OpCall *c)
{
    if ((c->id == OP_ENABLE_TYPE || c->id == OP_CHECK_TYPE) && !type_index_valid(c->number)) {
        CORE_LOG(PRIO_ERROR, FMT_INVALID_TYPE, sig, c->number);
        return false;
    }
    if (c->id == OP_SET_TIMEOUT && !timeout_in_range(c->number)) {
        CORE_LOG(PRIO_ERROR, FMT_TIMEOUT_RANGE, sig, c->number);
        return false;
    }
    if (c->id != OP_SET_COMMAND)
        return true;
    if (c->command == nullptr) {
        CORE_LOG(PRIO_ERROR, FMT_COMMAND_NULL, sig);
        return false;
    }
    c->command_len = strnlen(c->command, kMaxCommandText + 1);
    if (c->command_len <= kMaxCommandText)
        return true;
    CORE_LOG(PRIO_ERROR, FMT_COMMAND_LONG, sig, static_cast<int>(kMaxCommandText),
             strlen(c->command));
    return false;
}

void op_frame(OpCall *c)
{
    const unsigned char *fixed = nullptr;
    switch (c->id) {
    case OP_OPEN_DEV:
        fixed = c->on ? kOpenFrame : kCloseFrame;
        c->len = kControlFrameLen;
        break;
    case OP_ENABLE_TYPE:
    case OP_CHECK_TYPE:
        c->len = type_frame(c->id == OP_CHECK_TYPE ? TYPE_CHECK : c->on ? TYPE_ENABLE : TYPE_DISABLE,
                            c->number, c->frame);
        break;
    case OP_SET_TIMEOUT:
        timeout_text(c->number, c->text);
        c->text_len = kTimeoutValueLen;
        timeout_frame(c->text, c->frame);
        c->len = kTimeoutFrameLen;
        break;
    case OP_SET_COMMAND:
        c->len = command_frame(c->command, c->command_len, c->frame);
        break;
    case OP_PROFILE:
        fixed = kProfileFrame;
        c->len = kProfileFrameLen;
        break;
    case OP_GET_TIMEOUT:
        fixed = kTimeoutQueryFrame;
        c->len = kTimeoutQueryFrameLen;
        break;
    case OP_QUERY:
        c->text_len = query_text(c->number, c->text);
        c->len = query_frame(c->text, c->text_len, c->frame);
        break;
    }
    if (fixed != nullptr)
        memcpy(c->frame, fixed, c->len);
}

int op_result(const OpCall &c, const unsigned char *answer, size_t n, char *value)
{
    if (c.id == OP_CHECK_TYPE)
        return check_reply_enabled(answer, n) ? 1 : 0;
    if (c.id == OP_GET_TIMEOUT) {
        timeout_reply_value(answer, n, value);
        return static_cast<int>(kTimeoutValueLen);
    }
    return static_cast<int>(query_reply_value(answer, n, c.text, c.text_len, value));
}
