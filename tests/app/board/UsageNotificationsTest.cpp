#include "app/board/UsageNotifications.h"

#include <gtest/gtest.h>

#include "app/board/NotificationStateFile.h"
#include "history/HistoryTestSupport.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

using Kind = UsageNotification::Kind;
using model::ProviderKind;

constexpr platform::Date kNow = history::test::kNoon;  // 15:00 in Moscow
constexpr double kHour = 3600;

// One fetch of Claude: its five-hour window at `used` percent, resetting at `reset`.
struct Fetch {
    double used;
    platform::Date reset = kNow + 2 * kHour;
    double at = 0;  // seconds after kNow
};

model::ProviderUsage claude(const Fetch& fetch) {
    model::LimitWindow window = history::test::window("five_hour", fetch.used, fetch.reset);
    window.name = "Сессия";
    return history::test::usage(kNow + fetch.at, {window});
}

class UsageNotificationsTest : public ::testing::Test {
  protected:
    // Runs the fetches in order and returns the kinds told at each step.
    std::vector<std::vector<Kind>> run(const std::vector<Fetch>& fetches,
                                       NotificationThresholds thresholds = {}) {
        std::vector<std::vector<Kind>> told;
        for (const Fetch& fetch : fetches) {
            std::vector<Kind> kinds;
            for (const UsageNotification& each : notificationsFor(
                     claude(fetch), std::nullopt, thresholds, kNow + fetch.at, calendar, state)) {
                kinds.push_back(each.kind);
            }
            told.push_back(kinds);
        }
        return told;
    }

    const platform::Calendar calendar{"Europe/Moscow"};
    NotifiedState state;
};

