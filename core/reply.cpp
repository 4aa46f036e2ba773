#include "reply.h"

#include <string.h>

size_t text_len(const void *buf, long got)
{
    if (got <= 0)
        return 0;
    const void *zero = memchr(buf, 0, static_cast<size_t>(got));
    if (zero)
        return static_cast<size_t>(static_cast<const unsigned char *>(zero) -
                                   static_cast<const unsigned char *>(buf));
    return static_cast<size_t>(got);
}

bool reply_accepted(const unsigned char *reply, size_t n, size_t min_len)
{
    return n >= 2 && n >= min_len && reply[n - 2] == kAck;
}

bool check_reply_enabled(const unsigned char *reply, size_t n)
{
    return reply[n - 3] == '1';
}

void timeout_reply_value(const unsigned char *reply, size_t n, char value[5])
{
    memcpy(value, reply + n - 6, 4);
    value[4] = '\0';
}

size_t query_reply_value(const unsigned char *reply, size_t n, size_t echo_len, char *value)
{
    size_t k = (n >= 2 + echo_len) ? n - 2 - echo_len : 0;
    if (k > 0)
        memcpy(value, reply + echo_len, k);
    value[k] = '\0';
    return k;
}
