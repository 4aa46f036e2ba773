// The byte text to modified UTF-8 conversion handed to NewStringUTF.
#include "mutf8.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

std::string convert(const std::string &in)
{
    size_t need = mutf8_convert(in.c_str(), nullptr, 0);
    std::string out(need + 1, '\x55');
    size_t again = mutf8_convert(in.c_str(), &out[0], out.size());
    EXPECT_EQ(need, again);
    EXPECT_EQ('\0', out[need]) << "result not terminated";
    out.resize(need);
    return out;
}

TEST(Mutf8, ValidModifiedUtf8PassesByteForByte)
{
    const char *valid[] = {
        "",
        "8610013000",
        "\x01\x7F",
        "\xC0\x80",                 // U+0000 in its two-byte form
        "\xC2\x80\xDF\xBF",         // U+0080, U+07FF
        "\xE0\xA0\x80\xEF\xBF\xBF", // U+0800, U+FFFF
        "\xE2\x82\xAC",             // U+20AC
        "\xED\x9F\xBF",             // U+D7FF
        "\xED\xA0\xBD\xED\xB8\x80", // an encoded surrogate pair
        "\xED\xB0\x80",             // a lone low surrogate
        "a\xC3\xA9z\xEF\xBC\xA1",
    };
    for (const char *text : valid) {
        EXPECT_EQ(std::string(text), convert(text)) << "input " << testing::PrintToString(text);
        EXPECT_EQ(strlen(text), mutf8_convert(text, nullptr, 0));
    }
}

TEST(Mutf8, FourByteSequencesBecomeSurrogatePairs)
{
    EXPECT_EQ("\xED\xA0\x80\xED\xB0\x80", convert("\xF0\x90\x80\x80"));   // U+10000
    EXPECT_EQ("\xED\xA0\xBD\xED\xB8\x80", convert("\xF0\x9F\x98\x80"));   // U+1F600
    EXPECT_EQ("\xED\xAF\xBF\xED\xBF\xBF", convert("\xF4\x8F\xBF\xBF"));   // U+10FFFF
    EXPECT_EQ("x\xED\xA3\x80\xED\xB0\x80y", convert("x\xF1\x80\x80\x80y")); // U+40000
}

TEST(Mutf8, InvalidBytesBecomeTheCharacterOfTheSameValue)
{
    // Bytes that start nothing valid: each becomes U+0080..U+00FF.
    EXPECT_EQ("\xC2\x80", convert("\x80"));
    EXPECT_EQ("\xC2\xBF", convert("\xBF"));
    EXPECT_EQ("\xC3\xBF", convert("\xFF"));
    EXPECT_EQ("\xC3\xBE", convert("\xFE"));
    EXPECT_EQ("A\xC3\xBF\xC3\xBF" "B", convert("A\xFF\xFF" "B"));
    // Stray continuation bytes after a complete character.
    EXPECT_EQ("\xC3\xA9\xC2\xA9", convert("\xC3\xA9\xA9"));
    // Overlong forms other than C0 80.
    EXPECT_EQ("\xC3\x80\xC2\x81", convert("\xC0\x81"));
    EXPECT_EQ("\xC3\x81\xC2\xBF", convert("\xC1\xBF"));
    EXPECT_EQ("\xC3\xA0\xC2\x80\xC2\x80", convert("\xE0\x80\x80"));
    EXPECT_EQ("\xC3\xA0\xC2\x9F\xC2\xBF", convert("\xE0\x9F\xBF"));
    EXPECT_EQ("\xC3\xB0\xC2\x8F\xC2\xBF\xC2\xBF", convert("\xF0\x8F\xBF\xBF"));
    // Code points above U+10FFFF, 5- and 6-byte forms.
    EXPECT_EQ("\xC3\xB4\xC2\x90\xC2\x80\xC2\x80", convert("\xF4\x90\x80\x80"));
    EXPECT_EQ("\xC3\xB5\xC2\x80\xC2\x80\xC2\x80", convert("\xF5\x80\x80\x80"));
    EXPECT_EQ("\xC3\xB8\xC2\x88\xC2\x80\xC2\x80\xC2\x80", convert("\xF8\x88\x80\x80\x80"));
    EXPECT_EQ("\xC3\xBC\xC2\x84\xC2\x80\xC2\x80\xC2\x80\xC2\x80",
              convert("\xFC\x84\x80\x80\x80\x80"));
}

TEST(Mutf8, TruncatedSequencesConvertByteByByteAndResync)
{
    // Cut by the end of the text.
    EXPECT_EQ("\xC3\x82", convert("\xC2"));
    EXPECT_EQ("\xC3\xA2\xC2\x82", convert("\xE2\x82"));
    EXPECT_EQ("\xC3\xB0\xC2\x9F\xC2\x98", convert("\xF0\x9F\x98"));
    // Cut by an ASCII byte or by the lead byte of a valid sequence, which
    // then passes unchanged.
    EXPECT_EQ("\xC3\xA2" "A", convert("\xE2" "A"));
    EXPECT_EQ("\xC3\xA2\xC2\x82\xE2\x82\xAC", convert("\xE2\x82\xE2\x82\xAC"));
    EXPECT_EQ("\xC3\xB0\xC2\x9F\xC3\xA9", convert("\xF0\x9F\xC3\xA9"));
}

TEST(Mutf8, EveryByteValueAloneGivesValidOutput)
{
    for (int b = 1; b < 256; b++) {
        std::string in(1, static_cast<char>(b));
        std::string out = convert(in);
        if (b < 0x80) {
            EXPECT_EQ(in, out);
        } else {
            ASSERT_EQ(2u, out.size()) << "byte " << b;
            EXPECT_EQ(0xC0 | (b >> 6), static_cast<unsigned char>(out[0]));
            EXPECT_EQ(0x80 | (b & 0x3F), static_cast<unsigned char>(out[1]));
        }
    }
}

TEST(Mutf8, WorstCaseIsTwiceTheInput)
{
    std::string in(8192, '\xFF');
    std::string out = convert(in);
    ASSERT_EQ(16384u, out.size());
    for (size_t i = 0; i < out.size(); i += 2)
        ASSERT_EQ("\xC3\xBF", out.substr(i, 2)) << "at " << i;
}

TEST(Mutf8, ShortOutputKeepsWholeCharactersOnly)
{
    char out[8];
    memset(out, 'x', sizeof out);
    // "ab" + 6 bytes of surrogate pair: 8 bytes needed, 7 fit before the zero.
    EXPECT_EQ(8u, mutf8_convert("ab\xF0\x9F\x98\x80", out, sizeof out));
    EXPECT_STREQ("ab", out);

    memset(out, 'x', sizeof out);
    EXPECT_EQ(6u, mutf8_convert("\xFF\xFF\xFF", out, 6));
    EXPECT_STREQ("\xC3\xBF\xC3\xBF", out);
    EXPECT_EQ('x', out[5]);

    out[0] = 'x';
    EXPECT_EQ(3u, mutf8_convert("abc", out, 1));
    EXPECT_EQ('\0', out[0]);
}

} // namespace
