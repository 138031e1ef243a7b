#include "app/board/TimeZoneWatch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kestrane::app {
namespace {

TEST(TimeZoneWatchTest, HandsOutANewCalendarOncePerChange) {
    std::string zone = "Europe/Moscow";
    TimeZoneWatch watch(platform::Calendar("Europe/Moscow"), [&zone] { return zone; });
    EXPECT_EQ(watch.check(), std::nullopt);

    zone = "America/New_York";
    const auto changed = watch.check();
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->timeZoneIdentifier(), "America/New_York");
    EXPECT_EQ(watch.calendar().timeZoneIdentifier(), "America/New_York");
    EXPECT_EQ(watch.check(), std::nullopt);

    // A source that cannot tell keeps the zone we have.
    zone.clear();
    EXPECT_EQ(watch.check(), std::nullopt);
    EXPECT_EQ(watch.calendar().timeZoneIdentifier(), "America/New_York");
}

// The application's source reads the system's setting again at every check; the TZ variable
// stands in for a change of /etc/localtime.
TEST(TimeZoneWatchTest, SystemSourceSeesAChangeWhileTheProcessRuns) {
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> previous =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("TZ", "Asia/Kolkata", 1);
    TimeZoneWatch watch(platform::Calendar("UTC"), platform::Calendar::currentTimeZoneIdentifier);
    const auto first = watch.check();
    ::setenv("TZ", "America/New_York", 1);
    const auto second = watch.check();
    if (previous) {
        ::setenv("TZ", previous->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ASSERT_TRUE(first);
    EXPECT_EQ(first->timeZoneIdentifier(), "Asia/Kolkata");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->timeZoneIdentifier(), "America/New_York");
}

}  // namespace
}  // namespace kestrane::app
