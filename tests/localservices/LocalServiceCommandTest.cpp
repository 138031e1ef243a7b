#include "localservices/LocalServiceCommand.h"

#include <gtest/gtest.h>

#include "localservices/LocalServiceMonitorError.h"

namespace kestrane::localservices {
namespace {

TEST(LocalServiceCommandTest, ReturnsOutputAndExitStatus) {
    EXPECT_EQ(LocalServiceCommand::run("/bin/sh", {"-c", "printf 'p1\\nn*:80\\n'; exit 1"}),
              (LocalServiceCommandResult{"p1\nn*:80\n", 1}));
    // A tool killed by a signal must never look like "nothing found" (status 1).
    EXPECT_EQ(LocalServiceCommand::run("/bin/sh", {"-c", "kill -HUP $$"}).status, 128 + 1);
    EXPECT_THROW(LocalServiceCommand::run("/nonexistent/lsof", {}), LocalServiceMonitorError);
}

TEST(LocalServiceCommandTest, OverlongOutputEndsAtTheLastCompleteLine) {
    const auto result =
        LocalServiceCommand::run("/bin/sh", {"-c", "printf 'p1\\np22\\np333\\n'"}, 9);
    EXPECT_EQ(result.output, "p1\np22\n");  // never the half line "p3"
}

TEST(LocalServiceCommandTest, BrokenUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(LocalServiceCommand::run("/bin/sh", {"-c", "printf 'a\\377b'"}).output,
              "a\xEF\xBF\xBD"
              "b");
}

}  // namespace
}  // namespace kestrane::localservices
