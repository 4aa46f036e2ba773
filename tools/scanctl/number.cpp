#include "number.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>

bool parse_int_in(const char *text, long lo, long hi, int *out)
{
    // strtol skips leading white space; an argument " 5" is not a number.
    if (text == nullptr || text[0] == '\0' || isspace(static_cast<unsigned char>(text[0])))
        return false;
    char *end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return false;
    if (value < lo || value > hi)
        return false;
    *out = static_cast<int>(value);
    return true;
}
