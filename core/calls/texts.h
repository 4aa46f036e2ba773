// Per-thread storage of the texts that the questions return.
//
// A returned text stays valid until the same thread calls the same
// function again; calls on other threads never touch it. The storage is
// made once per thread, on its first question, and freed when the thread
// exits, so no call allocates.
#ifndef SCANJNI_CORE_TEXTS_H
#define SCANJNI_CORE_TEXTS_H

#include "reply.h"

struct ThreadTexts {
    char timeout[5];
    char query[kReplyBufLen];
    char scan[kScanBufLen + 1]; // one byte more than a read can fill
};

// The calling thread's storage. Null only when memory runs out, after an
// error line under the caller's signature text.
ThreadTexts *thread_texts(const char *sig);

#endif
