// The steps that the per-call scanner operations share: taking the port
// (a port cycle of their own, or this process's held session), writing
// one frame, and asking a question.
#ifndef SCANJNI_CORE_EXCHANGE_H
#define SCANJNI_CORE_EXCHANGE_H

#include "port.h"
#include "reply.h"

#include <stddef.h>

struct Session;

// Where a per-call operation runs.
struct CallPort {
    PortCycle cycle;      // a port cycle of its own, when session is null
    Session *session; // this process's held session
};

// Takes the port for one operation: this process's session when it holds
// the port (logged "%s, on the held port"), else a port cycle of its own
// (port_open, with its failure lines). False when the operation must fail.
bool call_open(const char *sig, int cfg_fail_prio, CallPort *port);

// Gives the port back: closes the cycle, or leaves the session.
void call_close(CallPort *port);

// How one write operation reports itself.
struct WriteOp {
    const char *sig;    // signature text, first "%s" of every line
    const char *what;   // "%s, <what> successful!/fail! ret = %d"
    int cfg_fail_prio;  // priority of the configure-failure line
    int write_fail_prio;
    int fail_result;    // result when the port cannot be taken
    bool settle;        // wait 100 ms after the write, port still held
};

// Takes the port, writes the frame, logs the write and gives the port
// back. Returns the write's result, or op.fail_result when the port
// cannot be taken.
int send_frame(const WriteOp &op, const void *frame, size_t len);

// Writes a question frame, logs the write ("%s, <what> successful!/fail!
// ret = %d", failure at error) and waits for the reply, also after a
// failed write. In a port cycle: the reply poll, 10 attempts of 10 ms,
// every read logged in byte lines, the reply looked for at its end.
// On the session: the answer that carries the frame's echo, logged in
// byte lines, or "%s, no answer". True, with the reply in *reply (inside
// *stream), when one was accepted.
bool ask(CallPort *port, const char *sig, const char *what, const unsigned char *frame,
         size_t len, size_t min_len, ReplyStream *stream, Reply *reply);

#endif
