// GoogleTest fixture: a fresh pty at /dev/ttyMT1 with the simulated scan
// engine running on its master, for the length of one test.
//
// Usage (link devns_engine_fixture and devns_gtest_main):
//   class MyTest : public EngineFixture {};
//   TEST_F(MyTest, Check) { sim_push_fault(sim, ...); ... sim_frames(sim) ... }
#pragma once

#include <gtest/gtest.h>

#include "devns.h"
#include "sim_runner.h"

class EngineFixture : public testing::Test {
  protected:
    void SetUp() override {
        int master = devns_install_pty();
        ASSERT_GE(master, 0);
        sim = sim_create(master);
        ASSERT_NE(sim, nullptr);
        ASSERT_TRUE(sim_start(sim));
    }
    void TearDown() override {
        sim_destroy(sim);
        sim = nullptr;
        devns_teardown();
    }
    SimRunner* sim = nullptr;
};
