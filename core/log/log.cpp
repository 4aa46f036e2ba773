#include "log.h"
#include "logtext.h"

void log_byte_lines(const char *sig, const void *bytes, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(bytes);
    for (size_t i = 0; i < n; i++)
        CORE_LOG(PRIO_DEBUG, FMT_BYTE, sig, static_cast<unsigned int>(p[i]));
}

void log_write_result(const char *sig, const char *what, int ret, int fail_prio)
{
    if (ret < 0)
        CORE_LOG(fail_prio, FMT_WRITE_FAIL, sig, what, ret);
    else
        CORE_LOG(PRIO_DEBUG, FMT_WRITE_OK, sig, what, ret);
}
