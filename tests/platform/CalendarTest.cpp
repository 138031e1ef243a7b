#include "platform/Calendar.h"

#include <gtest/gtest.h>

#include <utility>

namespace kestrane::platform {
namespace {

TEST(CalendarTest, HourIntervalsFollowTheWallClockAcrossZonesAndDaylightSaving) {
    struct Case {
        const char* zone;
        double instant;
        double start;
        double end;
    };
    const Case cases[] = {
        // Moscow, no daylight saving: 2026-12-10 14:05 local.
        {"Europe/Moscow", 1'796'900'700, 1'796'900'400, 1'796'904'000},
        // Kolkata is UTC+5:30: local hours start at half past the UTC hour.
        {"Asia/Kolkata", 1'796'900'700, 1'796'898'600, 1'796'902'200},
        // New York, 2026-11-01: 01:30 EDT (first pass) and 01:30 EST (second pass) are
        // different hours of one hour each.
        {"America/New_York", 1'793'511'000, 1'793'509'200, 1'793'512'800},
        {"America/New_York", 1'793'514'600, 1'793'512'800, 1'793'516'400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.instant));
        const auto interval = Calendar(c.zone).hourInterval(Date{c.instant});
        ASSERT_TRUE(interval);
        EXPECT_EQ(interval->start.secondsSince1970, c.start);
        EXPECT_EQ(interval->end.secondsSince1970, c.end);
    }
}

TEST(CalendarTest, DaysAndWeekdaysInTheZone) {
    const Calendar moscow("Europe/Moscow");
    const Date date{1'796'900'700};  // Thursday 2026-12-10 14:05 MSK
    EXPECT_EQ(moscow.timeZoneIdentifier(), "Europe/Moscow");
    EXPECT_EQ(moscow.startOfDay(date)->secondsSince1970, 1'796'850'000);
    EXPECT_EQ(moscow.weekday(date), 5);
    EXPECT_EQ(moscow.hour(date), 14);
    EXPECT_EQ(moscow.addingDays(date, 1)->secondsSince1970, 1'796'987'100);
    EXPECT_TRUE(moscow.isSameDay(date, date + 3600));
    EXPECT_FALSE(moscow.isSameDay(date, date + 36000));
    EXPECT_EQ(moscow.format(date, "EEE, d MMM 'в' HH:mm"), "чт, 10 дек. в 14:05");
}

// The check the programs make before showing any date: here, with the system's ICU data, it
// passes. (A process test runs them against a data library without data.)
TEST(CalendarTest, LocaleDataIsThereAndOnlyCyrillicMonthNamesPass) {
    EXPECT_TRUE(Calendar::hasLocaleData());
    const std::pair<const char*, bool> names[] = {
        {"январь", true}, {"Январь", true},   {"", false},        {" ", false},
        {"M01", false},   {"January", false}, {"январь ", false}, {"\xD1", false},
    };
    for (const auto& [name, passes] : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Calendar::looksLikeRussianMonthName(name), passes);
    }
}

}  // namespace
}  // namespace kestrane::platform