TEST_F(UsageNotificationsTest, TellsEachCrossingOnceAndTheRefillAfterTheReset) {
    const platform::Date nextReset = kNow + 7 * kHour;
    struct Case {
        const char* situation;
        std::vector<Fetch> fetches;
        std::vector<std::vector<Kind>> expected;
    };
    const Case cases[] = {
        {"70 -> 85 -> 97 -> reset to 0",
         {{70},
          {85, kNow + 2 * kHour, 300},
          {97, kNow + 2 * kHour, 600},
          {0, nextReset, 3 * kHour}},
         {{}, {Kind::low}, {Kind::critical}, {Kind::refilled}}},
        {"the first sight of a window is never told", {{97}, {98}}, {{}, {}}},
        {"staying below tells nothing more", {{70}, {85}, {86}, {88}}, {{}, {Kind::low}, {}, {}}},
        {"a fall past both thresholds at once is told as the critical one",
         {{50}, {99}},
         {{}, {Kind::critical}}},
        {"back above and below again is told again",
         {{70}, {85}, {75}, {85}},
         {{}, {Kind::low}, {}, {Kind::low}}},
        {"a rise without a reset is not a refill", {{70}, {85}, {75}}, {{}, {Kind::low}, {}}},
        {"the old reset time passing counts as a reset",
         {{70}, {85, kNow + kHour}, {10, kNow + kHour, 2 * kHour}},
         {{}, {Kind::low}, {Kind::refilled}}},
        {"a reset that leaves it low is not a refill",
         {{70}, {85}, {90, nextReset, 3 * kHour}},
         {{}, {Kind::low}, {}}},
        {"the badge's rounding decides: 19.6 % left reads 20 %",
         {{70}, {80.4}, {80.6}},
         {{}, {}, {Kind::low}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        state.clear();
        EXPECT_EQ(run(c.fetches), c.expected);
    }
}

TEST_F(UsageNotificationsTest, ThresholdsComeFromTheSettings) {
    EXPECT_EQ(run({{50}, {75}, {92}}, {30, 10}),
              (std::vector<std::vector<Kind>>{{}, {Kind::low}, {Kind::critical}}));
    // A critical threshold above the low one acts as the low one.
    state.clear();
    EXPECT_EQ(run({{50}, {85}, {95}}, {10, 20}),
              (std::vector<std::vector<Kind>>{{}, {}, {Kind::critical}}));
}

TEST_F(UsageNotificationsTest, TextsNameTheProviderTheWindowAndTheReset) {
    run({{70}});
    const auto low = notificationsFor(claude({85}), std::nullopt, {}, kNow, calendar, state);
    ASSERT_EQ(low.size(), 1u);
    EXPECT_EQ(low[0].title, "Claude: осталось меньше 20%");
    EXPECT_EQ(low[0].body, "Сессия - 5 часов: осталось 15%, сброс через 2 ч. 0 мин.");
    EXPECT_EQ(low[0].windowID, "five_hour");

    const auto critical = notificationsFor(claude({97}), std::nullopt, {}, kNow, calendar, state);
    ASSERT_EQ(critical.size(), 1u);
    EXPECT_EQ(critical[0].title, "Claude: осталось меньше 5%");
    EXPECT_EQ(critical[0].body, "Сессия - 5 часов: осталось 3%, сброс через 2 ч. 0 мин.");

    const auto refilled = notificationsFor(claude({0, kNow + 7 * kHour, 3 * kHour}), std::nullopt,
                                           {}, kNow + 3 * kHour, calendar, state);
    ASSERT_EQ(refilled.size(), 1u);
    EXPECT_EQ(refilled[0].title, "Claude: лимит снова доступен");
    EXPECT_EQ(refilled[0].body, "Сессия - 5 часов: осталось 100%, сброс через 4 ч. 0 мин.");
}

TEST_F(UsageNotificationsTest, ShortageIsToldWhenTheForecastTurnsToIt) {
    forecast::QuotaForecast fine;
    fine.medianRemaining = 20;
    fine.lowerRemaining = 10;
    fine.upperRemaining = 30;
    forecast::QuotaForecast shortage = fine;
    shortage.medianRemaining = 0;
    shortage.lowerRemaining = 0;
    shortage.medianDemand = 80;
    shortage.exhaustionFraction = 0.8;
    shortage.medianExhaustionDate = kNow + 1.5 * kHour;  // 16:30 in Moscow

    // With the verdict the board gives the forecast.
    const auto tell = [&](double used, const forecast::QuotaForecast& forecast) {
        const BadgeForecast badge{
            forecast, forecast::ForecastInsight::make(forecast, 100 - used, kNow, calendar)};
        return notificationsFor(claude({used}), badge, {}, kNow, calendar, state);
    };
    EXPECT_TRUE(tell(40, fine).empty());
    const auto told = tell(40, shortage);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, Kind::shortage);
    EXPECT_EQ(told[0].title, "Claude: лимит может закончиться до сброса, примерно в 16:30");
    EXPECT_EQ(told[0].body,
              "Сессия - 5 часов: осталось 60%, сброс через 2 ч. 0 мин. До сброса стоит сократить "
              "привычный расход примерно на 25%.");
    EXPECT_TRUE(tell(45, shortage).empty());
    // Fine again, then short again: told again.
    EXPECT_TRUE(tell(45, fine).empty());
    EXPECT_EQ(tell(45, shortage).size(), 1u);
    // A crossing told in the same call stands for the shortage.
    EXPECT_TRUE(tell(45, fine).empty());
    const auto crossing = tell(85, shortage);
    ASSERT_EQ(crossing.size(), 1u);
    EXPECT_EQ(crossing[0].kind, Kind::low);
    EXPECT_TRUE(tell(86, shortage).empty());
}

TEST_F(UsageNotificationsTest, ARestartRepeatsNothingThatWasAlreadyTrue) {
    testing::TempDirectory folder;
    const NotificationStateFile file(folder.path() / "Kestrane" / "notification-state-v1.json");
    run({{70}, {85}});
    ASSERT_TRUE(file.save(state));

    // The next launch: same state, then the next crossing.
    NotifiedState restarted = file.load();
    EXPECT_EQ(restarted, state);
    EXPECT_TRUE(
        notificationsFor(claude({85}), std::nullopt, {}, kNow, calendar, restarted).empty());
    EXPECT_EQ(notificationsFor(claude({97}), std::nullopt, {}, kNow, calendar, restarted).size(),
              1u);
}

TEST(NotificationStateFileTest, AnythingButAWholeDocumentReadsAsEmpty) {
    NotifiedState state;
    state["Claude/five_hour"] = {NotifiedWindowState::Level::critical,
                                 platform::Date{1'741'615'200.5}, true};
    state["Codex/primary"] = {NotifiedWindowState::Level::normal, std::nullopt, false};
    EXPECT_EQ(NotificationStateFile::decode(NotificationStateFile::encode(state)), state);

    for (const char* text : {"", "[]", "{}", "{\"version\":2,\"windows\":{}}",
                             "{\"version\":1,\"windows\":{\"a\":{\"level\":3}}}",
                             "{\"version\":1,\"windows\":{\"a\":{\"level\":\"1\"}}}",
                             "{\"version\":1,\"windows\":{\"a\":{\"level\":1,\"resetsAt\":\"x\"}}}",
                             "{\"version\":1,\"windows\":{\"a\":[]}}", "{\"version\":1"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(NotificationStateFile::decode(text).empty());
    }
}

TEST(NotificationStateFileTest, AMissingFileIsEmptyAndSavingCreatesTheFolder) {
    testing::TempDirectory folder;
    const NotificationStateFile file =
        NotificationStateFile::besideHistory(folder.path() / "data" / "usage-history-v1.json");
    EXPECT_EQ(file.path(), folder.path() / "data" / "notification-state-v1.json");
    EXPECT_TRUE(file.load().empty());
    NotifiedState state;
    state["Kimi/weekly"] = {NotifiedWindowState::Level::low, std::nullopt, false};
    ASSERT_TRUE(file.save(state));
    EXPECT_EQ(file.load(), state);
}

}  // namespace
}  // namespace kestrane::app
