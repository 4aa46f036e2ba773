#include "line.h"

namespace {
// Most bytes whose time fits in 32 bits of nanoseconds (49481).
const size_t kMaxTimedBytes = 0xFFFFFFFFu / kByteTimeNs;
} // namespace

uint32_t line_time_us(size_t n)
{
    if (n > kMaxTimedBytes)
        n = kMaxTimedBytes;
    uint32_t ns = static_cast<uint32_t>(n) * kByteTimeNs;
    return (ns + 999) / 1000;
}

uint32_t reply_gather_us(size_t expect_len, size_t seen)
{
    size_t need = expect_len > seen ? expect_len - seen : kReplyStepBytes;
    return line_time_us(need - 1);
}

uint32_t gather_left_us(uint32_t gather_us, int waiting)
{
    if (waiting <= 1)
        return gather_us;
    uint32_t passed = line_time_us(static_cast<size_t>(waiting - 1));
    return passed < gather_us ? gather_us - passed : 0;
}

bool began_before_flush(int64_t since_flush_us, size_t bytes)
{
    return static_cast<int64_t>(line_time_us(bytes)) + kTailMarginUs > since_flush_us;
}
