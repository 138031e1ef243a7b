#include "history/UsageAnalytics.h"

#include <gtest/gtest.h>

#include "history/HistoryTestSupport.h"
#include "history/RecentUsageInsight.h"

namespace kestrane::history {
namespace {

using platform::Date;
using test::kNoon;

UsageSample joined(double secondsAfterNoon, double used) {
    return UsageSample{kNoon + secondsAfterNoon, used, false, std::nullopt};
}

UsageAnalytics analytics(std::vector<UsageSample> samples, double nowAfterNoon,
                         std::optional<double> resetAfterNoon = std::nullopt,
                         bool unavailable = false) {
    if (!samples.empty()) samples.front().startsSegment = true;
    std::optional<Date> reset;
    if (resetAfterNoon) reset = kNoon + *resetAfterNoon;
    return UsageAnalytics{std::move(samples), kNoon + nowAfterNoon, reset, 50, unavailable};
}

TEST(UsageAnalyticsTest, MakeClampsTheRemainingPercent) {
    const auto w = test::window("w", 120, kNoon + 60);
    const auto made = UsageAnalytics::make(std::nullopt, w, kNoon, true);
    EXPECT_EQ(made.remainingPercent, 0);
    EXPECT_TRUE(made.samples.empty());
    EXPECT_EQ(made.resetsAt, kNoon + 60);
    EXPECT_TRUE(made.isUnavailable);
    EXPECT_EQ(
        UsageAnalytics::make(std::nullopt, test::window("w", -5), kNoon, false).remainingPercent,
        100);
    EXPECT_EQ(
        UsageAnalytics::make(std::nullopt, test::window("w", 30.5), kNoon, false).remainingPercent,
        69.5);
}

TEST(UsageAnalyticsTest, Staleness) {
    const std::vector<UsageSample> two{joined(0, 1), joined(300, 2)};
    EXPECT_FALSE(analytics(two, 300 + 900).isStale());
    EXPECT_TRUE(analytics(two, 300 + 901).isStale());
    EXPECT_TRUE(analytics(two, 400, 400).isStale());  // reset equal to now
    EXPECT_FALSE(analytics(two, 400, 401).isStale());
    EXPECT_TRUE(analytics(two, 400, std::nullopt, true).isStale());
    EXPECT_TRUE(analytics({}, 0).isStale());
}

TEST(UsageAnalyticsTest, RecentObservationWalksBackOverTheLastHour) {
    struct Case {
        const char* name;
        std::vector<UsageSample> samples;
        double now;
        std::optional<RecentObservation> expected;
    };
    UsageSample corrected = joined(3000, 30);
    corrected.transition = UsageTransition{kNoon + 3000, UsageTransition::Kind::correction, true};
    UsageSample gap = joined(3000, 30);
    gap.startsSegment = true;
    const Case cases[] = {
        {"stale", {joined(0, 1), joined(600, 2)}, 600 + 901, std::nullopt},
        {"one sample", {joined(0, 1)}, 10, std::nullopt},
        {"less than 120 s covered",
         {joined(0, 1), joined(50, 2), joined(100, 3)},
         100,
         std::nullopt},
        {"exactly 120 s", {joined(0, 1), joined(120, 2)}, 120, RecentObservation{1, 120}},
        {"ten minutes", {joined(0, 1), joined(600, 3)}, 600, RecentObservation{2, 600}},
        {"a pair straddling the hour counts pro rata",
         {joined(0, 0), joined(1200, 12), joined(4200, 42)},
         4200,
         RecentObservation{36, 3600}},
        {"falling usage stops the walk",
         {joined(0, 10), joined(2400, 5), joined(3000, 6), joined(3600, 8)},
         3600,
         RecentObservation{3, 1200}},
        {"a transition stops the walk",
         {joined(0, 10), joined(2400, 20), corrected, joined(3600, 32)},
         3600,
         RecentObservation{2, 600}},
        {"a segment start stops the walk",
         {joined(0, 10), joined(2400, 20), gap, joined(3600, 32)},
         3600,
         RecentObservation{2, 600}},
        {"pairs wholly before the hour are not walked",
         {joined(0, 0), joined(600, 50), joined(5000, 60), joined(5400, 62)},
         5400,
         RecentObservation{2 + 10.0 * 3200 / 4400, 3600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto observation = analytics(c.samples, c.now).recentObservation();
        ASSERT_EQ(observation.has_value(), c.expected.has_value());
        if (!observation) continue;
        EXPECT_NEAR(observation->used, c.expected->used, 1e-9);
        EXPECT_NEAR(observation->seconds, c.expected->seconds, 1e-9);
    }
}

TEST(UsageAnalyticsTest, BucketsSplitPairsInProportionToTime) {
    EXPECT_TRUE(analytics({}, 0).buckets(kNoon, kNoon + 100, 0).empty());
    EXPECT_TRUE(analytics({}, 0).buckets(kNoon, kNoon, 5).empty());

    constexpr double week = 604'800;
    UsageSample reset = joined(-3600, 1);
    reset.transition = UsageTransition{kNoon - 3600, UsageTransition::Kind::reset, true};
    UsageSample afterGap = joined(-14'400, 10);
    afterGap.startsSegment = true;
    // A pair reaching into the domain from before it, a gap, a pair across the boundary of the
    // last two 3-hour buckets, then a reset and falling usage that count nothing.
    const auto ordered = analytics({joined(-week - 7200, 0), joined(-week + 3600, 3), afterGap,
                                    joined(-7200, 12), reset, joined(-1800, 0.5)},
                                   0);
    const auto buckets = ordered.buckets(kNoon - week, kNoon, 56);
    ASSERT_EQ(buckets.size(), 56u);
    for (std::size_t k = 0; k < buckets.size(); ++k) {
        EXPECT_EQ(buckets[k].end - buckets[k].start, 10'800) << k;
    }
    EXPECT_EQ(buckets[0].start, kNoon - week);
    EXPECT_EQ(buckets[55].end, kNoon);
    // The first pair: 2 h before the domain, 1 h inside bucket 0.
    EXPECT_NEAR(buckets[0].usedPercent, 1, 1e-9);
    EXPECT_NEAR(buckets[0].observedSeconds, 3600, 1e-9);
    // -14 400 to -7 200 crosses the start of the last bucket at -10 800: half and half.
    EXPECT_NEAR(buckets[54].usedPercent, 1, 1e-9);
    EXPECT_NEAR(buckets[54].observedSeconds, 3600, 1e-9);
    EXPECT_NEAR(buckets[55].usedPercent, 1, 1e-9);
    EXPECT_NEAR(buckets[55].observedSeconds, 3600, 1e-9);
    for (std::size_t k = 1; k < 54; ++k) EXPECT_EQ(buckets[k].observedSeconds, 0) << k;
}

TEST(UsageAnalyticsTest, RecentUsageInsightTexts) {
    struct Case {
        double seconds;
        double used;
        const char* text;  // nullptr = no insight
    };
    const Case cases[] = {
        {600, 1, nullptr},
        {899, 1, nullptr},
        {900, 1, "За 15 минут потрачено 1% лимита"},
        {3570, 2.5, "За последний час потрачено 2,5% лимита"},
        {3600, 2.0, "За последний час потрачено 2% лимита"},
        {1260, 0.05, "За 21 минуту потрачено меньше 0,1% лимита"},
        {1320, 2.04, "За 22 минуты потрачено 2% лимита"},
        {1500, 2.25, "За 25 минут потрачено 2,3% лимита"},
        {2700, 0, "За 45 минут остаток не изменился"},
        {2640, 0.1, "За 44 минуты потрачено 0,1% лимита"},
        {2460, 0.96, "За 41 минуту потрачено 1% лимита"},
        {1410, 10, "За 24 минуты потрачено 10% лимита"},
        {1830, 3, "За 31 минуту потрачено 3% лимита"},
        {1470, 3, "За 25 минут потрачено 3% лимита"},
        {3000, 3, "За 50 минут потрачено 3% лимита"},
        {3540, 12.25, "За 59 минут потрачено 12,3% лимита"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        // One usable pair ending at now gives exactly this observation.
        const auto a = analytics({joined(-c.seconds, 0), joined(0, c.used)}, 0);
        const auto insight = RecentUsageInsight::make(a);
        if (!c.text) {
            EXPECT_FALSE(insight);
            continue;
        }
        ASSERT_TRUE(insight);
        EXPECT_EQ(insight->text, c.text);
    }
}

TEST(UsageAnalyticsTest, RussianPluralOfMinutes) {
    // 11 to 14 take the genitive plural whatever their last digit.
    struct Case {
        double minutes;
        const char* noun;
    };
    const Case cases[] = {{21, "минуту"}, {22, "минуты"}, {23, "минуты"}, {24, "минуты"},
                          {25, "минут"},  {30, "минут"},  {51, "минуту"}, {15, "минут"},
                          {20, "минут"},  {52, "минуты"}, {57, "минут"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minutes);
        const auto insight =
            RecentUsageInsight::make(analytics({joined(-c.minutes * 60, 0), joined(0, 0)}, 0));
        ASSERT_TRUE(insight);
        EXPECT_EQ(insight->text, "За " + std::to_string(static_cast<int>(c.minutes)) + " " +
                                     c.noun + " остаток не изменился");
    }
}

}  // namespace
}  // namespace kestrane::history
