#include "model/ProviderUsage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/FetchResult.h"
#include "model/QuotaError.h"

namespace kestrane::model {
namespace {

TEST(ProviderUsageTest, RoundedPercentTakesHalvesAwayFromZero) {
    struct Case {
        double value;
        long long rounded;
    };
    const Case cases[] = {{12.5, 13},  {12.49, 12},
                          {62.5, 63},  {-5, -5},
                          {-2.5, -3},  {100.4, 100},
                          {0.5, 1},    {0, 0},
                          {99.5, 100}, {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(roundedPercent(c.value), c.rounded);
    }
    EXPECT_GT(roundedPercent(std::numeric_limits<double>::infinity()), 0);
}

TEST(ProviderUsageTest, ProviderKindRawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(providerKindFromRawValue("Antigravity"), ProviderKind::antigravity);
    EXPECT_EQ(providerKindFromRawValue("antigravity"), std::nullopt);
    EXPECT_EQ(providerKindFromRawValue("Kimi Code"), std::nullopt);
    for (const ProviderKind kind : allProviderKinds) {
        EXPECT_EQ(providerKindFromRawValue(rawValue(kind)), kind);
    }
}

TEST(ProviderUsageTest, ProviderOrderAndNamesStayAsStored) {
    // Preferences and the history file keep these; new providers only ever come last.
    const std::vector<std::pair<std::string_view, std::string_view>> expected{
        {"Codex", "codex"},
        {"Cursor", "cursor"},
        {"Claude", "claude"},
        {"Kimi", "kimi"},
        {"Antigravity", "antigravity"},
        {"GitHub Copilot", "copilot"},
        {"Gemini CLI", "gemini"},
        {"z.ai", "zai"},
        {"MiniMax", "minimax"},
        {"OpenRouter", "openrouter"},
    };
    std::vector<std::pair<std::string_view, std::string_view>> names;
    for (const ProviderKind kind : allProviderKinds) {
        names.emplace_back(rawValue(kind), commandName(kind));
        EXPECT_EQ(providerKindFromCommandWord(commandName(kind)), kind);
        EXPECT_EQ(providerKindFromCommandWord(rawValue(kind)), kind);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(providerKindFromCommandWord("GEMINI"), ProviderKind::gemini);
    EXPECT_EQ(providerKindFromCommandWord("github copilot"), ProviderKind::copilot);
    EXPECT_EQ(providerKindFromCommandWord("github"), std::nullopt);
    EXPECT_EQ(providerKindFromCommandWord("Z.AI"), ProviderKind::zai);
    EXPECT_EQ(providerKindFromCommandWord(""), std::nullopt);
}

TEST(ProviderUsageTest, UsagesDifferingOnlyInUpdateTimeAreNotEqual) {
    ProviderUsage a{.provider = ProviderKind::claude,
                    .windows = {{.id = "claude-session", .name = "Сессия", .usedPercent = 1}},
                    .updatedAt = platform::Date{10}};
    ProviderUsage b = a;
    EXPECT_EQ(a, b);
    b.updatedAt = platform::Date{11};
    EXPECT_NE(a, b);
}

TEST(ProviderUsageTest, FailureTextIsTheErrorsMessageUnchanged) {
    const auto error = QuotaError::timeout("Codex не ответил вовремя.");
    EXPECT_EQ(error.kind(), QuotaError::Kind::timeout);
    const auto result = FetchResult::failure(ProviderKind::codex, error.what());
    EXPECT_FALSE(result.isSuccess());
    EXPECT_EQ(result.provider(), ProviderKind::codex);
    EXPECT_EQ(result.failureValue().message, "Codex не ответил вовремя.");
}

}  // namespace
}  // namespace kestrane::model
