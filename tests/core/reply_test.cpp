// Reply parsing: accept test, values and the bounds of short replies.
#include "reply.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

const unsigned char *u(const char *s)
{
    return reinterpret_cast<const unsigned char *>(s);
}

TEST(ReplyText, EndsAtFirstZeroAmongTheBytesRead)
{
    EXPECT_EQ(text_len("abc\0def", 7), 3u);
    EXPECT_EQ(text_len("abcdef", 4), 4u); // stale bytes past the read never count
    EXPECT_EQ(text_len("abc", 0), 0u);
    EXPECT_EQ(text_len("abc", -1), 0u);
    char full[16];
    memset(full, 'z', sizeof full);
    EXPECT_EQ(text_len(full, 16), 16u);
}

TEST(ReplyAccept, AckMustBeSecondToLastAndValueMustFit)
{
    EXPECT_TRUE(reply_accepted(u("9990011\x06\r"), 9, kCheckReplyMin));
    EXPECT_FALSE(reply_accepted(u("9990011\r\x06"), 9, kCheckReplyMin));
    EXPECT_FALSE(reply_accepted(u("\x06"), 1, kQueryReplyMin));
    EXPECT_TRUE(reply_accepted(u("\x06\r"), 2, kQueryReplyMin));
    EXPECT_FALSE(reply_accepted(u("\x06\r"), 2, kCheckReplyMin));
    EXPECT_TRUE(reply_accepted(u("1\x06\r"), 3, kCheckReplyMin));
    EXPECT_FALSE(reply_accepted(u("300\x06\r"), 5, kTimeoutReplyMin));
    EXPECT_TRUE(reply_accepted(u("3000\x06\r"), 6, kTimeoutReplyMin));
    EXPECT_FALSE(reply_accepted(u(""), 0, kQueryReplyMin));
}

TEST(CheckReply, OnlyOneBeforeAckMeansEnabled)
{
    EXPECT_TRUE(check_reply_enabled(u("9990011\x06\r"), 9));
    EXPECT_FALSE(check_reply_enabled(u("9990010\x06\r"), 9));
    EXPECT_FALSE(check_reply_enabled(u("999001Y\x06\r"), 9));
    EXPECT_FALSE(check_reply_enabled(u("1111112\x06\r"), 9));
}

TEST(TimeoutReply, FourBytesBeforeAckKeepLeadingZeros)
{
    char value[5];
    timeout_reply_value(u("8610010005\x06\r"), 12, value);
    EXPECT_STREQ(value, "0005");
    timeout_reply_value(u("3000\x06\r"), 6, value);
    EXPECT_STREQ(value, "3000");
}

TEST(QueryReply, SkipsTheEchoAndStopsAtAck)
{
    char value[16];
    EXPECT_EQ(query_reply_value(u("8610013000\x06\r"), 12, 6, value), 4u);
    EXPECT_STREQ(value, "3000");
    // Nothing after the echo, or a reply shorter than the echo: empty.
    EXPECT_EQ(query_reply_value(u("861001\x06\r"), 8, 6, value), 0u);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(query_reply_value(u("86\x06\r"), 4, 6, value), 0u);
    EXPECT_STREQ(value, "");
    // The longest value a 16-byte read can hold, after a one-digit echo.
    EXPECT_EQ(query_reply_value(u("0ABCDEFGHIJKLM\x06\r"), 16, 1, value), 13u);
    EXPECT_STREQ(value, "ABCDEFGHIJKLM");
}

} // namespace
