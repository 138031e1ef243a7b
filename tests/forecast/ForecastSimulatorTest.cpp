#include "forecast/ForecastSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "forecast/ForecastRandom.h"

namespace kestrane::forecast {
namespace {

using history::RhythmHistory;
using history::RhythmHour;
using platform::Calendar;
using platform::Date;

// 2025-03-10 (a Monday) 10:30 in Moscow (UTC+3 all year).
constexpr Date kMorning{1'741'591'800};
constexpr double kHour = 3600;

// A rhythm of `days` fully observed past days before the day of `now`; `rate` gives the
// percentage points per hour of (days ago, hour of day), or nothing for an unobserved hour.
RhythmHistory rhythm(const Calendar& calendar, Date now, int days,
                     const std::function<std::optional<double>(int, int)>& rate,
                     double observedSeconds = 3600) {
    RhythmHistory history{"digest", 300, calendar.timeZoneIdentifier(), {}};
    const Date today = *calendar.startOfDay(now);
    for (int ago = days; ago >= 1; --ago) {
        const Date day = *calendar.addingDays(today, -ago);
        for (int hour = 0; hour < 24; ++hour) {
            const auto value = rate(ago, hour);
            if (!value) continue;
            history.hours.push_back(
                RhythmHour{day + hour * kHour, *value * observedSeconds / 3600, observedSeconds});
        }
    }
    return history;
}

std::optional<double> flat(int, int) { return 2.0; }

TEST(ForecastRandomTest, MatchesTheReferenceGenerators) {
    ForecastRandom random{0};
    EXPECT_EQ(random.nextBits(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(random.nextBits(), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(random.nextBits(), 0x06C45D188009454FULL);
    EXPECT_EQ(ForecastRandom::uniform(0), 0x1.0p-54);
    EXPECT_GT(ForecastRandom::uniform(0), 0.0);
    EXPECT_EQ(fnv1a64(""), 0xCBF29CE484222325ULL);
    EXPECT_EQ(fnv1a64("a"), 0xAF63DC4C8601EC8CULL);
    EXPECT_EQ(fnv1a64("foobar"), 0x85944171F73967E8ULL);
}

TEST(ForecastSimulatorTest, Preconditions) {
    const Calendar moscow("Europe/Moscow");
    const auto history = rhythm(moscow, kMorning, 10, flat);
    auto foreign = history;
    foreign.timeZoneIdentifier = "Asia/Kolkata";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::optional<RhythmHistory> history;
        std::optional<Date> reset;
        double remaining;
        int scenarios;
        bool present;
    };
    const Case cases[] = {
        {"valid", history, kMorning + kHour, 50, 512, true},
        {"no rhythm", std::nullopt, kMorning + kHour, 50, 512, false},
        {"rhythm of another zone", foreign, kMorning + kHour, 50, 512, false},
        {"no reset", history, std::nullopt, 50, 512, false},
        {"reset in the past", history, kMorning - 1, 50, 512, false},
        {"reset now", history, kMorning, 50, 512, false},
        {"reset 32 days away", history, kMorning + 2'764'800, 50, 512, true},
        {"reset 33 days away", history, kMorning + 33 * 86'400, 50, 512, false},
        {"remaining below 0", history, kMorning + kHour, -0.1, 512, false},
        {"remaining above 100", history, kMorning + kHour, 100.1, 512, false},
        {"remaining not a number", history, kMorning + kHour, nan, 512, false},
        {"remaining 100", history, kMorning + kHour, 100, 512, true},
        {"31 scenarios", history, kMorning + kHour, 50, 31, false},
        {"32 scenarios", history, kMorning + kHour, 50, 32, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ForecastSimulator::forecast(c.history, kMorning, c.reset, c.remaining,
                                                        std::nullopt, moscow, c.scenarios);
        EXPECT_EQ(result.has_value(), c.present);
    }
    // A recent rate that is no usable number is ignored rather than poisoning the forecast.
    const auto plain =
        ForecastSimulator::forecast(history, kMorning, kMorning + kHour, 50, std::nullopt, moscow);
    for (const double rate : {nan, -1.0, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(
            ForecastSimulator::forecast(history, kMorning, kMorning + kHour, 50, rate, moscow),
            plain);
    }
}

// Every past day used 2 %/h, so every scenario is the same and the numbers can be worked out by
// hand: 10:30-11:00 and 11:00-12:00 make 1.5 hours.
TEST(ForecastSimulatorTest, HandComputedSmallCase) {
    const Calendar moscow("Europe/Moscow");
    const auto history = rhythm(moscow, kMorning, 3, flat);
    const Date reset = kMorning + 1.5 * kHour;

    const auto plain =
        ForecastSimulator::forecast(history, kMorning, reset, 50, std::nullopt, moscow);
    ASSERT_TRUE(plain);
    EXPECT_DOUBLE_EQ(plain->medianDemand, 3);
    EXPECT_DOUBLE_EQ(plain->lowerDemand, 3);
    EXPECT_DOUBLE_EQ(plain->upperDemand, 3);
    EXPECT_DOUBLE_EQ(plain->medianRemaining, 47);
    EXPECT_DOUBLE_EQ(plain->lowerRemaining, 47);
    EXPECT_DOUBLE_EQ(plain->upperRemaining, 47);
    EXPECT_EQ(plain->exhaustionFraction, 0);
    EXPECT_EQ(plain->medianExhaustionDate, std::nullopt);
    EXPECT_EQ(plain->historyDays, 3);
    EXPECT_FALSE(plain->usesWeekdayPattern);
    EXPECT_EQ(plain->minimumHourObservations, 3);
    EXPECT_EQ(plain->historyUpdatedAt, kMorning - 10.5 * kHour);

    // A recent rate of 10 %/h counts with half the mean of e^(-t/1800) over each step:
    // 0.5*(1-e^-1) in the first half hour, 0.25*(e^-1 - e^-3) in the next hour.
    const double w1 = 0.5 * (1 - std::exp(-1.0));
    const double w2 = 0.25 * (std::exp(-1.0) - std::exp(-3.0));
    const double blended = (10 * w1 + 2 * (1 - w1)) * 0.5 + (10 * w2 + 2 * (1 - w2)) * 1;
    EXPECT_NEAR(blended, 4.900425863264272, 1e-12);
    const auto recent = ForecastSimulator::forecast(history, kMorning, reset, 50, 10.0, moscow);
    ASSERT_TRUE(recent);
    EXPECT_NEAR(recent->medianDemand, blended, 1e-12);
    EXPECT_NEAR(recent->medianRemaining, 50 - blended, 1e-12);

    // 2 % left: 1 % goes by 11:00, the other at 2 %/h by 11:30.
    const auto shortage =
        ForecastSimulator::forecast(history, kMorning, reset, 2, std::nullopt, moscow);
    ASSERT_TRUE(shortage);
    EXPECT_EQ(shortage->exhaustionFraction, 1);
    EXPECT_EQ(shortage->medianExhaustionDate, kMorning + kHour);
    EXPECT_EQ(shortage->medianRemaining, 0);

    // With the recent rate the moment solves the integral of the blend; at 10 %/h fading, the
    // 4.9 points run out before the reset.
    const auto fast = ForecastSimulator::forecast(history, kMorning, reset, 4, 10.0, moscow);
    ASSERT_TRUE(fast);
    ASSERT_TRUE(fast->medianExhaustionDate);
    const double x = *fast->medianExhaustionDate - (kMorning + 0.5 * kHour);
    const double consumed =
        (10 * w1 + 2 * (1 - w1)) * 0.5 +
        (2 * x - (10 - 2) * 0.5 * 1800 * std::exp(-1.0) * (std::exp(-x / 1800) - 1)) / 3600;
    EXPECT_NEAR(consumed, 4, 1e-6);

    // Nothing left: every scenario is exhausted right now.
    const auto empty =
        ForecastSimulator::forecast(history, kMorning, reset, 0, std::nullopt, moscow);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->exhaustionFraction, 1);
    EXPECT_EQ(empty->medianExhaustionDate, kMorning);
    EXPECT_EQ(empty->medianRemaining, 0);
}

// Steps follow the wall clock: a skipped hour contributes nothing, a repeated one twice, and
// half-hour zones cut hours at half past. Past days used `hour` %/h in each hour of the day.
TEST(ForecastSimulatorTest, StepsFollowClockHoursAcrossDaylightSavingAndHalfHourZones) {
    struct Case {
        const char* name;
        const char* zone;
        Date now;
        double hours;
        double demand;
    };
    const Case cases[] = {
        // 00:30 EST to 04:30 EDT: half of hour 0, hours 1 and 3, half of hour 4.
        {"spring forward", "America/New_York", Date{1'741'498'200}, 3, 0 + 1 + 3 + 2},
        // 00:30 EDT to 02:30 EST: half of hour 0, hour 1 twice, half of hour 2.
        {"fall back", "America/New_York", Date{1'762'057'800}, 3, 0 + 1 + 1 + 1},
        // 10:15 to 12:45 IST: three quarters of 10, all of 11, three quarters of 12.
        {"half-hour zone", "Asia/Kolkata", Date{1'741'581'900}, 2.5, 7.5 + 11 + 9},
        {"Moscow", "Europe/Moscow", kMorning, 2, 5 + 11 + 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Calendar calendar(c.zone);
        const auto history =
            rhythm(calendar, c.now, 3, [](int, int hour) { return std::optional<double>(hour); });
        const auto result = ForecastSimulator::forecast(history, c.now, c.now + c.hours * kHour,
                                                        100, std::nullopt, calendar);
        ASSERT_TRUE(result);
        EXPECT_NEAR(result->medianDemand, c.demand, 1e-9);
        EXPECT_NEAR(result->lowerDemand, c.demand, 1e-9);
    }
}

TEST(ForecastSimulatorTest, TrainingHoursMustBeMostlyObserved) {
    const Calendar moscow("Europe/Moscow");
    struct Case {
        double observedSeconds;
        double used;
        bool present;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {{2879, 2, false}, {2880, 2, true},   {3601, 2, true},
                          {3602, 2, false}, {3600, -1, false}, {3600, nan, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.observedSeconds);
        // Three days needed for a 1.5-hour horizon; the oldest one's hours are the case.
        auto history = rhythm(moscow, kMorning, 3, flat);
        for (auto& hour : history.hours) {
            if (hour.start < *moscow.addingDays(*moscow.startOfDay(kMorning), -2)) {
                hour.observedSeconds = c.observedSeconds;
                hour.usedPercent = c.used;
            }
        }
        const auto result = ForecastSimulator::forecast(history, kMorning, kMorning + 1.5 * kHour,
                                                        50, std::nullopt, moscow);
        EXPECT_EQ(result.has_value(), c.present);
    }
}

TEST(ForecastSimulatorTest, RequiredDaysAndCoverageGrowWithTheHorizon) {
    const Calendar moscow("Europe/Moscow");
    struct Case {
        const char* name;
        int days;
        double horizonHours;
        std::function<std::optional<double>(int, int)> rate;
        std::optional<int> minimumObservations;  // absent = no forecast
    };
    const auto allHours = [](int, int) { return std::optional<double>(1); };
    const Case cases[] = {
        {"5 h with 4 days", 4, 5, allHours, 4},
        {"6 h with 3 days", 3, 6, allHours, 3},
        {"6 h 1 s with 4 days", 4, 6 + 1.0 / 3600, allHours, std::nullopt},
        {"6 h 1 s with 5 days", 5, 6 + 1.0 / 3600, allHours, 5},
        {"25 h with 6 days", 6, 25, allHours, std::nullopt},
        {"25 h with 7 days", 7, 25, allHours, 7},
        {"only one day ever used anything", 5, 2,
         [](int ago, int) { return std::optional<double>(ago == 1 ? 1 : 0); }, std::nullopt},
        {"two days used something", 5, 2,
         [](int ago, int) { return std::optional<double>(ago <= 2 ? 1 : 0); }, 5},
        // Short horizons need three quarters of their hours; 10:30-13:30 needs 10...13.
        {"short horizon, days missing two of four hours", 4, 3,
         [](int ago, int hour) -> std::optional<double> {
             if (ago <= 2 && (hour == 12 || hour == 13)) return std::nullopt;
             return 1;
         },
         std::nullopt},
        {"short horizon, days missing one of four hours", 4, 3,
         [](int ago, int hour) -> std::optional<double> {
             if (ago == 1 && hour == 12) return std::nullopt;
             return 1;
         },
         3},
        // Long horizons need 18 observed hours per day and minObs days for every needed hour.
        {"days with 17 hours are not eligible", 8, 25,
         [](int, int hour) -> std::optional<double> {
             if (hour < 17) return 1;
             return std::nullopt;
         },
         std::nullopt},
        {"hour 3 seen on 6 of 8 days", 8, 25,
         [](int ago, int hour) -> std::optional<double> {
             if (hour == 3 && ago <= 2) return std::nullopt;
             return 1;
         },
         std::nullopt},
        {"hour 3 seen on 7 of 8 days", 8, 25,
         [](int ago, int hour) -> std::optional<double> {
             if (hour == 3 && ago == 1) return std::nullopt;
             return 1;
         },
         7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto history = rhythm(moscow, kMorning, c.days, c.rate);
        const auto result = ForecastSimulator::forecast(
            history, kMorning, kMorning + c.horizonHours * kHour, 80, std::nullopt, moscow);
        ASSERT_EQ(result.has_value(), c.minimumObservations.has_value());
        if (result) {
            EXPECT_EQ(result->minimumHourObservations, *c.minimumObservations);
        }
    }
}

TEST(ForecastSimulatorTest, SameWeekdayPatternNeedsThreeSameWeekdaysAmongFourteenDays) {
    const Calendar moscow("Europe/Moscow");
    const Date now = kMorning - 0.5 * kHour;  // Monday 10:00
    struct Case {
        int days;
        bool usesWeekdayPattern;
    };
    for (const Case c : {Case{13, false}, Case{14, false}, Case{20, false}, Case{21, true}}) {
        SCOPED_TRACE(c.days);
        const auto history = rhythm(moscow, now, c.days, flat);
        const auto result =
            ForecastSimulator::forecast(history, now, now + kHour, 50, std::nullopt, moscow);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->historyDays, c.days);
        EXPECT_EQ(result->usesWeekdayPattern, c.usesWeekdayPattern);
    }

    // Mondays used 10 %/h at 10:00, other days 1 %/h. With twelve Mondays among 84 days the
    // share of the same weekday is 12/13, so even the optimistic tenth of the scenarios draws a
    // Monday; with 13 days (one Monday) the weekday does not count and the median is 1.
    const auto mondays = [&](int ago, int) { return std::optional<double>(ago % 7 == 0 ? 10 : 1); };
    const auto many = ForecastSimulator::forecast(rhythm(moscow, now, 84, mondays), now,
                                                  now + kHour, 50, std::nullopt, moscow);
    ASSERT_TRUE(many);
    EXPECT_TRUE(many->usesWeekdayPattern);
    EXPECT_EQ(many->lowerDemand, 10);
    const auto few = ForecastSimulator::forecast(rhythm(moscow, now, 13, mondays), now, now + kHour,
                                                 50, std::nullopt, moscow);
    ASSERT_TRUE(few);
    EXPECT_FALSE(few->usesWeekdayPattern);
    EXPECT_EQ(few->medianDemand, 1);
}

TEST(ForecastSimulatorTest, SameInputsOnTheSameDayGiveIdenticalResults) {
    const Calendar moscow("Europe/Moscow");
    std::mt19937 random(7);
    std::uniform_real_distribution<double> rates(0, 6);
    std::vector<double> table(60 * 24);
    for (double& value : table) value = rates(random);
    auto history = rhythm(moscow, kMorning, 60, [&](int ago, int hour) {
        return std::optional<double>(table[static_cast<std::size_t>((ago - 1) * 24 + hour)]);
    });
    // Today's finished hours make the similarity weighting take part.
    const Date today = *moscow.startOfDay(kMorning);
    for (int hour = 0; hour < 10; ++hour) {
        history.hours.push_back(RhythmHour{today + hour * kHour, 1.0 + hour % 3, 3600});
    }
    const auto first =
        ForecastSimulator::forecast(history, kMorning, kMorning + 40 * kHour, 60, 3.0, moscow);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->usesWeekdayPattern);
    EXPECT_LT(first->lowerDemand, first->upperDemand);
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(
            ForecastSimulator::forecast(history, kMorning, kMorning + 40 * kHour, 60, 3.0, moscow),
            first);
    }
    // Later on the same day the seed is the same; the scenarios' starting point is not.
    EXPECT_EQ(
        ForecastSimulator::forecast(history, kMorning + 60, kMorning + 40 * kHour, 60, 3.0, moscow)
            ->historyUpdatedAt,
        first->historyUpdatedAt);
}

TEST(ForecastSimulatorTest, ScenarioStatistics) {
    std::vector<double> demands;
    for (int i = 0; i < 512; ++i) demands.push_back((i * 37) % 512);  // 0...511 shuffled
    const auto result = ForecastSimulator::summarizeScenarios(demands, {}, 300);
    EXPECT_EQ(result.medianDemand, 255);  // index (511 * 0.5) = 255
    EXPECT_EQ(result.lowerDemand, 51);    // index (511 * 0.1) = 51
    EXPECT_EQ(result.upperDemand, 459);   // index (511 * 0.9) = 459
    EXPECT_EQ(result.medianRemaining, 45);
    EXPECT_EQ(result.lowerRemaining, 0);
    EXPECT_EQ(result.upperRemaining, 249);
    EXPECT_EQ(result.exhaustionFraction, 0);

    const auto exhausted = [&](int count) {
        std::vector<Date> dates;
        for (int i = count; i > 0; --i) dates.push_back(Date{1000.0 + i});
        return ForecastSimulator::summarizeScenarios(demands, dates, 300);
    };
    const auto half = exhausted(256);
    EXPECT_EQ(half.exhaustionFraction, 0.5);
    EXPECT_EQ(half.medianExhaustionDate, std::nullopt);
    const auto more = exhausted(257);
    EXPECT_EQ(more.exhaustionFraction, 257.0 / 512);
    // Sorted ascending, the date at index 256 of 1001...1257.
    EXPECT_EQ(more.medianExhaustionDate, Date{1257});
}

}  // namespace
}  // namespace kestrane::forecast
