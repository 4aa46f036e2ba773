// The engine's eight operations, each written once: the arguments it
// takes (others are refused with one error line under the caller's
// signature text), the frame it sends, the answer it waits for and the
// result taken from that answer. The per-call functions of scanjni.h and
// the session's functions both run them from here, each logging its own
// lines.
#ifndef SCANJNI_CORE_OPERATIONS_H
#define SCANJNI_CORE_OPERATIONS_H

#include "frames.h"

#include <stddef.h>

enum OpId {
    OP_OPEN_DEV,    // the open (on) or close frame
    OP_ENABLE_TYPE, // a type index enabled (on) or disabled
    OP_SET_TIMEOUT, // the engine's timeout, -999..9999
    OP_SET_COMMAND, // a command text of at most kMaxCommandText bytes
    OP_PROFILE,     // the profile frame
    OP_CHECK_TYPE,  // question: is a type index enabled
    OP_GET_TIMEOUT, // question: the engine's timeout
    OP_QUERY,       // question: the value of a numbered setting
};

// One run of an operation: its arguments, then (op_frame) its frame.
struct OpCall {
    OpId id;
    bool on;
    int number;          // type index, timeout or setting number
    const char *command; // the command text
    size_t command_len;  // its length (op_accepted)
    char text[16];       // the timeout's text, or the setting number's
    size_t text_len;
    unsigned char frame[kCommandFrameMax];
    size_t len;
};

inline OpCall op_call(OpId id, bool on, int number, const char *command)
{
    OpCall c = {};
    c.id = id;
    c.on = on;
    c.number = number;
    c.command = command;
    return c;
}

// The shortest answer a question accepts (echo left out): its answer's
// form. 0 for a write, which awaits none.
size_t op_answer_min(OpId id);

// True when an engine takes the call's arguments; otherwise one error line
// under sig.
bool op_accepted(const char *sig, OpCall *c);

// Builds the frame (and the text it carries) of an accepted call.
void op_frame(OpCall *c);

// A question's result from its accepted answer: 1 or 0 for a check; for
// the timeout and a query the value's length, its text and a zero in value.
int op_result(const OpCall &c, const unsigned char *answer, size_t n, char *value);

#endif
