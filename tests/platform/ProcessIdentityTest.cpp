#include "platform/ProcessIdentity.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrane::platform {
namespace {

TEST(ProcessIdentityTest, OwnerIsTheUserAProcessRunsAsAndNothingWithoutOne) {
    EXPECT_EQ(processOwner(::getpid()), ::geteuid());
    EXPECT_TRUE(processStartToken(::getpid()).has_value());
    // Beyond any system's largest pid, and numbers that name process groups.
    for (const pid_t pid : {99999999, 0, -1}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(processOwner(pid), std::nullopt);
        EXPECT_EQ(processStartToken(pid), std::nullopt);
    }
}

}  // namespace
}  // namespace kestrane::platform
