#include "ui/UsageChartTimeline.h"

#include <gtest/gtest.h>

namespace kestrane::ui {
namespace {

using history::UsageAnalytics;
using history::UsageSample;
using history::UsageTransition;
using platform::Date;
using Kind = UsageTransition::Kind;

// 2025-05-12 09:00 UTC.
constexpr Date kNow{1'747'040'400};
constexpr double kDay = 86'400;
constexpr double kMinute = 60;

UsageSample sample(double secondsBeforeNow, double used, bool startsSegment = false,
                   std::optional<UsageTransition> transition = std::nullopt) {
    return {kNow - secondsBeforeNow, used, startsSegment, transition};
}

UsageAnalytics analyticsOf(std::vector<UsageSample> samples, double remaining = 50) {
    UsageAnalytics analytics;
    analytics.samples = std::move(samples);
    analytics.now = kNow;
    analytics.remainingPercent = remaining;
    return analytics;
}

UsageChartConnection observed(UsageChartPoint a, UsageChartPoint b) {
    return {{a, b}, {UsageChartConnection::Observed{}}};
}
UsageChartConnection gap(UsageChartPoint a, UsageChartPoint b) {
    return {{a, b}, {UsageChartConnection::Gap{}}};
}

TEST(UsageChartTimelineTest, DomainIsTheSevenDaysEndingNowAndHoldsOnlyTheSamplesInside) {
    // The first sample is the one the store keeps before the cutoff; the domain's ends count as
    // inside.
    const UsageChartTimeline timeline(analyticsOf({
        sample(8 * kDay, 10, true),
        sample(7 * kDay, 20, true),
        sample(6 * kDay, 30, true),
        sample(0, 40, true),
    }));
    EXPECT_EQ(timeline.domain.start, kNow - 7 * kDay);
    EXPECT_EQ(timeline.domain.end, kNow);
    ASSERT_EQ(timeline.samples.size(), 3U);
    EXPECT_EQ(timeline.samples.front().date, kNow - 7 * kDay);
    EXPECT_EQ(timeline.samples.back().date, kNow);
}

TEST(UsageChartTimelineTest, PairsBecomeSolidOrDashedLinesInRemainingSpace) {
    const struct {
        const char* name;
        std::vector<UsageSample> samples;
        std::vector<UsageChartConnection> expected;
    } cases[] = {
        {"a pair crossing the 7-day start is still joined",
         {sample(8 * kDay, 10, true), sample(6 * kDay, 30, true)},
         {gap({kNow - 8 * kDay, 90}, {kNow - 6 * kDay, 70})}},
        {"a pair entirely before the 7 days is not",
         {sample(9 * kDay, 10, true), sample(8 * kDay, 30, true)},
         {}},
        {"continuous readings are solid, the one after a pause dashed",
         {sample(40 * kMinute, 10, true), sample(35 * kMinute, 12), sample(5 * kMinute, 20, true)},
         {observed({kNow - 40 * kMinute, 90}, {kNow - 35 * kMinute, 88}),
          gap({kNow - 35 * kMinute, 88}, {kNow - 5 * kMinute, 80})}},
        {"a full quota reads as nothing left",
         {sample(10 * kMinute, 99.5, true), sample(5 * kMinute, 100)},
         {observed({kNow - 10 * kMinute, 0.5}, {kNow - 5 * kMinute, 0})}},
        {"an empty history has no lines", {}, {}},
        {"a single sample has no lines", {sample(kMinute, 10, true)}, {}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(UsageChartTimeline(analyticsOf(testCase.samples)).connections, testCase.expected);
    }
}

TEST(UsageChartTimelineTest, StepsSitAtTheTransitionClampedIntoTheirPair) {
    const Date a = kNow - 60 * kMinute;
    const Date b = kNow - 30 * kMinute;
    const struct {
        const char* name;
        Date transitionDate;
        Date expectedStep;
    } cases[] = {
        {"inside the pair", a + 10 * kMinute, a + 10 * kMinute},
        {"before the earlier sample", a - 5 * kMinute, a},
        {"at the later sample", b, b},
        {"after the later sample", b + 5 * kMinute, b},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const UsageTransition reset{testCase.transitionDate, Kind::reset, false};
        const UsageChartTimeline timeline(
            analyticsOf({{a, 60, true, std::nullopt}, {b, 5, true, reset}}));
        const UsageChartConnection expected{
            {{a, 40}, {testCase.expectedStep, 40}, {testCase.expectedStep, 95}, {b, 95}}, {reset}};
        ASSERT_EQ(timeline.connections.size(), 1U);
        EXPECT_EQ(timeline.connections[0], expected);
        // Listed at its own date, not at the step.
        EXPECT_EQ(timeline.transitions(), std::vector<UsageTransition>{reset});
    }
}

TEST(UsageChartTimelineTest, PeriodChangeBetweenEmptyReadingsIsALineNotAStep) {
    const UsageTransition change{kNow - 5 * kMinute, Kind::periodChange, true};
    const struct {
        const char* name;
        std::vector<UsageSample> samples;
        std::vector<UsageChartConnection> connections;
        std::vector<UsageTransition> transitions;
    } cases[] = {
        {"20 minutes apart: dashed",
         {sample(25 * kMinute, 0, true), sample(5 * kMinute, 0, true, change)},
         {gap({kNow - 25 * kMinute, 100}, {kNow - 5 * kMinute, 100})},
         {}},
        {"10 minutes apart: solid",
         {sample(15 * kMinute, 0, true), sample(5 * kMinute, 0, true, change)},
         {observed({kNow - 15 * kMinute, 100}, {kNow - 5 * kMinute, 100})},
         {}},
        {"with usage on either side it is a step",
         {sample(15 * kMinute, 5, true), sample(5 * kMinute, 5, true, change)},
         {{{{kNow - 15 * kMinute, 95},
            {kNow - 5 * kMinute, 95},
            {kNow - 5 * kMinute, 95},
            {kNow - 5 * kMinute, 95}},
           {change}}},
         {change}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const UsageChartTimeline timeline(analyticsOf(testCase.samples));
        EXPECT_EQ(timeline.connections, testCase.connections);
        EXPECT_EQ(timeline.transitions(), testCase.transitions);
    }
}

TEST(UsageChartTimelineTest, TransitionsListOnlyStepsDatedInsideTheDomain) {
    const UsageTransition oldReset{kNow - 7 * kDay - kMinute, Kind::reset, false};
    const UsageTransition correction{kNow - 2 * kDay, Kind::correction, true};
    const UsageTransition reset{kNow - kDay, Kind::reset, true};
    const UsageChartTimeline timeline(analyticsOf({
        sample(7 * kDay + 2 * kMinute, 40, true),
        sample(7 * kDay - 10 * kMinute, 2, true, oldReset),
        sample(2 * kDay, 10, true, correction),
        sample(kDay, 1, true, reset),
    }));
    EXPECT_EQ(timeline.connections.size(), 3U);
    EXPECT_EQ(timeline.transitions(), (std::vector<UsageTransition>{correction, reset}));
}

TEST(UsageChartTimelineTest, SummaryReadsRemainingRateAndResets) {
    const UsageTransition reset{kNow - kDay, Kind::reset, true};
    const UsageTransition correction{kNow - 2 * kDay, Kind::correction, true};
    const struct {
        const char* name;
        UsageAnalytics analytics;
        std::string expected;
    } cases[] = {
        {"empty history", analyticsOf({}, 42.5),
         "История за 7 дней. Осталось 43%. Темп: недостаточно данных. Сбросов: 0. "
         "Пунктир соединяет наблюдения через паузы."},
        {"one sample", analyticsOf({sample(kMinute, 10, true)}, 90),
         "История за 7 дней. Осталось 90%. Темп: недостаточно данных. Сбросов: 0. "
         "Пунктир соединяет наблюдения через паузы."},
        // 3 points over the last 20 minutes: 9 points an hour. Only resets are counted.
        {"recent observation and resets",
         analyticsOf({sample(3 * kDay, 50, true), sample(2 * kDay, 30, true, correction),
                      sample(kDay, 2, true, reset), sample(20 * kMinute, 7, true),
                      sample(10 * kMinute, 8.5), sample(0, 10)},
                     90.4),
         "История за 7 дней. Осталось 90%. Темп: 9.0 п.п. в час. Сбросов: 1. "
         "Пунктир соединяет наблюдения через паузы."},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(usageChartSummary(testCase.analytics, UsageChartTimeline(testCase.analytics)),
                  testCase.expected);
    }
}

}  // namespace
}  // namespace kestrane::ui
