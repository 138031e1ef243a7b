#include "app/status/StatusReport.h"

#include <gtest/gtest.h>

#include "model/ProviderUsage.h"
#include "platform/Json.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;

ProviderStatus shown(ProviderKind kind, double remaining) {
    return ProviderStatus{.provider = kind,
                          .enabled = true,
                          .text = std::to_string(model::roundedPercent(remaining)) + "%",
                          .windowID = "w",
                          .windowTitle = "Сессия - 5 часов",
                          .remainingPercent = remaining};
}

TEST(StatusReportTest, TextIsOneShortLineInTheOrderGiven) {
    const std::vector<ProviderStatus> providers{
        shown(ProviderKind::claude, 59), shown(ProviderKind::codex, 88),
        shown(ProviderKind::cursor, 10),
        ProviderStatus{.provider = ProviderKind::kimi, .enabled = true, .text = "!"}};
    EXPECT_EQ(StatusReport::text(providers), "Cl 59% · Cx 88% · Cu 10% · Ki !\n");
    EXPECT_EQ(StatusReport::text({shown(ProviderKind::copilot, 62), shown(ProviderKind::gemini, 40),
                                  shown(ProviderKind::antigravity, 7)}),
              "Gh 62% · Gm 40% · Ag 7%\n");
    EXPECT_EQ(StatusReport::text({shown(ProviderKind::zai, 62), shown(ProviderKind::minimax, 40),
                                  shown(ProviderKind::openrouter, 7)}),
              "Za 62% · Mm 40% · Or 7%\n");
}

TEST(StatusReportTest, SelectsTheEnabledProvidersOrThoseNamed) {
    StatusSnapshot snapshot;
    for (const ProviderKind kind : model::allProviderKinds) {
        snapshot.providers.push_back(ProviderStatus{
            .provider = kind, .enabled = kind != ProviderKind::cursor, .text = "--"});
    }
    auto kinds = [](const std::vector<ProviderStatus>& list) {
        std::vector<ProviderKind> result;
        for (const auto& status : list) result.push_back(status.provider);
        return result;
    };
    EXPECT_EQ(kinds(StatusReport::select(snapshot, {})),
              (std::vector{ProviderKind::codex, ProviderKind::claude, ProviderKind::kimi,
                           ProviderKind::antigravity, ProviderKind::copilot, ProviderKind::gemini,
                           ProviderKind::zai, ProviderKind::minimax, ProviderKind::openrouter}));
    // Named ones are shown even when switched off, in the order named.
    EXPECT_EQ(kinds(StatusReport::select(snapshot, {ProviderKind::cursor, ProviderKind::codex})),
              (std::vector{ProviderKind::cursor, ProviderKind::codex}));
}

TEST(StatusReportTest, WaybarClassFollowsTheLowestRemainingShare) {
    struct Case {
        std::vector<double> remaining;
        const char* expectedClass;
        int percentage;
    };
    const Case cases[] = {
        {{50}, "ok", 50},       {{15}, "warning", 15},
        {{3}, "critical", 3},   {{90, 3, 50}, "critical", 3},
        {{21}, "ok", 21},       {{20.4}, "warning", 20},
        {{5.4}, "critical", 5}, {{5.6}, "warning", 6},
        {{0}, "critical", 0},
    };
    const platform::Date now{1'765'000'000};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.remaining));
        std::vector<ProviderStatus> providers;
        for (const double remaining : c.remaining) {
            providers.push_back(shown(ProviderKind::claude, remaining));
        }
        const auto module = platform::parseJson(StatusReport::waybar(providers, now));
        EXPECT_EQ(module.at("class"), c.expectedClass);
        EXPECT_EQ(module.at("percentage"), c.percentage);
        EXPECT_TRUE(module.at("text").is_string());
        EXPECT_TRUE(module.at("tooltip").is_string());
    }
}

TEST(StatusReportTest, WaybarWithoutAnyPercentageSaysUnknownAndShowsTheErrors) {
    const std::vector<ProviderStatus> providers{
        ProviderStatus{.provider = ProviderKind::claude,
                       .enabled = true,
                       .text = "!",
                       .error = "Сессия Claude истекла. Выполните `claude login`."}};
    const auto module = platform::parseJson(StatusReport::waybar(providers, {}));
    EXPECT_EQ(module.at("class"), "unknown");
    EXPECT_FALSE(module.contains("percentage"));
    EXPECT_EQ(module.at("text"), "Cl !");
    EXPECT_EQ(module.at("tooltip"), "Claude: Сессия Claude истекла. Выполните `claude login`.");
}

TEST(StatusReportTest, JsonCarriesPaceAndTrackRecordOfTheWindow) {
    StatusSnapshot snapshot;
    ProviderStatus claude = shown(ProviderKind::claude, 41);
    claude.pace = StatusPace{59, 47, 12, "Темп: быстрее равномерного на 12\u00a0п.п."};
    claude.trackRecord = StatusTrackRecord{9, 3, 27, 0.84, 6.1, 0.9, "Прогноз"};
    ProviderStatus codex = shown(ProviderKind::codex, 80);
    codex.trackRecord = StatusTrackRecord{1,
                                          3,
                                          std::nullopt,
                                          std::nullopt,
                                          std::nullopt,
                                          std::nullopt,
                                          "Для оценки прогноза пока мало истории"};
    const auto document = platform::parseJson(StatusReport::json(snapshot, {claude, codex}));
    const auto& first = document.at("providers").at(0).at("window");
    EXPECT_EQ(first.at("pace").at("differencePoints"), 12);
    EXPECT_EQ(first.at("pace").at("text"), "Темп: быстрее равномерного на 12\u00a0п.п.");
    EXPECT_EQ(first.at("trackRecord").at("cycles"), 9);
    EXPECT_EQ(first.at("trackRecord").at("rangeHitShare"), 0.84);
    EXPECT_EQ(first.at("trackRecord").at("medianErrorPoints"), 6.1);
    EXPECT_EQ(first.at("trackRecord").at("verdictHitShare"), 0.9);
    const auto& second = document.at("providers").at(1).at("window");
    EXPECT_TRUE(second.at("pace").is_null());
    // Too little history: the counts and the line, never a figure.
    EXPECT_EQ(second.at("trackRecord").at("cycles"), 1);
    EXPECT_EQ(second.at("trackRecord").at("minimumCycles"), 3);
    EXPECT_TRUE(second.at("trackRecord").at("rangeHitShare").is_null());
    EXPECT_TRUE(second.at("trackRecord").at("medianErrorPoints").is_null());
}

TEST(StatusReportTest, WaybarTooltipNamesWindowResetAndForecast) {
    ProviderStatus claude = shown(ProviderKind::claude, 41);
    claude.resetsAt = platform::Date{1'765'000'000 + 2 * 3600 + 5 * 60};
    claude.forecast = StatusForecast{.tone = "spare", .verdict = "Лимита должно хватить"};
    const auto module =
        platform::parseJson(StatusReport::waybar({claude}, platform::Date{1'765'000'000}));
    EXPECT_EQ(module.at("tooltip"),
              "Claude: осталось 41% (Сессия - 5 часов), сброс через 2 ч. 5 мин.\n"
              "  Лимита должно хватить");
}

}  // namespace
}  // namespace kestrane::app
