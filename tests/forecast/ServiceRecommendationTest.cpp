#include "forecast/ServiceRecommendation.h"

#include <gtest/gtest.h>

#include "history/HistoryTestSupport.h"

namespace kestrane::forecast {
namespace {

using model::ProviderKind;
using Basis = ServiceRecommendation::Basis;

constexpr platform::Date kNow = history::test::kNoon;
constexpr double kHour = 3600;

// A fresh provider with `remaining` left in its badge window, resetting `hours` from now.
ServiceOutlook fresh(ProviderKind kind, double remaining, std::optional<double> hours = 5) {
    ServiceOutlook outlook;
    outlook.provider = kind;
    outlook.isFresh = true;
    outlook.remaining = remaining;
    outlook.leastRemaining = remaining;
    if (hours) outlook.resetsAt = kNow + *hours * kHour;
    return outlook;
}

ServiceOutlook withForecast(ServiceOutlook outlook, double atReset, bool runsOut = false) {
    outlook.remainingAtReset = atReset;
    outlook.runsOutBeforeReset = runsOut;
    return outlook;
}

ServiceOutlook stale(ServiceOutlook outlook) {
    outlook.isFresh = false;
    return outlook;
}

TEST(ServiceRecommendationTest, NamesTheServiceToUseOnlyWhenThereIsAChoice) {
    const ProviderKind codex = ProviderKind::codex;
    const ProviderKind cursor = ProviderKind::cursor;
    const ProviderKind claude = ProviderKind::claude;
    const ProviderKind kimi = ProviderKind::kimi;
    struct Case {
        const char* situation;
        std::vector<ServiceOutlook> outlooks;
        std::optional<ProviderKind> expected;
        Basis basis = Basis::forecast;
        std::vector<ProviderKind> shortProviders = {};
        std::string text = {};
    };
    const Case cases[] = {
        {"one provider only", {withForecast(fresh(claude, 30), 0, true)}, std::nullopt},
        {"all fine",
         {withForecast(fresh(codex, 80), 50), withForecast(fresh(claude, 60), 30)},
         std::nullopt},
        {"all short",
         {withForecast(fresh(codex, 30), 0, true), withForecast(fresh(claude, 20), 0, true)},
         std::nullopt},
        {"one short, the other fine by forecast",
         {withForecast(fresh(codex, 70), 60), withForecast(fresh(claude, 40), 0, true)},
         codex,
         Basis::forecast,
         {claude},
         "Сейчас лучше Codex: к сбросу останется около 60%, а у Claude лимит может "
         "закончиться до сброса."},
        {"the most left at the reset wins, not the most left now",
         {withForecast(fresh(codex, 90), 10), withForecast(fresh(cursor, 50), 35),
          withForecast(fresh(claude, 40), 0, true)},
         cursor,
         Basis::forecast,
         {claude}},
        {"a fine provider without forecast: all fine ones compared by pace",
         // Codex: 80 % over 10 h = 8 %/h; Cursor: 30 % over 2 h = 15 %/h.
         {withForecast(fresh(codex, 80, 10), 70), fresh(cursor, 30, 2),
          withForecast(fresh(claude, 40), 0, true)},
         cursor,
         Basis::pace,
         {claude},
         "Сейчас лучше Cursor: осталось 30%, сброс через 2 ч. 0 мин., а у Claude лимит может "
         "закончиться до сброса."},
        {"nearly spent counts as short without a forecast",
         {fresh(codex, 60), fresh(claude, 3)},
         codex,
         Basis::pace,
         {claude}},
        {"a nearly spent other window makes the provider short",
         {fresh(codex, 60),
          [&] {
              ServiceOutlook outlook = fresh(claude, 90);
              outlook.leastRemaining = 4;
              return outlook;
          }()},
         codex,
         Basis::pace,
         {claude}},
        {"a stale provider is never named, even with the most left",
         {stale(withForecast(fresh(codex, 100), 100)), withForecast(fresh(cursor, 50), 20),
          withForecast(fresh(claude, 30), 0, true)},
         cursor,
         Basis::forecast,
         {claude}},
        {"a stale short provider does not make the line appear",
         {withForecast(fresh(codex, 80), 50), stale(withForecast(fresh(claude, 10), 0, true))},
         std::nullopt},
        {"without a reset time a provider ranks after those with a pace",
         {fresh(codex, 95, std::nullopt), fresh(cursor, 10, 10), fresh(claude, 2)},
         cursor,
         Basis::pace,
         {claude}},
        {"ties go to the earlier provider",
         {withForecast(fresh(codex, 50), 40), withForecast(fresh(cursor, 70), 40),
          withForecast(fresh(claude, 30), 0, true)},
         codex,
         Basis::forecast,
         {claude}},
        {"two short providers are named together",
         {withForecast(fresh(codex, 50), 40), withForecast(fresh(claude, 30), 0, true),
          withForecast(fresh(kimi, 20), 0, true)},
         codex,
         Basis::forecast,
         {claude, kimi},
         "Сейчас лучше Codex: к сбросу останется около 40%, а у Claude и Kimi лимиты могут "
         "закончиться до сброса."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        const auto recommendation = recommendService(c.outlooks, kNow);
        ASSERT_EQ(recommendation.has_value(), c.expected.has_value());
        if (!recommendation) continue;
        EXPECT_EQ(recommendation->provider, *c.expected);
        EXPECT_EQ(recommendation->basis, c.basis);
        EXPECT_EQ(recommendation->shortProviders, c.shortProviders);
        if (!c.text.empty()) {
            EXPECT_EQ(recommendation->text, c.text);
        }
    }
}

TEST(ServiceRecommendationTest, OutlookOfAFailedOrUnrecordedProviderIsNotFresh) {
    const platform::Calendar calendar("Europe/Moscow");
    const model::ProviderUsage usage =
        history::test::usage(kNow, {history::test::window("five_hour", 30, kNow + 2 * kHour),
                                    history::test::window("seven_day", 97, kNow + 50 * kHour)});
    history::UsageSeries series;
    series.provider = ProviderKind::claude;
    series.windowID = "five_hour";
    series.resetsAt = kNow + 2 * kHour;
    series.samples = {{kNow - 60, 30, true, std::nullopt}};
    const std::map<std::string, history::UsageSeries> stored{{"five_hour", series}};

    const ServiceOutlook ok =
        ServiceOutlook::make(ProviderKind::claude, usage, false, stored, {}, kNow, calendar);
    EXPECT_TRUE(ok.isFresh);
    EXPECT_EQ(ok.remaining, 70);
    EXPECT_EQ(ok.resetsAt, kNow + 2 * kHour);
    EXPECT_EQ(ok.leastRemaining, 3);  // the weekly window
    EXPECT_FALSE(ok.remainingAtReset);

    EXPECT_FALSE(ServiceOutlook::make(ProviderKind::claude, usage, true, stored, {}, kNow, calendar)
                     .isFresh);
    EXPECT_FALSE(
        ServiceOutlook::make(ProviderKind::claude, usage, false, {}, {}, kNow, calendar).isFresh);
    EXPECT_FALSE(ServiceOutlook::make(ProviderKind::claude, usage, false, stored, {},
                                      kNow + 20 * 60, calendar)
                     .isFresh);
    EXPECT_FALSE(
        ServiceOutlook::make(ProviderKind::claude, std::nullopt, false, stored, {}, kNow, calendar)
            .isFresh);
}

}  // namespace
}  // namespace kestrane::forecast
