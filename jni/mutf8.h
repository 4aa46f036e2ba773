// Turning any zero-terminated byte text into valid modified UTF-8, the
// only form that the VM's NewStringUTF accepts (ART aborts a debuggable
// app on anything else, and scan data may hold any byte).
//
// Rules, applied from left to right:
// - Every sequence that is already valid modified UTF-8 passes unchanged,
//   byte for byte: ASCII 01..7F; C0 80 (the two-byte form of U+0000);
//   two-byte forms C2..DF 80..BF; three-byte forms of U+0800..U+FFFF,
//   including the encoded surrogates ED A0..BF 80..BF.
// - A valid four-byte UTF-8 sequence (U+10000..U+10FFFF) becomes its
//   surrogate pair: two three-byte sequences ED A0..AF xx ED B0..BF xx.
// - Every other byte, that is one that does not start a valid sequence
//   at its place, becomes the character of the same value, U+0080..U+00FF,
//   written as C2 80..BF or C3 80..BF; conversion goes on with the byte
//   after it. Invalid are: stray continuation bytes 80..BF, overlong
//   forms other than C0 80 (C0 xx, C1 xx, E0 80..9F xx, F0 80..8F xx xx),
//   lead bytes F5..FF (5- and 6-byte forms and code points above
//   U+10FFFF, as are F4 90..BF xx xx), and lead bytes whose sequence is
//   cut short by a byte that is not a continuation byte or by the end.
//
// Each input byte yields at most two output bytes, so an output of
// 2 * strlen(text) + 1 bytes always holds the whole result.
#ifndef SCANJNI_JNI_MUTF8_H
#define SCANJNI_JNI_MUTF8_H

#include <stddef.h>

// Converts the zero-terminated text into out, which has room for
// out_size bytes, and returns the length of the complete result (without
// its terminating zero), whether or not it fitted. When out_size is not
// 0, out receives as many whole characters as fit before a terminating
// zero, so even a cut result is valid; out may be null when out_size is
// 0. The result equals strlen(text) exactly when the text is already
// valid modified UTF-8 (every change makes the text longer).
size_t mutf8_convert(const char *text, char *out, size_t out_size);

#endif
