// The times that live outside the library's own code follow its timing
// header: the Java fake engine's answer budget.
#include "line_timing.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(Timing, FakeEngineAnswersWithinTheLibrarysBudget)
{
    std::ifstream in(FAKE_ENGINE_SOURCE);
    ASSERT_TRUE(in.good()) << FAKE_ENGINE_SOURCE;
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    const std::string name = "ANSWER_BUDGET_MS = ";
    size_t at = source.find(name);
    ASSERT_NE(at, std::string::npos) << "no " << name << "in the fake";
    char *end = nullptr;
    unsigned long budget = strtoul(source.c_str() + at + name.size(), &end, 10);
    ASSERT_EQ(*end, ';') << "the fake's budget is not a plain number";
    EXPECT_EQ(budget, kAnswerBudgetMs);
}

} // namespace
