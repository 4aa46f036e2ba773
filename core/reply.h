// Reading the engine's answers, without any I/O.
//
// A reply is the value's text followed by the ACK byte 0x06 and one final
// byte, possibly after an echo. Only the bytes that one read returned make
// up a reply text; it ends at the first zero byte among them.
#ifndef SCANJNI_CORE_REPLY_H
#define SCANJNI_CORE_REPLY_H

#include <stddef.h>

constexpr unsigned char kAck = 0x06;
constexpr size_t kReplyBufLen = 16;
constexpr size_t kScanBufLen = 8192;

// Shortest reply that holds a value for each question.
constexpr size_t kCheckReplyMin = 3;   // value, ACK, final byte
constexpr size_t kTimeoutReplyMin = 6; // four value bytes, ACK, final byte
constexpr size_t kQueryReplyMin = 2;   // ACK, final byte

// Length of the text in the first got bytes of buf: up to the first zero
// byte among them, or got when there is none; 0 when got is not positive.
size_t text_len(const void *buf, long got);

// True when the reply text holds at least min_len bytes and its
// second-to-last byte is the ACK byte.
bool reply_accepted(const unsigned char *reply, size_t n, size_t min_len);

// Check reply: enabled when the byte before the ACK byte is '1'.
bool check_reply_enabled(const unsigned char *reply, size_t n);

// Timeout reply: the four bytes before the ACK byte, zero-terminated.
void timeout_reply_value(const unsigned char *reply, size_t n, char value[5]);

// Query reply: the bytes after the echoed number text (echo_len bytes) up
// to the ACK byte, zero-terminated in value (at least n - 1 bytes). Returns
// the value's length; 0 when the reply holds nothing after the echo.
size_t query_reply_value(const unsigned char *reply, size_t n, size_t echo_len, char *value);

#endif
