// The two exchanges that the scanner operations share: sending one frame
// in a complete port cycle, and polling an open port for a reply.
#ifndef SCANJNI_CORE_EXCHANGE_H
#define SCANJNI_CORE_EXCHANGE_H

#include "reply.h"

#include <stddef.h>

// A question's reply is looked for in this many attempts of
// kPollIntervalMs each.
constexpr int kReplyAttempts = 10;

// How one write operation reports itself.
struct WriteOp {
    const char *sig;    // signature text, first "%s" of every line
    const char *what;   // "%s, <what> successful!/fail! ret = %d"
    int cfg_fail_prio;  // priority of the configure-failure line
    int write_fail_prio;
    int fail_result;    // result when the port cannot be opened or configured
    bool settle;        // wait 100 ms after the write, port still open
};

// One port cycle that writes the frame. Returns the write's result, or
// op.fail_result when the port fails.
int send_frame(const WriteOp &op, const void *frame, size_t len);

// Writes a question frame on the open port, logs the write ("%s, <what>
// successful!/fail! ret = %d", failure at error) and polls for the reply,
// also after a failed write. Returns what poll_reply returns.
bool ask(int fd, const char *sig, const char *what, const void *frame, size_t len,
         size_t min_len, ReplyStream *stream, Reply *reply);

// Polls for a reply in 10 attempts of 10 ms. Once bytes arrive, each read
// waits for the time that the reply's missing bytes need on the wire (the
// reply is expect_len bytes or longer), logs what came, and looks for a
// reply of at least min_len bytes at the end of everything read so far;
// an attempt in which nothing arrives logs its failed read. True, with
// the reply in *reply (inside *stream), when one was found.
bool poll_reply(int fd, const char *sig, size_t min_len, size_t expect_len, ReplyStream *stream,
                Reply *reply);

#endif
