// The times that live outside the library's own code follow its timing
// header: the Java fake engine's answer budget.
#include "line_timing.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

TEST(Timing, FakeEngineAnswersWithinTheLibrarysBudget)
{
    std::ifstream in(FAKE_ENGINE_SOURCE);
    ASSERT_TRUE(in.good()) << FAKE_ENGINE_SOURCE;
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    const std::string source = text.str();
    ASSERT_TRUE(std::regex_search(source, m, std::regex("ANSWER_BUDGET_MS = ([0-9]+);")));
    EXPECT_EQ(std::stoul(m[1]), kAnswerBudgetMs);
}

} // namespace
