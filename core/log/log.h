// Log helpers shared by the scanner operations. Every line goes to the
// Android log under "SCANLIB_CORE"; the first "%s" of each format is the
// signature text of the function that logs it.
#ifndef SCANJNI_CORE_LOG_H
#define SCANJNI_CORE_LOG_H

#include <android/log.h>
#include <stddef.h>

#define CORE_TAG LOG_TAG_CORE
#define PRIO_DEBUG ANDROID_LOG_DEBUG  // 3: progress and byte lines
#define PRIO_WARN ANDROID_LOG_WARN    // 5: what the device does not allow
#define PRIO_ERROR ANDROID_LOG_ERROR  // 6: failures

#define CORE_LOG(prio, ...) __android_log_print((prio), CORE_TAG, __VA_ARGS__)

// One line "%s, %.2X " per byte, always the unsigned value 00..FF.
void log_byte_lines(const char *sig, const void *bytes, size_t n);

// Bytes in hexadecimal, as the session logs frames and messages: lines
// "%s, <mark> FF 4D 0D ..." of at most kHexBytesPerLine upper-case bytes
// each, one blank between them; mark is ">" for bytes written, "<" for
// bytes read.
constexpr size_t kHexBytesPerLine = 16;
void log_hex_lines(const char *sig, const char *mark, const void *bytes, size_t n);

// "%s, <what> successful! ret = %d" at debug for ret >= 0, otherwise
// "%s, <what> fail! ret = %d" at fail_prio.
void log_write_result(const char *sig, const char *what, int ret, int fail_prio);

#endif
