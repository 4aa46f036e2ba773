#include "arg_checks.h"
#include "logtext.h"
#include "frames.h"
#include "log.h"

#include <string.h>

bool type_accepted(const char *sig, int type)
{
    if (type_index_valid(type))
        return true;
    CORE_LOG(PRIO_ERROR, FMT_INVALID_TYPE, sig, type);
    return false;
}

bool timeout_accepted(const char *sig, int timeout)
{
    if (timeout_in_range(timeout))
        return true;
    CORE_LOG(PRIO_ERROR, FMT_TIMEOUT_RANGE, sig, timeout);
    return false;
}

bool command_accepted(const char *sig, const char *command, size_t *len)
{
    if (command == nullptr) {
        CORE_LOG(PRIO_ERROR, FMT_COMMAND_NULL, sig);
        return false;
    }
    *len = strnlen(command, kMaxCommandText + 1);
    if (*len <= kMaxCommandText)
        return true;
    CORE_LOG(PRIO_ERROR, FMT_COMMAND_LONG, sig,
             static_cast<int>(kMaxCommandText), strlen(command));
    return false;
}
