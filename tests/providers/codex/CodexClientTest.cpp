#include "providers/codex/CodexClient.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "model/QuotaError.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::QuotaError;
using model::RecentModelContext;
using platform::Date;
using platform::Json;

constexpr Date kNow{1'765'000'000};

Json fixture(const std::string& name) {
    std::ifstream file(std::string(KESTRANE_FIXTURES) + "/codex/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return Json::parse(text.str());
}

// A limits answer with one bucket holding just `primary`.
Json limitsWithPrimary(Json primary) {
    return Json{{"rateLimits", {{"limitId", "codex"}, {"primary", std::move(primary)}}}};
}

void expectQuotaError(const std::function<void()>& action, const std::string& message) {
    try {
        action();
        FAIL() << "expected: " << message;
    } catch (const QuotaError& error) {
        EXPECT_EQ(error.kind(), QuotaError::Kind::invalidResponse);
        EXPECT_EQ(error.message(), message);
    }
}

TEST(CodexClientTest, UsageReadsTheByIdMapWithExtraBuckets) {
    const auto usage = CodexClient::usage(fixture("account_chatgpt.json"),
                                          fixture("rate_limits_by_id.json"), kNow);

    EXPECT_EQ(usage.provider, model::ProviderKind::codex);
    EXPECT_EQ(usage.email, "dev@example.com");
    EXPECT_EQ(usage.plan, "Pro");       // "prolite"
    EXPECT_EQ(usage.spendLimit, 12.5);  // the server sends the balance as a string
    EXPECT_EQ(usage.currency, "кредиты");
    EXPECT_EQ(usage.spendUsed, std::nullopt);
    EXPECT_EQ(usage.updatedAt, kNow);
    EXPECT_TRUE(usage.recentModels.empty());
    // The mirror bucket repeats the primary limit id and is left out; the one without a
    // name gets the generic one; a non-object entry is ignored.
    const std::vector<LimitWindow> expected = {
        {"Codex-primary-300", "Codex", 40, 300, Date{1'765'003'600}},
        {"Codex-secondary-10080", "Codex доп.", 10, 10080, Date{1'765'500'000}},
        {"GPT-X-primary-300", "GPT-X", 5, 300, Date{1'765'003'600}},
        {"Дополнительный лимит-primary-1440", "Дополнительный лимит", 70, 1440, std::nullopt},
    };
    EXPECT_EQ(usage.windows, expected);
}

TEST(CodexClientTest, UsageReadsSnakeCaseOnlyAnswers) {
    const auto usage = CodexClient::usage(fixture("account_signed_out.json"),
                                          fixture("rate_limits_snake_case.json"), kNow);

    EXPECT_EQ(usage.email, std::nullopt);
    EXPECT_EQ(usage.plan, "Plus");  // from the bucket when the account has none
    EXPECT_EQ(usage.spendLimit, std::nullopt);
    EXPECT_EQ(usage.currency, std::nullopt);
    // The bucket's own limit id ("legacy") does not rename the Codex windows.
    const std::vector<LimitWindow> expected = {
        {"Codex-primary-300", "Codex", 12.5, 300, Date{1'765'003'600}},
        {"Codex-secondary-10080", "Codex доп.", 3, 10080, Date{1'765'500'000}},
    };
    EXPECT_EQ(usage.windows, expected);
}

TEST(CodexClientTest, PrimaryBucketIsTheSmallestKeyWhenNothingNamesIt) {
    const Json limits = {{"rateLimitsByLimitId",
                          {{"zeta", {{"primary", {{"usedPercent", 1}}}}},
                           {"alpha", {{"limitName", "Альфа"}, {"primary", {{"usedPercent", 2}}}}},
                           {"aaa", nullptr}}}};
    const auto usage = CodexClient::usage(Json::object(), limits, kNow);
    ASSERT_EQ(usage.windows.size(), 2u);
    EXPECT_EQ(usage.windows[0].id, "Codex-primary-0");
    EXPECT_EQ(usage.windows[0].usedPercent, 2);
    EXPECT_EQ(usage.windows[1].id, "Дополнительный лимит-primary-0");
    EXPECT_EQ(usage.windows[1].usedPercent, 1);
}

TEST(CodexClientTest, UsageWithoutBucketsOrWindowsIsAnInvalidResponse) {
    expectQuotaError([] { CodexClient::usage(Json::object(), Json::object(), kNow); },
                     "Codex не вернул данные о лимитах.");
    expectQuotaError(
        [] {
            CodexClient::usage(Json::object(), Json{{"rateLimits", "codex"}}, kNow);
        },
        "Codex не вернул данные о лимитах.");
    expectQuotaError(
        [] {
            CodexClient::usage(Json::object(),
                               Json{{"rateLimits", {{"primary", {{"usedPercent", "full"}}}}}},
                               kNow);
        },
        "Codex не вернул доступные окна лимитов.");
}

TEST(CodexClientTest, WindowFieldsAreReadLeniently) {
    struct Case {
        const char* name;
        Json primary;
        std::optional<LimitWindow> expected;
    };
    const Case cases[] = {
        {"over 100 is clamped",
         {{"usedPercent", 120}, {"windowDurationMins", 300}},
         LimitWindow{"Codex-primary-300", "Codex", 100, 300, std::nullopt}},
        {"below 0 is clamped", {{"usedPercent", -5}}, LimitWindow{"Codex-primary-0", "Codex", 0}},
        {"decimal string",
         {{"usedPercent", "37.5"}},
         LimitWindow{"Codex-primary-0", "Codex", 37.5}},
        {"string with a leading space", {{"usedPercent", " 37.5"}}, std::nullopt},
        {"string with trailing text", {{"usedPercent", "37.5%"}}, std::nullopt},
        {"spelled-out infinity", {{"usedPercent", "inf"}}, std::nullopt},
        {"wrong type", {{"usedPercent", true}}, std::nullopt},
        {"camelCase of the wrong type falls back to snake_case",
         {{"usedPercent", nullptr}, {"used_percent", 8}},
         LimitWindow{"Codex-primary-0", "Codex", 8}},
        {"fractional duration is dropped",
         {{"usedPercent", 1}, {"windowDurationMins", 299.5}},
         LimitWindow{"Codex-primary-0", "Codex", 1}},
        {"duration beyond 64 bits is dropped",
         {{"usedPercent", 1}, {"windowDurationMins", 1e19}},
         LimitWindow{"Codex-primary-0", "Codex", 1}},
        {"duration as a string",
         {{"usedPercent", 1}, {"windowDurationMins", "1440"}},
         LimitWindow{"Codex-primary-1440", "Codex", 1, 1440}},
        {"reset as a fractional string",
         {{"usedPercent", 1}, {"resetsAt", "1765003600.5"}},
         LimitWindow{"Codex-primary-0", "Codex", 1, std::nullopt, Date{1'765'003'600.5}}},
        {"unreadable reset",
         {{"usedPercent", 1}, {"resetsAt", "soon"}},
         LimitWindow{"Codex-primary-0", "Codex", 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto windows = CodexClient::windows(Json{{"primary", c.primary}}, "Codex");
        if (c.expected) {
            ASSERT_EQ(windows.size(), 1u);
            EXPECT_EQ(windows[0], *c.expected);
        } else {
            EXPECT_TRUE(windows.empty());
        }
    }
}

TEST(CodexClientTest, CreditsBalanceNeedsAReadableNumber) {
    const Json primary = {{"usedPercent", 1}};
    const std::pair<Json, std::optional<double>> cases[] = {
        {Json{{"balance", 7}}, 7.0},
        {Json{{"balance", "0"}}, 0.0},
        {Json{{"balance", nullptr}, {"hasCredits", false}}, std::nullopt},
        {Json{{"balance", "lots"}}, std::nullopt},
        {Json{{"balance", "1e999"}}, std::nullopt},
    };
    for (const auto& [credits, balance] : cases) {
        SCOPED_TRACE(credits.dump());
        Json limits = limitsWithPrimary(primary);
        limits["rateLimits"]["credits"] = credits;
        const auto usage = CodexClient::usage(Json::object(), limits, kNow);
        EXPECT_EQ(usage.spendLimit, balance);
        EXPECT_EQ(usage.currency.has_value(), balance.has_value());
    }
}

TEST(CodexClientTest, DeduplicateKeepsTheFirstWindowOfEachId) {
    const auto windows =
        CodexClient::deduplicate({{"a", "first", 1}, {"b", "", 2}, {"a", "second", 3}});
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].name, "first");
    EXPECT_EQ(windows[1].id, "b");
}

TEST(CodexClientTest, PrettyPlanNamesKnownPlansAndCapitalisesOthers) {
    const std::pair<const char*, const char*> cases[] = {
        {"prolite", "Pro"},
        {"PRO", "Pro"},
        {"plus", "Plus"},
        {"team", "Team"},
        {"enterprise", "Enterprise"},
        {"edu plus", "Edu Plus"},
        {"self_serve_business", "Self_serve_business"},
        {"", ""},
    };
    for (const auto& [raw, pretty] : cases) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(CodexClient::prettyPlan(raw), pretty);
    }
}

TEST(CodexClientTest, LenientDoubleAcceptsOnlyWholeDecimalNumbers) {
    const std::pair<Json, std::optional<double>> cases[] = {
        {Json(3), 3.0},
        {Json(2.5), 2.5},
        {Json("42"), 42.0},
        {Json("-1.5e2"), -150.0},
        {Json("+4"), 4.0},
        {Json(".5"), 0.5},
        {Json(""), std::nullopt},
        {Json("+"), std::nullopt},
        {Json("4 "), std::nullopt},
        {Json("0x10"), std::nullopt},
        {Json("nan"), std::nullopt},
        {Json(nullptr), std::nullopt},
        {Json::array(), std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value.dump());
        EXPECT_EQ(CodexClient::lenientDouble(value), expected);
    }
}

TEST(CodexClientTest, RecentModelsCountsRecentSessionsPerModel) {
    const auto models = CodexClient::recentModels(fixture("thread_list.json"), kNow);
    // Repeated thread ids count once; names that are not identifiers, sessions older than a
    // day or more than a minute ahead, and entries without an id or date are left out.
    const std::vector<RecentModelContext> expected = {
        {"edge-future", 1, Date{1'765'000'060}}, {"gpt-5.2-codex", 2, Date{1'764'999'000}},
        {"o4-mini", 1, Date{1'764'999'000}},  // same time: ordered by name
        {"gpt-5", 1, Date{1'764'995'000}},       {"edge-past", 1, Date{1'764'913'600}},
    };
    EXPECT_EQ(models, expected);
}

TEST(CodexClientTest, RecentModelsOfAnUnusableResultAreEmpty) {
    for (const Json& result : {Json::object(), Json{{"data", "none"}}, Json::array(),
                               Json{{"data", Json::array({1, "x", nullptr})}}}) {
        SCOPED_TRACE(result.dump());
        EXPECT_TRUE(CodexClient::recentModels(result, kNow).empty());
    }
}

}  // namespace
}  // namespace kestrane::providers
