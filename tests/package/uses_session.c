/* An app's own native code as the package test builds it against the
 * archive's prefab headers and libraries: the session API and a per-call
 * function, in a shared library linked with every symbol resolved. */
#include <scansession.h>

/* Takes one scan on a held port; returns its length, or a negative
 * ScanSessionError. */
int app_scan_once(unsigned char *buf, size_t cap, int timeout_ms)
{
    int error = 0;
    struct ScanSession *s = scan_session_open(&error);
    if (s == 0)
        return error;
    int64_t first_byte_us = 0;
    int n = scan_session_wait_scan(s, timeout_ms, buf, cap, &first_byte_us);
    scan_session_close(s);
    return n;
}

/* The per-call functions of scanjni.h come with the same header. */
const char *app_timeout(void)
{
    return scan_get_timeout();
}
