// Holds a session on /dev/ttyMT1 for a while, as an app holding the port
// does, so that the replay tests can capture other processes meeting it:
//   replay_hold_port MS [WAIT_MS]   opens a session, keeps it MS ms, closes
//                                   it; with WAIT_MS, first waits up to
//                                   WAIT_MS ms for the port to be free
// Logs (host log stand-in) what the library logs; exits 1 when the open
// was refused.
#include <stdlib.h>
#include <unistd.h>

#include "scansession.h"

int main(int argc, char** argv) {
    int hold_ms = argc > 1 ? atoi(argv[1]) : 0;
    if (argc > 2) scan_session_wait_free(atoi(argv[2]));
    int error = 0;
    ScanSession* s = scan_session_open(&error);
    if (s == nullptr) return 1;
    usleep(static_cast<useconds_t>(hold_ms) * 1000u);
    scan_session_close(s);
    return 0;
}
