#include "log.h"

void log_byte_lines(const char *sig, const void *bytes, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < n; i++)
        CORE_LOG(PRIO_DEBUG, "%s, %.2X ", sig, static_cast<unsigned int>(p[i]));
}

void log_write_result(const char *sig, const char *what, int ret, int fail_prio)
{
    if (ret < 0)
        CORE_LOG(fail_prio, "%s, %s fail! ret = %d", sig, what, ret);
    else
        CORE_LOG(PRIO_DEBUG, "%s, %s successful! ret = %d", sig, what, ret);
}
