// The engine's answers, state changes and scripted faults, without a port.
#include <gtest/gtest.h>

#include <string>

#include "sim_test_bytes.h"

#include "sim_cycle.h"
#include "sim_engine.h"

namespace {

SimReplyPlan send(SimEngine* e, const std::vector<uint8_t>& f) {
    return sim_engine_receive(e, f.data(), f.size());
}

SimFault overlong(int count) {
    SimFault f = sim_fault(SimFaultKind::Overlong);
    f.count = count;
    return f;
}

// The single reply of a plan without delay, or "" when there is none.
std::string reply_of(const SimReplyPlan& p) {
    if (p.writes.size() != 1) return "";
    return std::string(p.writes[0].begin(), p.writes[0].end());
}

class SimEngineTest : public testing::Test {
  protected:
    void SetUp() override { sim_engine_init(&e); }
    SimEngine e;
};

TEST_F(SimEngineTest, AnswersTheThreeQuestions) {
    e.enabled[3] = true;
    e.enabled[34] = false;
    EXPECT_EQ(reply_of(send(&e, cmd("900003?"))), "9000031\x06\r");
    EXPECT_EQ(reply_of(send(&e, cmd("914010?"))), "9140100\x06\r");
    EXPECT_EQ(reply_of(send(&e, cmd("861001?"))), "8610013000\x06\r");
    EXPECT_EQ(reply_of(send(&e, cmd("100002?"))), "100002115200\x06\r");
    EXPECT_EQ(reply_of(send(&e, cmd("-5?"))), "-5OFF\x06\r");
    // An unknown number gets a negative acknowledgement.
    EXPECT_EQ(reply_of(send(&e, cmd("77?"))), "77\x15\r");
    // Non-questions get nothing.
    EXPECT_TRUE(send(&e, bytes("\xFFT\r")).writes.empty());
    EXPECT_TRUE(send(&e, cmd("9990011")).writes.empty());
    EXPECT_EQ(e.questions, 6);
    EXPECT_EQ(e.frames.size(), 8u);
}

TEST_F(SimEngineTest, AllStartingRepliesAreWellFormed) {
    std::vector<std::vector<uint8_t>> questions = {cmd("861001?")};
    for (int i = 0; i < kSimTypeCount; ++i) {
        questions.push_back(cmd(std::string(kSimTypeCodes[i]) + "?"));
    }
    for (const SimSetting& s : e.settings) questions.push_back(cmd(s.number + "?"));
    for (const std::vector<uint8_t>& q : questions) {
        SimReplyPlan p = send(&e, q);
        ASSERT_EQ(p.writes.size(), 1u);
        const std::vector<uint8_t>& r = p.writes[0];
        ASSERT_GE(r.size(), 3u);
        EXPECT_LE(r.size(), 15u);
        EXPECT_EQ(r[r.size() - 2], kSimAck);
        EXPECT_NE(r.back(), 0);
        for (uint8_t b : r) EXPECT_NE(b, 0);
    }
}

TEST_F(SimEngineTest, WritesChangeState) {
    send(&e, bytes("\xFFT\r"));
    EXPECT_TRUE(e.open);
    send(&e, bytes("\xFFU\r"));
    EXPECT_FALSE(e.open);

    send(&e, cmd("9140101"));
    EXPECT_TRUE(e.enabled[34]);
    send(&e, cmd("9990010"));
    EXPECT_FALSE(e.enabled[0]);
    EXPECT_EQ(reply_of(send(&e, cmd("999001?"))), "9990010\x06\r");

    send(&e, cmd(std::string("8610015\0\0\0", 10)));
    EXPECT_EQ(e.timeout, 5);
    EXPECT_EQ(reply_of(send(&e, cmd("861001?"))), "8610010005\x06\r");
    send(&e, cmd(std::string("861001-999", 10)));
    EXPECT_EQ(reply_of(send(&e, cmd("861001?"))), "861001-999\x06\r");
    send(&e, cmd("8610017"));  // a free command text sets it too
    EXPECT_EQ(e.timeout, 7);
    send(&e, cmd(std::string("861001x\0\0\0", 10)));  // not a number: ignored
    EXPECT_EQ(e.timeout, 7);

    send(&e, cmd("1000029600"));
    EXPECT_EQ(reply_of(send(&e, cmd("100002?"))), "1000029600\x06\r");
    send(&e, cmd("123456AB"));
    ASSERT_NE(sim_engine_setting(&e, "123456"), nullptr);
    EXPECT_EQ(*sim_engine_setting(&e, "123456"), "AB");

    EXPECT_FALSE(e.profile_applied);
    send(&e, cmd("889003,002995C80"));
    EXPECT_TRUE(e.profile_applied);
}

TEST_F(SimEngineTest, FaultsShapeTheNextReply) {
    struct Case {
        SimFault fault;
        std::vector<std::string> writes;
    };
    const std::string ok = "9990011\x06\r";
    const Case cases[] = {
        {sim_fault(SimFaultKind::Silence), {}},
        {sim_fault(SimFaultKind::NoAck), {"9990011\r"}},
        {sim_fault(SimFaultKind::AckMisplaced), {"999001\x06" "1\r"}},
        {sim_fault(SimFaultKind::ExtraBytes), {ok + "XY"}},
        {sim_fault_bytes(SimFaultKind::ExtraBytes, bytes("\x06\x06")), {ok + "\x06\x06"}},
        {sim_fault(SimFaultKind::Twice, 5), {ok, ok}},
        {sim_fault(SimFaultKind::Overlong), {"9990010000000" "1\x06\r"}},
        {overlong(20), {"99900100000000000" "1\x06\r"}},
        {sim_fault(SimFaultKind::Garbage), {"\x15\xAA\x55\x06\x01\x7F"}},
        {sim_fault_bytes(SimFaultKind::RawReply, bytes(std::string("1\0\x06\r", 4))),
         {std::string("1\0\x06\r", 4)}},
        {sim_fault_bytes(SimFaultKind::CustomValue, bytes("XYZ")), {"999001XYZ\x06\r"}},
    };
    for (const Case& c : cases) {
        sim_engine_push_fault(&e, c.fault);
        SimReplyPlan p = send(&e, cmd("999001?"));
        std::vector<std::string> got;
        for (const std::vector<uint8_t>& w : p.writes) got.emplace_back(w.begin(), w.end());
        EXPECT_EQ(got, c.writes) << "fault " << static_cast<int>(c.fault.kind);
        EXPECT_EQ(reply_of(send(&e, cmd("999001?"))), ok) << "fault stayed";
    }
    sim_engine_push_fault(&e, sim_fault(SimFaultKind::Delay, 40));
    SimReplyPlan delayed = send(&e, cmd("999001?"));
    EXPECT_EQ(delayed.delay_ms, 40);
    EXPECT_EQ(reply_of(delayed), ok);
    sim_engine_push_fault(&e, sim_fault(SimFaultKind::Hangup));
    SimReplyPlan hang = send(&e, cmd("999001?"));
    EXPECT_TRUE(hang.hangup);
    EXPECT_GT(hang.hangup_ms, 0);
    EXPECT_TRUE(hang.writes.empty());
}

TEST_F(SimEngineTest, PersistentFaultHoldsUntilCleared) {
    sim_engine_set_persistent_fault(&e, sim_fault(SimFaultKind::Silence));
    sim_engine_push_fault(&e, sim_fault(SimFaultKind::NoAck));
    EXPECT_EQ(reply_of(send(&e, cmd("861001?"))), "8610013000\r");
    EXPECT_TRUE(send(&e, cmd("861001?")).writes.empty());
    EXPECT_TRUE(send(&e, cmd("0?")).writes.empty());
    sim_engine_set_persistent_fault(&e, SimFault());
    EXPECT_EQ(reply_of(send(&e, cmd("0?"))), "01\x06\r");
}

TEST(SimCycle, ConfiguredAtSecondFlushOrAfterSettling) {
    SimCycleTracker t;
    t.settle_ms = 15;
    EXPECT_FALSE(sim_cycle_flush(&t, 100));
    EXPECT_EQ(sim_cycle_deadline(&t), 115);
    EXPECT_TRUE(sim_cycle_flush(&t, 101));
    EXPECT_EQ(sim_cycle_deadline(&t), -1);

    // Both flushes seen as one notice: configured once it has settled.
    EXPECT_FALSE(sim_cycle_flush(&t, 200));
    EXPECT_FALSE(sim_cycle_tick(&t, 214));
    EXPECT_TRUE(sim_cycle_tick(&t, 215));
    EXPECT_EQ(sim_cycle_last_flush(&t), 200);
    EXPECT_FALSE(sim_cycle_tick(&t, 300));

    // A frame written by the library ends configuration at once.
    EXPECT_FALSE(sim_cycle_flush(&t, 400));
    EXPECT_TRUE(sim_cycle_data(&t, 401));
    EXPECT_FALSE(sim_cycle_data(&t, 402));
}

}  // namespace
