/* scansession.h from C: every function called. Outside the test's /dev
 * namespace there is no scanner port, so the open fails and every call on
 * a session that is not open is refused. Exit 0 when all answered so. */
#include "scansession.h"

#include <stdio.h>

int main(void)
{
    int error = 0;
    ScanSession *s = scan_session_open(&error);
    if (s != NULL || error != SCAN_SESSION_NO_PORT) {
        fprintf(stderr, "open: %p, error %d\n", (void *)s, error);
        return 1;
    }
    char timeout[5];
    char value[16];
    unsigned char buf[8];
    int64_t first_us = 0;
    const int results[] = {
        scan_session_open_dev(s, true),
        scan_session_enable_type(s, false, 3),
        scan_session_set_timeout(s, 1000),
        scan_session_set_command(s, "PING"),
        scan_session_profile(s),
        scan_session_check_type(s, 3),
        scan_session_get_timeout(s, timeout),
        scan_session_query(s, 100002, value),
        scan_session_wait_scan(s, 10, buf, sizeof buf, &first_us),
    };
    scan_session_wake(s);
    scan_session_close(s);
    for (size_t i = 0; i < sizeof results / sizeof results[0]; i++) {
        if (results[i] != SCAN_SESSION_INVALID) {
            fprintf(stderr, "call %zu: %d\n", i, results[i]);
            return 1;
        }
    }
    return 0;
}
