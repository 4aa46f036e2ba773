// Test interface of the host stand-in for Android's liblog.
//
// The stand-in writes every line to stderr in logcat's brief form
// ("D/SCANLIB_CORE( 1234): text") unless HOSTLOG_QUIET is set in the
// environment or hostlog_set_echo(0) was called. HOSTLOG_FORMAT=time,
// threadtime or long selects another of logcat's formats, so that the
// stand-in's output reads like an "adb logcat -v FORMAT" capture. While capturing, it also
// keeps an exact record of every line: priority, tag and formatted text.
// With HOSTLOG_FILE=path in the environment each line is also appended to
// that file as "prio<TAB>tag<TAB>text" with the text escaped (\n, \r, \t,
// \\ and \xNN for other control and non-ASCII bytes), one line per record,
// so that another process (a JVM test) can read the exact record back.
#ifndef SCANJNI_HOSTLOG_H
#define SCANJNI_HOSTLOG_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct hostlog_line {
    int prio;
    const char *tag;
    const char *text;
};

// Starts (on != 0) or stops keeping records; either way drops those kept.
void hostlog_capture(int on);
// Drops the records kept so far.
void hostlog_clear(void);
size_t hostlog_count(void);
// Record i (0-based); returns 0 when there is no such record. The strings
// stay valid until the next hostlog_clear or hostlog_capture.
int hostlog_get(size_t i, struct hostlog_line *out);
void hostlog_set_echo(int on);

#ifdef __cplusplus
}
#endif

#endif
