#include "frames.h"

#include <stdio.h>
#include <string.h>

namespace {

// Type code table: one six-digit code per type index.
const char kTypeCodes[kTypeCount][7] = {
    "999001", "931001", "936001", "900003", "922001", "923001", "908002",
    "901001", "904002", "909001", "929001", "916001", "915001", "910001",
    "926001", "920001", "919001", "918001", "932001", "902002", "937001",
    "907001", "930001", "917001", "925001", "903001", "924001", "928001",
    "905001", "906001", "911001", "927001", "921001", "912003", "914010",
};

const unsigned char kHeader[3] = {0xFF, 'M', 0x0D};

// The value bytes at 9..12 ("3000") are always overwritten before sending.
const unsigned char kTimeoutTemplate[kTimeoutFrameLen] = {
    0xFF, 'M', 0x0D, '8', '6', '1', '0', '0', '1', '3', '0', '0', '0', '.'};

} // namespace

const unsigned char kOpenFrame[kControlFrameLen] = {0xFF, 'T', 0x0D};
const unsigned char kCloseFrame[kControlFrameLen] = {0xFF, 'U', 0x0D};
const unsigned char kTimeoutQueryFrame[kTimeoutQueryFrameLen] = {
    0xFF, 'M', 0x0D, '8', '6', '1', '0', '0', '1', '?', '.'};
const unsigned char kProfileFrame[kProfileFrameLen] = {
    0xFF, 'M', 0x0D, '8', '8', '9', '0', '0', '3', ',',
    '0',  '0', '2',  '9', '9', '5', 'C', '8', '0', '.'};

bool type_index_valid(int type)
{
    return type >= 0 && type < kTypeCount;
}

const char *type_code(int type)
{
    return kTypeCodes[type];
}

size_t type_frame(TypeFrameKind kind, int type, unsigned char frame[kTypeFrameLen])
{
    static const char kValue[] = {'1', '0', '?'};
    memcpy(frame, kHeader, sizeof kHeader);
    memcpy(frame + 3, kTypeCodes[type], 6);
    frame[9] = static_cast<unsigned char>(kValue[kind]);
    frame[10] = '.';
    return kTypeFrameLen;
}

bool timeout_in_range(int value)
{
    return value >= -999 && value <= 9999;
}

void timeout_text(int value, char text[5])
{
    memset(text, 0, 5);
    snprintf(text, 5, "%d", value);
}

void timeout_frame(const char text[5], unsigned char frame[kTimeoutFrameLen])
{
    memcpy(frame, kTimeoutTemplate, kTimeoutFrameLen);
    memcpy(frame + 9, text, 4);
}

size_t command_frame(const char *text, size_t n, unsigned char frame[kCommandFrameMax])
{
    memcpy(frame, kHeader, sizeof kHeader);
    if (n > 0)
        memcpy(frame + 3, text, n);
    frame[3 + n] = '.';
    return n + 4;
}

size_t query_text(int number, char text[16])
{
    memset(text, 0, 16);
    int len = snprintf(text, 16, "%d", number);
    return len > 0 ? static_cast<size_t>(len) : 0;
}

size_t query_frame(const char *text, size_t len, unsigned char frame[kQueryFrameMax])
{
    memcpy(frame, kHeader, sizeof kHeader);
    memcpy(frame + 3, text, len);
    frame[3 + len] = '?';
    frame[4 + len] = '.';
    return len + 5;
}

size_t question_echo_len(size_t frame_len)
{
    return frame_len > kQuestionFrameOverhead ? frame_len - kQuestionFrameOverhead : 0;
}
