// A program run as a child with a time budget.
#ifndef _WIN32
#include "host/child.h"

#include <gtest/gtest.h>

namespace {

TEST(RunProgramWithin, AnswersEndsPastTheBudgetAndNamesFailures)
{
    std::string out, error;
    // More input than a pipe holds, echoed back while it is still written.
    std::string input = std::string(300000, 'x') + "end";
    EXPECT_EQ(runProgramWithin("/bin/cat", {}, input, 60000, out, error), ChildEnd::Answered);
    EXPECT_EQ(out, input);
    // A child that reads none of its input does not end the caller.
    EXPECT_EQ(runProgramWithin("/bin/sh", {"-c", "echo done"}, input, 60000, out, error), ChildEnd::Answered);
    EXPECT_EQ(out, "done\n");
    // Work that never ends: the budget passes, the child is killed and reaped.
    EXPECT_EQ(runProgramWithin("/bin/sleep", {"600"}, "", 50, out, error), ChildEnd::PastBudget);

    EXPECT_EQ(runProgramWithin("/bin/sh", {"-c", "exit 3"}, "", 60000, out, error), ChildEnd::Failed);
    EXPECT_NE(error.find("ended with code 3"), std::string::npos) << error;
    EXPECT_EQ(runProgramWithin("/nonexistent/program", {}, "", 60000, out, error), ChildEnd::Failed);
    EXPECT_NE(error.find("cannot run /nonexistent/program"), std::string::npos) << error;

    EXPECT_NE(ownProgramPath().find("test_host"), std::string::npos) << ownProgramPath();
}

}  // namespace
#endif
