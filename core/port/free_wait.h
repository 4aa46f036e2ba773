// Waits for the port to become free: no session of this process or
// another holds it. The session layer's scan_session_wait_free and
// scan_session_wake_free stand on these.
#ifndef SCANJNI_CORE_FREE_WAIT_H
#define SCANJNI_CORE_FREE_WAIT_H

// Blocks until the port is free (1), timeout_ms (>= 0) has passed or
// port_wake_free was called (0), or the device cannot be opened (-1,
// logged).
int port_wait_free(int timeout_ms);

// Ends every port_wait_free in progress at once, or the next one when none
// is in progress. Any thread.
void port_wake_free();

// Makes every wait for a free port of this process look again at once.
void free_wait_recheck();

#endif
