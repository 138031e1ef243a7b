#include "model/DateFormatting.h"

#include <gtest/gtest.h>

namespace kestrane::model {
namespace {

using platform::Date;

TEST(DateFormattingTest, RelativeResetTable) {
    const Date now{1'765'000'000};
    struct Case {
        double secondsAhead;
        const char* text;
    };
    const Case cases[] = {
        {-500, "через 1 мин."},
        {0, "через 1 мин."},
        {59, "через 1 мин."},
        {59.9, "через 1 мин."},
        {120, "через 2 мин."},
        {3599, "через 59 мин."},
        {3600, "через 1 ч. 0 мин."},
        {7260, "через 2 ч. 1 мин."},
        {86399, "через 23 ч. 59 мин."},
        {86400, "через 1 дн. 0 ч."},
        {3 * 86400 + 4 * 3600 + 59, "через 3 дн. 4 ч."},
        {40 * 86400, "через 40 дн. 0 ч."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondsAhead);
        EXPECT_EQ(DateFormatting::relativeReset(now + c.secondsAhead, now), c.text);
    }
}

TEST(DateFormattingTest, AbsoluteTextsUseRussianMonthsInTheCalendarsZone) {
    // 2026-12-10T11:05:00Z
    const Date date{1'796'900'700};
    EXPECT_EQ(DateFormatting::reset(date, platform::Calendar("Europe/Moscow")), "10 дек., 14:05");
    EXPECT_EQ(DateFormatting::updated(date, platform::Calendar("Asia/Kolkata")), "16:35");
    EXPECT_EQ(DateFormatting::reset(date, platform::Calendar("America/New_York")),
              "10 дек., 06:05");
}

}  // namespace
}  // namespace kestrane::model
