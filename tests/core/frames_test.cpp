// Frame building: the exact bytes of every frame form.
#include "frames.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

// The engine's type codes, row by row.
const char *const kCodes[35] = {
    "999001", "931001", "936001", "900003", "922001", "923001", "908002",
    "901001", "904002", "909001", "929001", "916001", "915001", "910001",
    "926001", "920001", "919001", "918001", "932001", "902002", "937001",
    "907001", "930001", "917001", "925001", "903001", "924001", "928001",
    "905001", "906001", "911001", "927001", "921001", "912003", "914010",
};

std::string bytes(const unsigned char *p, size_t n)
{
    return std::string(reinterpret_cast<const char *>(p), n);
}

const std::string kHeader("\xFF\x4D\x0D", 3);

TEST(TypeFrames, EveryRowOfAllThreeTables)
{
    const struct {
        TypeFrameKind kind;
        char value;
    } kinds[] = {{TYPE_ENABLE, '1'}, {TYPE_DISABLE, '0'}, {TYPE_CHECK, '?'}};
    for (const auto &k : kinds) {
        for (int t = 0; t < 35; t++) {
            unsigned char f[kTypeFrameLen + 1];
            f[kTypeFrameLen] = 0xAA;
            ASSERT_EQ(type_frame(k.kind, t, f), 11u) << "row " << t;
            EXPECT_EQ(bytes(f, 11), kHeader + kCodes[t] + k.value + ".") << "row " << t;
            EXPECT_EQ(f[kTypeFrameLen], 0xAA) << "row " << t;
        }
    }
}

TEST(TypeFrames, IndexRange)
{
    EXPECT_TRUE(type_index_valid(0));
    EXPECT_TRUE(type_index_valid(34));
    EXPECT_FALSE(type_index_valid(35));
    EXPECT_FALSE(type_index_valid(-1));
    EXPECT_FALSE(type_index_valid(0x7FFFFFFF));
    EXPECT_FALSE(type_index_valid(-0x7FFFFFFF - 1));
}

TEST(FixedFrames, ControlProfileAndTimeoutQuery)
{
    EXPECT_EQ(bytes(kOpenFrame, 3), std::string("\xFF\x54\x0D", 3));
    EXPECT_EQ(bytes(kCloseFrame, 3), std::string("\xFF\x55\x0D", 3));
    EXPECT_EQ(bytes(kTimeoutQueryFrame, 11), kHeader + "861001?.");
    EXPECT_EQ(bytes(kProfileFrame, 20), kHeader + "889003,002995C80.");
}

TEST(TimeoutFrame, ValueBytesIncludingZeroPadding)
{
    const struct {
        int value;
        const char *field; // positions 9..12
    } cases[] = {
        {1200, "1200"}, {5, "5\0\0\0"}, {0, "0\0\0\0"}, {-12, "-12\0"},
        {9999, "9999"}, {-999, "-999"}, {3000, "3000"},
    };
    for (const auto &c : cases) {
        char text[5];
        unsigned char frame[kTimeoutFrameLen];
        ASSERT_TRUE(timeout_in_range(c.value));
        timeout_text(c.value, text);
        EXPECT_EQ(text[4], '\0');
        timeout_frame(text, frame);
        EXPECT_EQ(bytes(frame, 14), kHeader + "861001" + std::string(c.field, 4) + ".")
            << c.value;
    }
}

TEST(TimeoutFrame, RangeLimits)
{
    EXPECT_FALSE(timeout_in_range(10000));
    EXPECT_FALSE(timeout_in_range(-1000));
    EXPECT_FALSE(timeout_in_range(-0x7FFFFFFF - 1));
    EXPECT_TRUE(timeout_in_range(-999));
    EXPECT_TRUE(timeout_in_range(9999));
}

TEST(CommandFrame, EmptyShortAndLongestTexts)
{
    unsigned char frame[kCommandFrameMax + 8];
    memset(frame, 0xAA, sizeof frame);
    EXPECT_EQ(command_frame("", 0, frame), 4u);
    EXPECT_EQ(bytes(frame, 4), kHeader + ".");

    EXPECT_EQ(command_frame("861001500", 9, frame), 13u);
    EXPECT_EQ(bytes(frame, 13), kHeader + "861001500.");

    // The longest text fills the frame exactly and nothing past it.
    std::string longest(kMaxCommandText, 'x');
    memset(frame, 0xAA, sizeof frame);
    EXPECT_EQ(command_frame(longest.c_str(), longest.size(), frame), 259u);
    EXPECT_EQ(bytes(frame, 259), kHeader + longest + ".");
    EXPECT_EQ(frame[259], 0xAA);
}

TEST(QueryFrame, NumbersOfEveryLength)
{
    const struct {
        int number;
        const char *text;
    } cases[] = {
        {861001, "861001"}, {-5, "-5"}, {0, "0"},
        {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"},
    };
    for (const auto &c : cases) {
        char text[16];
        unsigned char frame[kQueryFrameMax];
        size_t len = query_text(c.number, text);
        ASSERT_EQ(len, strlen(c.text));
        EXPECT_STREQ(text, c.text);
        size_t n = query_frame(text, len, frame);
        EXPECT_EQ(n, len + 5);
        EXPECT_EQ(bytes(frame, n), kHeader + c.text + "?.");
    }
    // The query for 861001 is the timeout query frame.
    char text[16];
    unsigned char frame[kQueryFrameMax];
    size_t n = query_frame(text, query_text(861001, text), frame);
    EXPECT_EQ(bytes(frame, n), bytes(kTimeoutQueryFrame, 11));
}

} // namespace
