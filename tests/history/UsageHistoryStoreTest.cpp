#include "history/UsageHistoryStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "history/HistoryTestSupport.h"

namespace kestrane::history {
namespace {

using model::ProviderKind;
using platform::Calendar;
using platform::Date;
using test::kNoon;
using test::recordNow;
using test::usage;
using test::window;
using Kind = UsageTransition::Kind;

UsageHistoryStore memoryStore(const char* zone = "UTC") {
    return UsageHistoryStore(std::nullopt, kNoon, Calendar(zone));
}

const UsageSeries& onlySeries(const UsageHistoryStore& store, const std::string& key) {
    const auto found = store.archive().series.find(key);
    if (found == store.archive().series.end()) throw std::runtime_error("no series " + key);
    return found->second;
}

TEST(UsageHistoryStoreTest, AccountDigestNormalisesTheEmailButNotThePlan) {
    const auto digest = [](std::optional<std::string> email, std::optional<std::string> plan) {
        return UsageHistoryStore::accountDigest(
            usage(kNoon, {}, ProviderKind::claude, std::move(email), std::move(plan)));
    };
    EXPECT_EQ(digest(std::nullopt, std::nullopt),
              "ca7e388793970e7334de420f63a297d6e25fac62598a2eb52c579acd4d3be59d");
    EXPECT_EQ(digest("user@example.com", "Pro"),
              "21b275d928829c2d306bac04a2d5defb8432376b5bbf68d0cd2b3380ea180cf7");
    EXPECT_EQ(digest(" \tUser@Example.COM\n", "Pro"), digest("user@example.com", "Pro"));
    // An empty e-mail is an e-mail, not an anonymous account.
    EXPECT_EQ(digest("", "Pro"),
              "fdc8aa3337d1dacd7ac5f1986955614a754fbf4134d7ecef8ed3e975cbd61cb4");
    EXPECT_NE(digest("user@example.com", "pro"), digest("user@example.com", "Pro"));
    EXPECT_NE(digest("user@example.com", " Pro"), digest("user@example.com", "Pro"));
}

TEST(UsageHistoryStoreTest, SameResetAllowsSixtySecondsOfJitter) {
    const Date r = kNoon;
    EXPECT_TRUE(UsageHistoryStore::sameReset(std::nullopt, std::nullopt));
    EXPECT_FALSE(UsageHistoryStore::sameReset(r, std::nullopt));
    EXPECT_FALSE(UsageHistoryStore::sameReset(std::nullopt, r));
    EXPECT_TRUE(UsageHistoryStore::sameReset(r, r + 60));
    EXPECT_TRUE(UsageHistoryStore::sameReset(r + 60, r));
    EXPECT_FALSE(UsageHistoryStore::sameReset(r, r + 60.001));
}

// Two observations of one window; the second one's transition is what the store decided.
TEST(UsageHistoryStoreTest, TransitionsBetweenTwoObservations) {
    struct Case {
        const char* name;
        double used0;
        std::optional<double> reset0;  // seconds after kNoon
        double used1;
        std::optional<double> reset1;
        double gap;
        std::optional<UsageTransition> expected;  // date as seconds after kNoon
    };
    const auto at = [](double seconds, Kind kind, bool estimated) {
        return UsageTransition{kNoon + seconds, kind, estimated};
    };
    const Case cases[] = {
        {"known reset passed, values irrelevant", 40, 100, 50, 18'000, 200,
         at(100, Kind::reset, false)},
        {"known reset exactly at the observation", 40, 200, 10, 18'000, 200,
         at(200, Kind::reset, false)},
        {"usage fell and the reset moved", 40, 3600, 10, 3600 + 18'000, 300,
         at(300, Kind::reset, true)},
        {"usage fell, reset unchanged", 40, 3600, 35, 3630, 300, at(300, Kind::correction, true)},
        {"usage fell, no reset known", 40, std::nullopt, 35, std::nullopt, 300,
         at(300, Kind::reset, true)},
        {"usage fell and a reset appeared", 40, std::nullopt, 35, 3600, 300,
         at(300, Kind::reset, true)},
        {"zero stays zero while the reset moved", 0, 3600, 0, 7200, 300, std::nullopt},
        {"unchanged non-zero while the reset moved", 5, 3600, 5, 7200, 300,
         at(300, Kind::periodChange, true)},
        {"reset disappeared", 5, 3600, 6, std::nullopt, 300, at(300, Kind::periodChange, true)},
        {"growth, reset within jitter", 5, 3600, 9, 3660, 300, std::nullopt},
        {"growth, reset beyond jitter", 5, 3600, 9, 3661, 300, at(300, Kind::periodChange, true)},
        {"no reset at all, growth", 5, std::nullopt, 9, std::nullopt, 300, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = memoryStore();
        const auto date = [](std::optional<double> s) -> std::optional<Date> {
            if (!s) return std::nullopt;
            return kNoon + *s;
        };
        recordNow(store, usage(kNoon, {window("claude-session", c.used0, date(c.reset0))}));
        recordNow(store, usage(kNoon + c.gap, {window("claude-session", c.used1, date(c.reset1))}));
        const auto& samples = onlySeries(store, "Claude|claude-session").samples;
        ASSERT_EQ(samples.size(), 2u);
        EXPECT_EQ(samples[1].transition, c.expected);
        EXPECT_EQ(samples[1].startsSegment, c.expected.has_value());
        EXPECT_EQ(onlySeries(store, "Claude|claude-session").resetsAt, date(c.reset1));
    }
}

TEST(UsageHistoryStoreTest, RapidObservationsReplaceTheMiddleSampleOnly) {
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> observations;  // seconds after kNoon, used
        std::vector<std::pair<double, bool>> expected;        // seconds, startsSegment
    };
    const Case cases[] = {
        {"30 s after a sample 10 min after its predecessor",
         {{0, 10}, {600, 11}, {630, 12}},
         {{0, true}, {630, false}}},
        {"previous gap of 20 min starts a segment and is kept",
         {{0, 10}, {1200, 11}, {1230, 12}},
         {{0, true}, {1200, true}, {1230, false}}},
        {"59 s apart but the pair spans more than 15 min",
         {{0, 10}, {860, 11}, {919, 12}},
         {{0, true}, {860, false}, {919, false}}},
        {"exactly 60 s is not rapid",
         {{0, 10}, {600, 11}, {660, 12}},
         {{0, true}, {600, false}, {660, false}}},
        {"a burst keeps collapsing into one newest sample",
         {{0, 10}, {300, 11}, {330, 12}, {360, 13}, {390, 14}},
         {{0, true}, {390, false}}},
        {"a sample with a transition is never merged away",
         {{0, 10}, {300, 5}, {330, 6}},
         {{0, true}, {300, true}, {330, false}}},
        {"gap of exactly 900 s joins, 901 s starts a segment",
         {{0, 10}, {900, 10}, {1801, 10}},
         {{0, true}, {900, false}, {1801, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = memoryStore();
        for (const auto& [seconds, used] : c.observations) {
            recordNow(store, usage(kNoon + seconds, {window("claude-session", used)}));
        }
        const auto& samples = onlySeries(store, "Claude|claude-session").samples;
        ASSERT_EQ(samples.size(), c.expected.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i].date, kNoon + c.expected[i].first) << i;
            EXPECT_EQ(samples[i].startsSegment, c.expected[i].second) << i;
        }
    }
}

TEST(UsageHistoryStoreTest, IgnoresStaleSnapshotsAndInvalidWindows) {
    auto store = memoryStore();
    recordNow(store, usage(kNoon, {window("claude-session", 10), window("claude-week", 20)}));
    const auto before = store.archive();

    // Not newer than what this provider already has: nothing changes.
    recordNow(store, usage(kNoon, {window("claude-session", 50)}));
    recordNow(store, usage(kNoon - 10, {window("claude-other", 50)}));
    recordNow(store, usage(Date{std::numeric_limits<double>::quiet_NaN()}, {window("x", 1)}));
    recordNow(store, usage(Date{std::numeric_limits<double>::infinity()}, {window("x", 1)}));
    EXPECT_EQ(store.archive(), before);

    // Another provider has its own clock.
    recordNow(store, usage(kNoon, {window("codex-session", 1)}, ProviderKind::codex));
    EXPECT_EQ(store.archive().series.count("Codex|codex-session"), 1u);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    recordNow(store, usage(kNoon + 300, {
                                            window("claude-session", -0.0),
                                            window("claude-week", 100.0001),
                                            window("claude-nan", nan),
                                            window("claude-negative", -1),
                                            window("claude-past-reset", 5, kNoon + 300),
                                            window("claude-nan-reset", 5, Date{nan}),
                                            window("claude-full", 100, kNoon + 301),
                                        }));
    const auto& series = store.archive().series;
    EXPECT_EQ(series.at("Claude|claude-session").samples.size(), 2u);
    EXPECT_EQ(series.at("Claude|claude-week").samples.size(), 1u);
    EXPECT_FALSE(series.contains("Claude|claude-nan"));
    EXPECT_FALSE(series.contains("Claude|claude-negative"));
    EXPECT_FALSE(series.contains("Claude|claude-past-reset"));
    EXPECT_FALSE(series.contains("Claude|claude-nan-reset"));
    EXPECT_EQ(series.at("Claude|claude-full").samples.size(), 1u);
}

TEST(UsageHistoryStoreTest, SwitchingAccountsDiscardsOnlyThatProvidersHistory) {
    auto store = memoryStore();
    recordNow(store, usage(kNoon, {window("claude-session", 10)}));
    recordNow(store, usage(kNoon + 120, {window("claude-session", 11)}));
    recordNow(store, usage(kNoon, {window("codex-session", 10)}, ProviderKind::codex));
    recordNow(store, usage(kNoon + 120, {window("codex-session", 11)}, ProviderKind::codex));
    ASSERT_TRUE(store.archive().rhythms.contains("Claude|claude-session"));

    // The same account written differently is the same account.
    recordNow(store, usage(kNoon + 240, {window("claude-session", 12)}, ProviderKind::claude,
                           "  USER@example.com "));
    EXPECT_EQ(onlySeries(store, "Claude|claude-session").samples.size(), 3u);

    recordNow(store, usage(kNoon + 360, {window("claude-week", 1)}, ProviderKind::claude,
                           "user@example.com", "Max"));
    EXPECT_FALSE(store.archive().series.contains("Claude|claude-session"));
    EXPECT_FALSE(store.archive().rhythms.contains("Claude|claude-session"));
    EXPECT_TRUE(store.archive().series.contains("Claude|claude-week"));
    EXPECT_TRUE(store.archive().series.contains("Codex|codex-session"));
    EXPECT_TRUE(store.archive().rhythms.contains("Codex|codex-session"));
}

TEST(UsageHistoryStoreTest, ChangedWindowLengthRestartsSeriesAndRhythm) {
    auto store = memoryStore();
    recordNow(store, usage(kNoon, {window("claude-session", 10, std::nullopt, 300)}));
    recordNow(store, usage(kNoon + 300, {window("claude-session", 12, std::nullopt, 300)}));
    ASSERT_FALSE(store.archive().rhythms.at("Claude|claude-session").hours.empty());

    recordNow(store,
              usage(kNoon + 600, {window("claude-session", 14, std::nullopt, std::nullopt)}));
    const auto& series = onlySeries(store, "Claude|claude-session");
    ASSERT_EQ(series.samples.size(), 1u);
    EXPECT_TRUE(series.samples[0].startsSegment);
    EXPECT_FALSE(series.samples[0].transition);
    EXPECT_EQ(series.durationMinutes, std::nullopt);
    const auto& rhythm = store.archive().rhythms.at("Claude|claude-session");
    EXPECT_TRUE(rhythm.hours.empty());
    EXPECT_EQ(rhythm.durationMinutes, std::nullopt);
}

TEST(UsageHistoryStoreTest, RecordLearnsTheRhythmAcrossAnHourBoundary) {
    auto store = memoryStore("Europe/Moscow");  // UTC+3: from 11:55 to 12:05 local
    const Date start = kNoon - 3 * 3600 - 5 * 60;
    recordNow(store, usage(start, {window("claude-session", 10)}));
    recordNow(store, usage(start + 600, {window("claude-session", 12)}));
    const auto& rhythm = store.archive().rhythms.at("Claude|claude-session");
    EXPECT_EQ(rhythm.timeZoneIdentifier, "Europe/Moscow");
    ASSERT_EQ(rhythm.hours.size(), 2u);
    EXPECT_EQ(rhythm.hours[0], (RhythmHour{kNoon - 4 * 3600, 1, 300}));
    EXPECT_EQ(rhythm.hours[1], (RhythmHour{kNoon - 3 * 3600, 1, 300}));

    // A transition is never learned, and the rhythm is stored for every recorded window.
    recordNow(store, usage(start + 900, {window("claude-session", 1)}));
    recordNow(store, usage(start + 900, {window("claude-week", 1)}, ProviderKind::codex));
    EXPECT_EQ(store.archive().rhythms.at("Claude|claude-session").hours.size(), 2u);
    EXPECT_TRUE(store.archive().rhythms.at("Codex|claude-week").hours.empty());
}

TEST(UsageHistoryStoreTest, RhythmOfAnotherTimeZoneIsReplaced) {
    auto store = memoryStore("Europe/Moscow");
    recordNow(store, usage(kNoon, {window("claude-session", 10)}));
    recordNow(store, usage(kNoon + 300, {window("claude-session", 12)}));
    EXPECT_TRUE(store.rhythm(ProviderKind::claude, window("claude-session", 0)));

    store.setCalendar(Calendar("Asia/Kolkata"));
    EXPECT_FALSE(store.rhythm(ProviderKind::claude, window("claude-session", 0)));
    recordNow(store, usage(kNoon + 600, {window("claude-session", 13)}));
    const auto rhythm = store.rhythm(ProviderKind::claude, window("claude-session", 0));
    ASSERT_TRUE(rhythm);
    EXPECT_EQ(rhythm->timeZoneIdentifier, "Asia/Kolkata");
    // Kolkata hours start at half past in UTC; the 300 s piece lies in one of them.
    ASSERT_EQ(rhythm->hours.size(), 1u);
    EXPECT_EQ(rhythm->hours[0], (RhythmHour{kNoon - 1800, 1, 300}));
    EXPECT_FALSE(store.rhythm(ProviderKind::claude, window("claude-session", 0, std::nullopt, 60)));
}

TEST(UsageHistoryStoreTest, ThinningKeepsFirstSampleNewerHalfAndEveryTransition) {
    std::vector<UsageSample> samples;
    for (int i = 0; i < 12'001; ++i) {
        samples.push_back(UsageSample{kNoon + i * 120.0, 0.001 * i, i == 0, std::nullopt});
    }
    const auto mark = [&](std::size_t i) {
        samples[i].transition = UsageTransition{samples[i].date, Kind::reset, true};
        samples[i].startsSegment = true;
    };
    mark(101);   // odd: kept for itself, its odd predecessor 99 is dropped, 100 kept anyway
    mark(3000);  // even, predecessor 2999 is odd and must be kept too
    mark(5999);  // h - 1
    mark(6000);  // h: newer half
    samples[203].startsSegment = true;  // dropped; its gap moves to sample 204
    samples[5001].startsSegment = true;
    samples[5002].transition = UsageTransition{samples[5002].date, Kind::correction, true};

    const auto thinned = UsageHistoryStore::thinned(samples);
    const std::size_t half = 6000;
    ASSERT_GT(thinned.size(), 9000u);
    ASSERT_LT(thinned.size(), 9100u);
    EXPECT_EQ(thinned.front(), samples.front());
    // The whole newer half, unchanged and in order.
    const std::vector<UsageSample> newer(samples.begin() + half, samples.end());
    const std::vector<UsageSample> tail(thinned.end() - static_cast<std::ptrdiff_t>(newer.size()),
                                        thinned.end());
    EXPECT_EQ(tail, newer);
    // Every transition and its predecessor survive.
    const auto contains = [&](std::size_t i) {
        return std::find_if(thinned.begin(), thinned.end(), [&](const UsageSample& s) {
                   return s.date == samples[i].date;
               }) != thinned.end();
    };
    for (const std::size_t i : {100u, 101u, 2999u, 3000u, 5998u, 5999u, 5001u, 5002u}) {
        EXPECT_TRUE(contains(i)) << i;
    }
    EXPECT_FALSE(contains(99));
    EXPECT_FALSE(contains(203));
    const auto at = [&](std::size_t i) {
        return *std::find_if(thinned.begin(), thinned.end(),
                             [&](const UsageSample& s) { return s.date == samples[i].date; });
    };
    EXPECT_TRUE(at(204).startsSegment);
    EXPECT_FALSE(at(202).startsSegment);
    EXPECT_TRUE(at(5001).startsSegment);
    for (std::size_t i = 1; i < thinned.size(); ++i) {
        ASSERT_LT(thinned[i - 1].date, thinned[i].date);
    }
    // At the cap nothing happens.
    samples.pop_back();
    EXPECT_EQ(UsageHistoryStore::thinned(samples), samples);
}

TEST(UsageHistoryStoreTest, PruneAndTrimAroundTheCutOffs) {
    constexpr double day = 86'400;
    struct Case {
        const char* name;
        std::vector<double> ages;  // days before now, oldest first
        std::vector<double> kept;  // empty = series removed
    };
    const Case cases[] = {
        {"last sample 8 days old", {9, 8}, {}},
        {"last sample just over 7 days old", {8, 7 + 1 / day}, {}},
        {"last sample exactly 7 days old", {8, 7}, {8, 7}},
        {"one sample older than the cut-off stays", {10, 3}, {10, 3}},
        {"only the newest of the old samples stays", {10, 9, 8, 3, 2}, {8, 3, 2}},
        {"sample exactly at the cut-off", {10, 9, 7, 3}, {9, 7, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Date now = kNoon + 30 * day;
        auto store = memoryStore();
        // Build the history through the store itself, one observation each.
        for (const double age : c.ages) recordNow(store, usage(now - age * day, {window("w", 1)}));
        store.pruneExpired(now);
        const auto found = store.archive().series.find("Claude|w");
        if (c.kept.empty()) {
            EXPECT_EQ(found, store.archive().series.end());
            continue;
        }
        ASSERT_NE(found, store.archive().series.end());
        std::vector<double> ages;
        for (const auto& s : found->second.samples) ages.push_back((now - s.date) / day);
        EXPECT_EQ(ages, c.kept);
    }
}

TEST(UsageHistoryStoreTest, PruneDropsRhythmHoursAfterNinetyDays) {
    constexpr double day = 86'400;
    auto store = memoryStore();
    // Learn one hour 95 days ago and one 85 days ago (both series expire, rhythms stay).
    for (const double age : {95.0, 85.0}) {
        const Date at = kNoon - age * day;
        recordNow(store, usage(at, {window(age > 90 ? "old" : "young", 1)}));
        recordNow(store, usage(at + 600, {window(age > 90 ? "old" : "young", 2)}));
    }
    store.pruneExpired(kNoon);
    EXPECT_TRUE(store.archive().series.empty());
    EXPECT_FALSE(store.archive().rhythms.contains("Claude|old"));
    ASSERT_TRUE(store.archive().rhythms.contains("Claude|young"));
    store.pruneExpired(kNoon + 5 * day + 3600);
    EXPECT_TRUE(store.archive().rhythms.empty());
}

TEST(UsageHistoryStoreTest, SeriesMustMatchTheWindowAndIsTrimmedOnACopy) {
    constexpr double day = 86'400;
    auto store = memoryStore();
    for (const double age : {10.0, 9.0, 3.0}) {
        recordNow(store, usage(kNoon - age * day, {window("w", 1, kNoon + 3600)}));
    }
    const auto w = window("w", 5, kNoon + 3630);
    // Asked with a later "now", the copy is trimmed; the stored series is not.
    const auto trimmed = store.series(ProviderKind::claude, w, kNoon + 3 * day);
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(trimmed->samples.size(), 2u);
    EXPECT_EQ(onlySeries(store, "Claude|w").samples.size(), 3u);

    EXPECT_FALSE(store.series(ProviderKind::codex, w, kNoon));
    EXPECT_FALSE(store.series(ProviderKind::claude, window("w", 5, kNoon + 3661), kNoon));
    EXPECT_FALSE(store.series(ProviderKind::claude, window("w", 5, std::nullopt), kNoon));
    EXPECT_FALSE(store.series(ProviderKind::claude, window("w", 5, kNoon + 3600, 60), kNoon));
    EXPECT_TRUE(store.series(ProviderKind::claude, w, kNoon + 4 * day));
    EXPECT_FALSE(store.series(ProviderKind::claude, w, kNoon + 4 * day + 1));
}

}  // namespace
}  // namespace kestrane::history
