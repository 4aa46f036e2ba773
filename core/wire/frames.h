// The engine's frames, built without any I/O.
//
// Every frame starts with 0xFF, a letter and 0x0D. 'T' and 'U' are the
// 3-byte open and close frames; 'M' starts a command frame: an ASCII body
// (a six-digit code with a value, or a number with '?') and a final '.'.
#ifndef SCANJNI_CORE_FRAMES_H
#define SCANJNI_CORE_FRAMES_H

#include <stddef.h>

constexpr int kTypeCount = 35;
constexpr size_t kTypeFrameLen = 11;
constexpr size_t kTimeoutFrameLen = 14;
constexpr size_t kTimeoutQueryFrameLen = 11;
constexpr size_t kProfileFrameLen = 20;
constexpr size_t kControlFrameLen = 3;
constexpr size_t kMaxCommandText = 255;
constexpr size_t kCommandFrameMax = kMaxCommandText + 4;
constexpr size_t kQueryFrameMax = 16; // "-2147483648" plus header and "?."

extern const unsigned char kOpenFrame[kControlFrameLen];
extern const unsigned char kCloseFrame[kControlFrameLen];
extern const unsigned char kTimeoutQueryFrame[kTimeoutQueryFrameLen];
extern const unsigned char kProfileFrame[kProfileFrameLen];

// A question frame is the command header (3 bytes), the question's number
// text and "?." (2 bytes); the engine's reply echoes the number text.
constexpr size_t kQuestionHeaderLen = 3;
constexpr size_t kQuestionFrameOverhead = 5;

// Length of the number text that a question frame of frame_len bytes
// carries, which its reply echoes.
size_t question_echo_len(size_t frame_len);

enum TypeFrameKind { TYPE_ENABLE, TYPE_DISABLE, TYPE_CHECK };

bool type_index_valid(int type);

// The six-digit code of a type index (valid) in the type code table.
const char *type_code(int type);

// The enable, disable or check frame of one row of the type code table:
// header, the row's six-digit code, '1', '0' or '?', and '.'. Returns its
// length, 11 for every row. type must be valid.
size_t type_frame(TypeFrameKind kind, int type, unsigned char frame[kTypeFrameLen]);

bool timeout_in_range(int value);

// The value's decimal text in five zero-filled bytes. value must be in range.
void timeout_text(int value, char text[5]);

// The 14-byte timeout frame carrying the first four bytes of text,
// zero bytes included.
void timeout_frame(const char text[5], unsigned char frame[kTimeoutFrameLen]);

// Header, the n bytes of text, '.': n + 4 bytes. n must be at most
// kMaxCommandText.
size_t command_frame(const char *text, size_t n, unsigned char frame[kCommandFrameMax]);

// The decimal text of number in 16 zero-filled bytes; returns its length.
size_t query_text(int number, char text[16]);

// Header, the len bytes of text, "?.": len + 5 bytes. len must be at most 11.
size_t query_frame(const char *text, size_t len, unsigned char frame[kQueryFrameMax]);

#endif
