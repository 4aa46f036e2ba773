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
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(install_engine()); }
    void TearDown() override {
        sim_destroy(sim);
        sim = nullptr;
        devns_teardown();
    }

    // The device as a fresh pty with a fresh engine on its master, in
    // place of the one before (gone or hung up).
    void install_engine() {
        sim_destroy(sim);
        sim = nullptr;
        master = devns_install_pty();
        ASSERT_GE(master, 0);
        sim = sim_create(master);
        ASSERT_NE(sim, nullptr);
        ASSERT_TRUE(sim_start(sim));
    }

    int master = -1;  // owned by sim
    SimRunner* sim = nullptr;
};
