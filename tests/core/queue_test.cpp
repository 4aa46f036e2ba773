// The session's queue of scans and the form of the engine's answers: pure
// logic, no I/O.
#include "reply.h"
#include "scan_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string pop(ScanQueue *q, size_t cap = kQueueBytes)
{
    std::vector<unsigned char> buf(cap + 1, '#');
    int64_t first_us = 0;
    size_t n = queue_pop(q, buf.data(), cap, &first_us);
    EXPECT_EQ(buf[cap], '#') << "copied past cap";
    return std::string(buf.begin(), buf.begin() + static_cast<long>(n)) + "@" +
           std::to_string(first_us);
}

void push(ScanQueue *q, const std::string &s, int64_t at, size_t *dropped_bytes = nullptr)
{
    size_t ignored = 0;
    queue_push(q, reinterpret_cast<const unsigned char *>(s.data()), s.size(), at,
               dropped_bytes != nullptr ? dropped_bytes : &ignored);
}

// Many rounds through the ring of entries and of bytes: every scan comes
// out once, whole and in order, also across the ring's end.
TEST(ScanQueue, WrapsAroundInOrder)
{
    static ScanQueue q;
    queue_clear(&q);
    for (int i = 0; i < 1000; i++) {
        std::string s(static_cast<size_t>(100 + i % 900), static_cast<char>('a' + i % 26));
        push(&q, s, i);
        push(&q, s + "!", i + 1);
        EXPECT_EQ(pop(&q), s + "@" + std::to_string(i));
        EXPECT_EQ(pop(&q), s + "!@" + std::to_string(i + 1));
        EXPECT_EQ(q.count, 0u);
    }
}

// Past the bound the oldest scans go, never a part of one; a scan is cut
// to the caller's cap and its rest dropped.
TEST(ScanQueue, DropsTheOldestAndCutsToCap)
{
    static ScanQueue q;
    queue_clear(&q);
    for (size_t i = 0; i < kQueueScans + 3; i++)
        push(&q, "scan" + std::to_string(i), static_cast<int64_t>(i));
    EXPECT_EQ(q.count, kQueueScans);
    EXPECT_EQ(pop(&q), "scan3@3") << "the three oldest dropped";

    queue_clear(&q);
    size_t dropped = 0;
    push(&q, std::string(20000, 'x'), 1, &dropped);
    push(&q, std::string(20000, 'y'), 2, &dropped);
    EXPECT_EQ(dropped, 20000u);
    EXPECT_EQ(q.count, 1u);
    EXPECT_EQ(pop(&q, 5), "yyyyy@2");
    EXPECT_EQ(q.count, 0u);
    EXPECT_EQ(q.used, 0u) << "the rest of a cut scan stays nowhere";
}

// What a push drops: nothing while the scans fit the ring exactly, then
// as many of the oldest as make room, each counted and all their bytes.
TEST(ScanQueue, CountsEveryDroppedScanAndItsBytes)
{
    static ScanQueue q;
    const size_t half = kQueueBytes / 2;
    struct Case {
        std::vector<size_t> held; // scans in the queue before
        size_t pushed;
        size_t dropped;
        size_t dropped_bytes;
    } const cases[] = {
        {{half}, half, 0, 0},                      // fills the ring exactly
        {{half, half}, 1, 1, half},
        {{100, 200, 300}, kQueueBytes - 300, 2, 300},
        {{10000, 10000, 10000}, 30000, 3, 30000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pushed);
        queue_clear(&q);
        for (size_t len : c.held)
            push(&q, std::string(len, 'h'), 0);
        size_t dropped_bytes = 0;
        EXPECT_EQ(queue_push(&q, reinterpret_cast<const unsigned char *>(std::string(c.pushed, 'p').data()),
                             c.pushed, 1, &dropped_bytes),
                  c.dropped);
        EXPECT_EQ(dropped_bytes, c.dropped_bytes);
        EXPECT_EQ(q.count, c.held.size() + 1 - c.dropped);
    }
}

// The engine's answer as the held port tells it from scan data.
TEST(AnswerForm, EchoValueAckOrNakAndFinalByte)
{
    const std::string echo = "900003";
    struct Case {
        std::string bytes;
        size_t min_len;
        AnswerForm form;
        size_t len;
    } const cases[] = {
        {"9000031\x06\r", 3, AnswerForm::Whole, 9},
        {"9000031\x06\rABC", 3, AnswerForm::Whole, 9},  // scan data behind it
        {"900003\x15\r", 3, AnswerForm::Whole, 8},      // a refusal holds no value
        {"900003\x06\r", 3, AnswerForm::None, 0},       // accepted but too short
        {"9000031\x06", 3, AnswerForm::Partial, 0},     // the final byte to come
        {"90000", 3, AnswerForm::Partial, 0},           // the echo still arriving
        {"9000031", 3, AnswerForm::Partial, 0},
        {"900004", 3, AnswerForm::None, 0},             // another echo
        {"ABC9000031\x06\r", 3, AnswerForm::None, 0},   // does not begin with it
        {"9000031234567\x06\r", 3, AnswerForm::Whole, 15},
        {"90000312345678\x06\r", 3, AnswerForm::None, 0}, // longer than any reply
        {std::string("9000031\x06\0", 9), 3, AnswerForm::None, 0},
        {std::string("900003\0" "1\x06\r", 10), 3, AnswerForm::None, 0}, // a zero byte inside
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        size_t len = 0;
        EXPECT_EQ(answer_at(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size(),
                            echo.data(), echo.size(), c.min_len, &len),
                  c.form);
        if (c.form == AnswerForm::Whole) {
            EXPECT_EQ(len, c.len);
        }
    }
}

} // namespace
