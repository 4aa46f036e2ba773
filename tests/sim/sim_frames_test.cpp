// Splitting the received byte stream into frames and naming their forms.
#include <gtest/gtest.h>

#include <string>

#include "sim_test_bytes.h"

#include "sim_frames.h"

namespace {

SimChunks feed_burst(SimParser* p, const std::vector<uint8_t>& b) {
    SimChunks out;
    sim_parser_feed(p, b.data(), b.size(), out);
    sim_parser_burst_end(p, out);
    return out;
}

SimFrameKind kind_of(const std::vector<uint8_t>& f, int* row = nullptr) {
    return sim_classify(f.data(), f.size(), row);
}

TEST(SimParser, SplitsBurstsIntoFrames) {
    SimParser p;
    // Two control frames and a command in one burst, as concurrent callers
    // could produce.
    std::vector<uint8_t> in = bytes("\xFFT\r\xFFU\r");
    std::vector<uint8_t> q = cmd("999001?");
    in.insert(in.end(), q.begin(), q.end());
    SimChunks out = feed_burst(&p, in);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], bytes("\xFFT\r"));
    EXPECT_EQ(out[1], bytes("\xFFU\r"));
    EXPECT_EQ(out[2], q);
    EXPECT_TRUE(p.pending.empty());
}

TEST(SimParser, CommandTextMayHoldDotsAndZeroBytes) {
    SimParser p;
    std::vector<uint8_t> dotted = cmd("a.b.c");
    EXPECT_EQ(feed_burst(&p, dotted), SimChunks{dotted});
    std::vector<uint8_t> timeout = cmd(std::string("8610015\0\0\0", 10));
    ASSERT_EQ(timeout.size(), 14u);
    EXPECT_EQ(feed_burst(&p, timeout), SimChunks{timeout});
}

TEST(SimParser, WaitsForTheDotAcrossBursts) {
    SimParser p;
    std::vector<uint8_t> f = cmd("889003,002995C80");
    std::vector<uint8_t> head(f.begin(), f.begin() + 9);
    std::vector<uint8_t> tail(f.begin() + 9, f.end());
    EXPECT_TRUE(feed_burst(&p, head).empty());
    EXPECT_EQ(feed_burst(&p, tail), SimChunks{f});
}

TEST(SimParser, CycleEndFlushesIncompleteFrameAndStrayBytes) {
    SimParser p;
    SimChunks out = feed_burst(&p, bytes("zz\xFFM\r123"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], bytes("zz"));
    EXPECT_EQ(kind_of(out[0]), SimFrameKind::Stray);
    out.clear();
    sim_parser_cycle_end(&p, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], bytes("\xFFM\r123"));
    EXPECT_EQ(kind_of(out[0]), SimFrameKind::Unknown);
}

TEST(SimClassify, NamesEveryFrameForm) {
    struct Case {
        std::vector<uint8_t> frame;
        SimFrameKind kind;
        int row;
    };
    const Case cases[] = {
        {bytes("\xFFT\r"), SimFrameKind::Open, -1},
        {bytes("\xFFU\r"), SimFrameKind::Close, -1},
        {bytes("\xFFQ\r"), SimFrameKind::Unknown, -1},
        {cmd("900003?"), SimFrameKind::Check, 3},
        {cmd("9990011"), SimFrameKind::Enable, 0},
        {cmd("9140100"), SimFrameKind::Disable, 34},
        {cmd("9140102"), SimFrameKind::SettingWrite, -1},
        {cmd(std::string("861001-12\0", 10)), SimFrameKind::Timeout, -1},
        {cmd("861001?"), SimFrameKind::TimeoutQuery, -1},
        {cmd("889003,002995C80"), SimFrameKind::Profile, -1},
        {cmd("100002115200"), SimFrameKind::SettingWrite, -1},
        {cmd("-5?"), SimFrameKind::Query, -1},
        {cmd("0?"), SimFrameKind::Query, -1},
        {cmd("ab?"), SimFrameKind::Command, -1},
        {cmd(""), SimFrameKind::Command, -1},
        {bytes("\xFFM\r999001?"), SimFrameKind::Unknown, -1},
    };
    for (const Case& c : cases) {
        int row = 99;
        EXPECT_EQ(kind_of(c.frame, &row), c.kind)
            << sim_format_bytes(c.frame.data(), c.frame.size());
        EXPECT_EQ(row, c.row);
    }
}

TEST(SimFormat, ShowsHexAndText) {
    std::vector<uint8_t> f = cmd("0?");
    EXPECT_EQ(sim_format_bytes(f.data(), f.size()), "FF 4D 0D 30 3F 2E  |.M.0?.|");
}

}  // namespace
