// Reply parsing: accept test, values and the bounds of short replies.
#include "line.h"
#include "reply.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

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

// The stream of one exchange: what the reply found at its end is, and
// what it answers, whatever came ahead of it in the same exchange.
struct StreamCase {
    const char *name;
    std::vector<std::string> reads;
    size_t min_len;
    bool found;
    std::string reply; // the reply found, when found
};

TEST(ReplyStream, ReplyIsFoundAtTheEndOfEverythingRead)
{
    const std::string full16 = "8610010000" "3000\x06\r";
    const StreamCase cases[] = {
        {"whole in one read", {"9990011\x06\r"}, kCheckReplyMin, true, "9990011\x06\r"},
        {"byte by byte", {"9", "990", "01", "1", "\x06", "\r"}, kCheckReplyMin, true,
         "9990011\x06\r"},
        {"straddling two reads", {"9000031", "\x06\r"}, kCheckReplyMin, true, "9000031\x06\r"},
        {"ACK not yet followed by the final byte", {"3000\x06"}, kTimeoutReplyMin, false, ""},
        {"noise ahead", {"861001BBBBBBBBB", "8610013000\x06\r"}, kTimeoutReplyMin, true,
         "BBBB8610013000\x06\r"},
        {"refused short reply ahead", {"\x06\r", "123\x06\r"}, kTimeoutReplyMin, false, ""},
        {"reply after a refused one", {"\x06\r", "123\x06\r", "8610010005\x06\r"},
         kTimeoutReplyMin, true, "8610010005\x06\r"},
        {"garbage with an ACK ahead", {"\x15\xAA\x55\x06\x01\x7F", "9990011\x06\r"},
         kCheckReplyMin, true, "\x7F" "9990011\x06\r"},
        {"ACK only, for a query", {"\x06\r"}, kQueryReplyMin, true, "\x06\r"},
        {"sixteen bytes kept of forty", {std::string(24, '0'), full16}, kTimeoutReplyMin, true,
         full16},
        {"ACK third to last", {"3000\x06\r\r"}, kTimeoutReplyMin, false, ""},
        {"two refused replies ahead of a short one", {"12\x06\r", "34\x06\r", "\x06\r"},
         kCheckReplyMin, false, ""},
    };
    for (const StreamCase &c : cases) {
        SCOPED_TRACE(c.name);
        ReplyStream s;
        reply_stream_clear(&s);
        for (const std::string &r : c.reads)
            reply_stream_append(&s, u(r.c_str()), r.size());
        EXPECT_LE(s.len, kReplyBufLen);
        Reply reply{};
        ASSERT_EQ(reply_find(&s, c.min_len, &reply), c.found);
        if (c.found) {
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(reply.text), reply.n), c.reply);
        }
    }
}

// Bytes that could not all have crossed the line since the flush belong to
// a message that began before it; bytes that could have, to one of their
// own. A byte takes 86.8 us; the margin is 900 us.
TEST(Line, TailOfAMessageAlreadyOnTheLineAtTheFlush)
{
    struct {
        const char *name;
        int64_t since_flush_us;
        size_t bytes;
        bool tail;
    } const cases[] = {
        {"the byte in flight, 50 us after the flush", 50, 1, true},
        {"a 16-byte burst 1.3 ms after the flush", 1300, 16, true},
        {"a pty read of 4095 bytes 300 ms after", 300000, 4095, true},
        {"a byte of a scan begun 1 ms after", 1087, 1, false},
        {"a tail of 9 bytes seen 1.5 ms after", 1500, 9, true},
        {"24 bytes gathered 2 ms after that byte", 3087, 24, false},
        {"a full buffer 0.8 s after", 800000, 8192, false},
        {"nothing at all", 10000, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(began_before_flush(c.since_flush_us, c.bytes), c.tail);
    }
    EXPECT_EQ(line_time_us(200), 17360u);
    // A gather is cut by the time the bytes already waiting took.
    EXPECT_EQ(gather_left_us(2000, 1), 2000u);
    EXPECT_EQ(gather_left_us(2000, -1), 2000u) << "the port does not tell";
    EXPECT_EQ(gather_left_us(2000, 11), 1132u);
    EXPECT_EQ(gather_left_us(reply_gather_us(9, 0), 9), 0u) << "a whole reply waiting is read at once";
    EXPECT_EQ(line_time_us(1000000), line_time_us(49481)) << "kept within 32 bits";
}

TEST(QueryReply, ValueStandsBetweenTheEchoAndTheAck)
{
    struct {
        const char *reply;
        const char *echo;
        const char *value;
    } const cases[] = {
        {"8610013000\x06\r", "861001", "3000"},
        {"BBBB8610013000\x06\r", "861001", "3000"}, // noise ahead of the echo
        {"03000\x06\r", "0", "3000"},               // the value holds the echo's digit
        {"1100\x06\r", "1", "100"},
        {"861001\x06\r", "861001", ""},             // nothing after the echo
        {"86\x06\r", "861001", ""},                 // shorter than the echo
        {"ABCDEFGH\x06\r", "861001", "GH"},         // no echo: its length is skipped
        {"0ABCDEFGHIJKLM\x06\r", "0", "ABCDEFGHIJKLM"}, // the longest value
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        char value[16];
        size_t n = strlen(c.reply);
        EXPECT_EQ(query_reply_value(u(c.reply), n, c.echo, strlen(c.echo), value), strlen(c.value));
        EXPECT_STREQ(value, c.value);
    }
}

// A reply inside one read: found at its last byte, whatever follows it;
// a zero byte cuts off what went before.
TEST(ReplyStream, ReplyIsFoundWhereItEndsInsideARead)
{
    struct {
        std::string bytes;
        size_t min_len;
        size_t used; // 0: no reply
        std::string reply;
    } const cases[] = {
        {"9000031\x06\rabcdef", 3, 9, "9000031\x06\r"},
        {"scan9000031\x06\r", 3, 13, "scan9000031\x06\r"},
        {"1\x06", 3, 0, ""},
        {std::string("ab\0" "1\x06\rxyz", 9), 3, 6, "1\x06\r"},
        {std::string("a1\x06\0\r", 5), 3, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        ReplyStream stream;
        reply_stream_clear(&stream);
        Reply reply;
        size_t used = 0;
        bool found = reply_find_in(&stream, u(c.bytes.data()), c.bytes.size(), c.min_len, &reply,
                                   &used);
        EXPECT_EQ(found, c.used > 0);
        EXPECT_EQ(used, c.used);
        if (found) {
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(reply.text), reply.n), c.reply);
        }
    }
}

} // namespace
