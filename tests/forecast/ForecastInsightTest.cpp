#include "forecast/ForecastInsight.h"

#include <gtest/gtest.h>

namespace kestrane::forecast {
namespace {

using platform::Calendar;
using platform::Date;
using Tone = ForecastInsight::Tone;

// 2025-03-10 (Monday) 10:30 in Moscow.
constexpr Date kMorning{1'741'591'800};

QuotaForecast forecastOf(double lower, double median, double upper, double fraction = 0,
                         double medianDemand = 5) {
    QuotaForecast f;
    f.lowerRemaining = lower;
    f.medianRemaining = median;
    f.upperRemaining = upper;
    f.exhaustionFraction = fraction;
    f.medianDemand = medianDemand;
    return f;
}

ForecastInsight insight(const QuotaForecast& forecast, double remaining = 50) {
    return ForecastInsight::make(forecast, remaining, kMorning, Calendar("Europe/Moscow"));
}

TEST(ForecastInsightTest, RangeLine) {
    struct Case {
        double lower;
        double upper;
        std::optional<std::string> range;
    };
    const Case cases[] = {
        {4.2, 37.6, "Возможный остаток: 4-38%"},
        {0, 0.4, "Возможный остаток: 0-1%"},
        {50, 50, std::nullopt},
        {0, 0, std::nullopt},
        {49.5, 50, "Возможный остаток: 49-50%"},
        {50, 50.0001, "Возможный остаток: 50-51%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.upper);
        EXPECT_EQ(insight(forecastOf(c.lower, c.lower, c.upper)).range, c.range);
    }
}

TEST(ForecastInsightTest, ToneFollowsTheChecksInOrder) {
    struct Case {
        const char* name;
        QuotaForecast forecast;
        Tone tone;
        const char* outcome;
    };
    auto withExhaustion = forecastOf(40, 45, 50, 0.01);
    withExhaustion.medianExhaustionDate = kMorning + 7 * 3600 + 600;
    const Case cases[] = {
        {"median exhaustion beats a small fraction", withExhaustion, Tone::shortage,
         "При привычной нагрузке - примерно сегодня в 17:40."},
        {"lower 4.9", forecastOf(4.9, 30, 60), Tone::caution,
         "К сбросу останется около 30% при привычной нагрузке."},
        {"fraction 0.1", forecastOf(5, 30, 60, 0.1), Tone::caution,
         "К сбросу останется около 30% при привычной нагрузке."},
        {"median 0.49 in caution", forecastOf(0, 0.49, 3), Tone::caution,
         "При привычной нагрузке лимита хватит почти впритык."},
        {"median 0.5 in caution", forecastOf(0, 0.5, 3), Tone::caution,
         "К сбросу останется около 1% при привычной нагрузке."},
        {"lower 5, fraction 0.09, median 15", forecastOf(5, 15, 20, 0.09), Tone::steady,
         "К сбросу останется около 15% при привычной нагрузке."},
        {"lower 10, median 20, demand 1", forecastOf(10, 20, 30, 0, 1.0), Tone::spare,
         "К сбросу останется около 20% при привычной нагрузке."},
        {"demand 0.99 is idle", forecastOf(10, 20, 30, 0, 0.99), Tone::steady,
         "К сбросу останется около 20% при привычной нагрузке."},
        {"median 19.99", forecastOf(10, 19.99, 30), Tone::steady,
         "К сбросу останется около 20% при привычной нагрузке."},
        {"lower 9.99", forecastOf(9.99, 40, 60), Tone::steady,
         "К сбросу останется около 40% при привычной нагрузке."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = insight(c.forecast);
        EXPECT_EQ(result.tone, c.tone);
        EXPECT_EQ(result.outcome, c.outcome);
        switch (c.tone) {
            case Tone::shortage:
                EXPECT_EQ(result.title, "Лимит может закончиться раньше");
                break;
            case Tone::caution:
                EXPECT_EQ(result.title, "Запас небольшой");
                EXPECT_EQ(result.guidance,
                          "При более активной работе лимит может закончиться до сброса.");
                break;
            case Tone::spare:
                EXPECT_EQ(result.title, "Есть запас для экспериментов");
                EXPECT_EQ(result.guidance, "Можно увеличить нагрузку, следя за остатком.");
                break;
            case Tone::steady:
                EXPECT_EQ(result.title, "Лимита должно хватить");
                EXPECT_EQ(result.guidance, "Можно продолжать в привычном ритме.");
                break;
        }
    }
}

TEST(ForecastInsightTest, ShortageGuidanceAndDate) {
    struct Case {
        double remaining;
        double medianDemand;
        Date exhaustion;
        const char* outcome;
        const char* guidance;
    };
    const Case cases[] = {
        {30, 40, Date{1'741'617'600}, "При привычной нагрузке - примерно сегодня в 17:40.",
         "До сброса стоит сократить привычный расход примерно на 25%."},
        {30, 31, Date{1'741'759'500}, "При привычной нагрузке - примерно ср, 12 мар. в 09:05.",
         "Немного снизьте нагрузку или перенесите часть задач за сброс."},
        {1, 200, Date{1'741'640'340}, "При привычной нагрузке - примерно сегодня в 23:59.",
         "Почти весь привычный расход стоит перенести за сброс."},
        {30, 0, Date{1'741'640'400}, "При привычной нагрузке - примерно вт, 11 мар. в 00:00.",
         "Немного снизьте нагрузку или перенесите часть задач за сброс."},
        // A cut just under 10 (floating point) rounds up to 10; one just over 4 is gentle.
        {90, 100, Date{1'741'617'600}, "При привычной нагрузке - примерно сегодня в 17:40.",
         "До сброса стоит сократить привычный расход примерно на 10%."},
        {96, 100, Date{1'741'617'600}, "При привычной нагрузке - примерно сегодня в 17:40.",
         "Немного снизьте нагрузку или перенесите часть задач за сброс."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        auto forecast = forecastOf(0, 0, 0, 0.9, c.medianDemand);
        forecast.medianExhaustionDate = c.exhaustion;
        const auto result = insight(forecast, c.remaining);
        EXPECT_EQ(result.tone, Tone::shortage);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.guidance, c.guidance);
        EXPECT_EQ(result.range, std::nullopt);
    }
}

}  // namespace
}  // namespace kestrane::forecast
