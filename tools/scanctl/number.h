// Strict decimal number parsing for the command-line tools: the whole
// argument must be one number within the given bounds, nothing else.
#pragma once

// Parses text as a decimal integer in [lo, hi]. Leading blanks, a sign,
// trailing characters, an empty text and overflow are all rejected.
bool parse_int_in(const char *text, long lo, long hi, int *out);
