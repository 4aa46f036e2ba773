/* An app's own native code as the package test builds it against the
 * archive's prefab headers and libraries: the session API (C linkage), in
 * a shared library linked with every symbol resolved. The per-call
 * functions of scanjni.h keep their C++ symbols and are for C++ callers. */
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
