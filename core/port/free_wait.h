// Waits for the port to become free (scan_session_wait_free of
// scansession.h), and the owner's signal that this process's session has
// let it go.
#ifndef SCANJNI_CORE_FREE_WAIT_H
#define SCANJNI_CORE_FREE_WAIT_H

// Makes every wait for a free port of this process look again at once.
void free_wait_recheck();

#endif
