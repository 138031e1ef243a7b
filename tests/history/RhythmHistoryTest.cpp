#include "history/RhythmHistory.h"

#include <gtest/gtest.h>

#include "history/HistoryTestSupport.h"

namespace kestrane::history {
namespace {

using platform::Calendar;
using platform::Date;
using test::kNoon;

UsageSample sample(Date date, double used) { return UsageSample{date, used, false, std::nullopt}; }

TEST(RhythmHistoryTest, SpreadsAPairOverTheClockHoursOfTheZone) {
    struct Case {
        const char* zone;
        Date from;
        Date to;
        double used0;
        double used1;
        std::vector<RhythmHour> expected;
    };
    // 2025-03-09 is the spring-forward day in New York: 01:55 EST is 06:55Z, 03:05 EDT 07:05Z.
    const Date springForward{1'741'503'300};
    const Case cases[] = {
        {"UTC", kNoon - 300, kNoon + 300, 10, 12, {{kNoon - 3600, 1, 300}, {kNoon, 1, 300}}},
        {"America/New_York",
         springForward,
         springForward + 600,
         0,
         4,
         {{springForward - 3300, 2, 300}, {springForward + 300, 2, 300}}},
        // Kolkata hours begin at half past in UTC.
        {"Asia/Kolkata",
         kNoon + 1500,
         kNoon + 2100,
         1,
         1.5,
         {{kNoon - 1800, 0.25, 300}, {kNoon + 1800, 0.25, 300}}},
        {"UTC", kNoon + 60, kNoon + 960, 5, 5, {{kNoon, 0, 900}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        RhythmHistory rhythm{"d", 300, c.zone, {}};
        rhythm.observe(sample(c.from, c.used0), sample(c.to, c.used1), std::nullopt,
                       Calendar(c.zone));
        EXPECT_EQ(rhythm.hours, c.expected);
    }
}

TEST(RhythmHistoryTest, AddsToAnExistingHourInsteadOfDuplicatingIt) {
    const Calendar utc("UTC");
    RhythmHistory rhythm{"d", 300, "UTC", {}};
    rhythm.observe(sample(kNoon + 60, 1), sample(kNoon + 660, 2), std::nullopt, utc);
    rhythm.observe(sample(kNoon + 660, 2), sample(kNoon + 1260, 4), std::nullopt, utc);
    EXPECT_EQ(rhythm.hours, (std::vector<RhythmHour>{{kNoon, 3, 1200}}));
}

TEST(RhythmHistoryTest, LearnsOnlyWhatCanBePlacedInTime) {
    const Calendar utc("UTC");
    const Date reset = kNoon + 86'400;
    struct Case {
        const char* name;
        UsageSample from;
        UsageSample to;
        std::optional<Date> knownReset;
        std::size_t hours;  // learned entries, 0 = nothing learned
    };
    UsageSample withTransition = sample(kNoon + 600, 20);
    withTransition.transition = UsageTransition{kNoon + 600, UsageTransition::Kind::reset, true};
    const Case cases[] = {
        {"two idle hours before a known reset", sample(kNoon + 1800, 5), sample(kNoon + 9000, 5),
         reset, 3},
        {"two idle hours, reset unknown", sample(kNoon + 1800, 5), sample(kNoon + 9000, 5),
         std::nullopt, 0},
        {"two idle hours, reset already passed", sample(kNoon + 1800, 5), sample(kNoon + 9000, 5),
         kNoon + 9000, 0},
        {"growth over a long gap", sample(kNoon, 5), sample(kNoon + 7200, 5.5), reset, 0},
        {"falling usage", sample(kNoon, 5), sample(kNoon + 600, 4), reset, 0},
        {"reaching 100 %", sample(kNoon, 95), sample(kNoon + 600, 100), reset, 0},
        {"a transition", sample(kNoon, 5), withTransition, reset, 0},
        {"no time passed", sample(kNoon, 5), sample(kNoon, 6), reset, 0},
        {"idle gap longer than any stored history", sample(kNoon - 8 * 86'400, 5), sample(kNoon, 5),
         reset, 0},
        {"exactly 900 s with growth", sample(kNoon, 5), sample(kNoon + 900, 6), std::nullopt, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RhythmHistory rhythm{"d", 300, "UTC", {}};
        rhythm.observe(c.from, c.to, c.knownReset, utc);
        EXPECT_EQ(rhythm.hours.size(), c.hours);
        double seconds = 0;
        for (const auto& hour : rhythm.hours) {
            EXPECT_EQ(hour.usedPercent, c.hours == 1 ? 1 : 0);
            seconds += hour.observedSeconds;
        }
        if (c.hours > 0) {
            EXPECT_EQ(seconds, c.to.date - c.from.date);
        }
    }
}

}  // namespace
}  // namespace kestrane::history
