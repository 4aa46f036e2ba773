// Arguments that no engine takes, refused with one error line under the
// caller's signature text, the same for the per-call functions and the
// session.
#ifndef SCANJNI_CORE_ARG_CHECKS_H
#define SCANJNI_CORE_ARG_CHECKS_H

#include <stddef.h>

// A type index of the type code table (0..34).
bool type_accepted(const char *sig, int type);

// A timeout whose text fits the frame's four characters (-999..9999).
bool timeout_accepted(const char *sig, int timeout);

// A command text of at most kMaxCommandText bytes; its length in *len.
bool command_accepted(const char *sig, const char *command, size_t *len);

#endif
