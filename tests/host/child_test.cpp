// Work in a child process with a time budget.
#ifndef _WIN32
#include "host/child.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(RunInChild, AnswersWithinTheBudgetAndEndsWorkPastIt)
{
    std::string out;
    int released = 0;
    EXPECT_TRUE(runInChild([] { return std::string(100000, 'x') + "end"; }, 60000, out, [&] { ++released; }));
    EXPECT_EQ(out.size(), 100003u);
    EXPECT_EQ(out.substr(out.size() - 3), "end");
    // Work that never ends: the budget passes, the child is killed and reaped.
    EXPECT_FALSE(runInChild(
        [] {
            for (;;)
                ::pause();
            return std::string();
        },
        50, out, [&] { ++released; }));
    EXPECT_EQ(released, 2);
}

}  // namespace
#endif
