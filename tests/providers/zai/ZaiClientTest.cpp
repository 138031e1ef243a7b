#include "providers/zai/ZaiClient.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/Fixtures.h"
#include "support/MemorySecretStore.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using platform::Date;
using testing::errorOf;
using testing::fixture;

const Date kNow{1'796'900'700};
const char* const kPlace = "из переменной ZAI_API_KEY";

TEST(ZaiClientTest, ReadsTheSessionTheWeekAndTheMonthlyTools) {
    const auto usage = ZaiClient::parseQuota(fixture("zai/quota_limit.json"), kPlace, kNow);
    const std::vector<LimitWindow> expected = {
        {"zai-session", "Сессия", 25, 300, Date{1'796'910'000}},
        {"zai-week", "Все модели", 10, 10080, Date{1'797'321'600}},
        {"zai-tools-month", "Инструменты", 3, 43200, Date{1'798'761'600}},
    };
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.provider, model::ProviderKind::zai);
    EXPECT_EQ(usage.plan, "Pro");
    EXPECT_EQ(usage.updatedAt, kNow);
    EXPECT_EQ(usage.spendUsed, std::nullopt);
}

TEST(ZaiClientTest, ReadsWhatTheAnswerHasAndSkipsWhatItDoesNotKnow) {
    const struct {
        const char* name;
        const char* body;
        std::vector<std::string> ids;
        std::vector<double> used;
    } cases[] = {
        {"only the five-hour window",
         R"({"success":true,"data":{"limits":[{"type":"TOKENS_LIMIT","percentage":40}]}})",
         {"zai-session"},
         {40}},
        {"tools first in the answer, session first in the usage",
         R"({"data":{"limits":[{"type":"TIME_LIMIT","percentage":1},
             {"type":"TOKENS_LIMIT","percentage":2},{"type":"TOKENS_LIMIT","percentage":3}]}})",
         {"zai-session", "zai-week", "zai-tools-month"},
         {2, 3, 1}},
        {"a third token window and unknown kinds are left out",
         R"({"data":{"limits":[{"type":"TOKENS_LIMIT","percentage":2},
             {"type":"TOKENS_LIMIT","percentage":3},{"type":"TOKENS_LIMIT","percentage":4},
             {"type":"CREDIT_LIMIT","percentage":5},{"unit":3}]}})",
         {"zai-session", "zai-week"},
         {2, 3}},
        {"counts without a share, shares out of range",
         R"({"data":{"limits":[{"type":"TOKENS_LIMIT","percentage":140},
             {"type":"TOKENS_LIMIT","percentage":-5},
             {"type":"TIME_LIMIT","usage":200,"currentValue":50}]}})",
         {"zai-session", "zai-week", "zai-tools-month"},
         {100, 0, 25}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage = ZaiClient::parseQuota(c.body, kPlace, kNow);
        std::vector<std::string> ids;
        std::vector<double> used;
        for (const auto& window : usage.windows) {
            ids.push_back(window.id);
            used.push_back(window.usedPercent);
        }
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(used, c.used);
    }
}

TEST(ZaiClientTest, ErrorsInTheAnswerSayWhatToDo) {
    const std::string refused =
        "z.ai не принял ключ API из переменной ZAI_API_KEY. Проверьте ключ GLM Coding Plan в "
        "личном кабинете z.ai.";
    const std::string unreadable = "Не удалось разобрать квоты z.ai.";
    const std::string noLimits =
        "z.ai не вернул лимитов GLM Coding Plan. Проверьте, что ключ от этой подписки.";
    const struct {
        std::string body;
        std::string message;
    } cases[] = {
        {fixture("zai/token_expired.json"), refused},
        {R"({"code":403,"msg":"forbidden","success":false})", refused},
        {R"({"code":429,"success":false})",
         "z.ai временно ограничил проверку квот. Повторите позже."},
        {R"({"code":1113,"msg":"Insufficient balance","success":false})",
         "z.ai не отдал квоты (код 1113). Проверьте, что ключ от подписки GLM Coding Plan, и "
         "повторите позже."},
        {R"({"success":false})",
         "z.ai не отдал квоты. Проверьте, что ключ от подписки GLM Coding Plan, и повторите "
         "позже."},
        // An error code without `success` and without data.
        {R"({"code":401,"msg":"token expired"})", refused},
        {R"({"success":true,"data":{"limits":[]}})", noLimits},
        {R"({"data":{"limits":[{"type":"CREDIT_LIMIT","percentage":5}]}})", noLimits},
        {R"({"data":{"limits":[{"type":"TOKENS_LIMIT"}]}})", noLimits},
        {"{}", unreadable},
        {R"({"success":true,"data":{}})", unreadable},
        {R"({"data":{"limits":{}}})", unreadable},
        {R"({"data":{"limits":[{"type":"TOKENS_LIMIT","percentage":"25"}]}})", unreadable},
        {R"({"data":{"limits":[{"type":"TOKENS_LIMIT","percentage":1,"nextResetTime":"x"}]}})",
         unreadable},
        {R"({"success":"false"})", unreadable},
        {"<html>502</html>", unreadable},
        {"", unreadable},
        {std::string(100000, '['), unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 80));
        EXPECT_EQ(errorOf([&] { ZaiClient::parseQuota(c.body, kPlace, kNow); }), c.message);
    }
}

TEST(ZaiClientTest, TextFromTheServerReachesTheUsageOnOneLine) {
    const auto usage = ZaiClient::parseQuota(
        R"({"data":{"level":"max\nz.ai OK: 0%\u001b[2J\u009b","limits":[
            {"type":"TOKENS_LIMIT","percentage":5}]}})",
        kPlace, kNow);
    EXPECT_EQ(usage.plan, "Max Z.ai Ok: 0% [2j");
}

class ZaiServerTest : public ::testing::Test {
  protected:
    using Variables = std::map<std::string, std::string, std::less<>>;

    void SetUp() override {
        fake.server().Get("/api/monitor/usage/quota/limit",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              ++requests;
                              headers = request.headers;
                              response.status = status;
                              response.set_content(body, "application/json");
                          });
        fake.start();
    }

    std::string fetch(Variables variables) {
        variables.emplace("KESTRANE_ZAI_ORIGIN", fake.origin());
        const platform::MapEnvironment environment(variables, home.path());
        try {
            const auto usage = ZaiClient(environment, clock, secrets, &http).fetch();
            return "OK " + std::to_string(usage.windows.size());
        } catch (const std::exception& error) {
            return error.what();
        }
    }
    std::string header(const char* name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? "<none>" : it->second;
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    testing::FixedClock clock{kNow};
    testing::MemorySecretStore secrets;
    platform::CurlHttpClient http{{std::chrono::seconds(5), std::chrono::seconds(10)}};
    std::atomic<int> requests{0};
    httplib::Headers headers;
    int status = 200;
    std::string body = fixture("zai/quota_limit.json");
};

TEST_F(ZaiServerTest, SendsTheKeyAsItIsWithoutBearer) {
    EXPECT_EQ(fetch({{"ZAI_API_KEY", " zai-key.123 "}}), "OK 3");
    EXPECT_EQ(header("Authorization"), "zai-key.123");
    EXPECT_EQ(header("Accept"), "application/json");
    // Claude Code's key goes to the override too (its own host would be api.z.ai).
    home.write(".claude/settings.json",
               R"({"env":{"ANTHROPIC_BASE_URL":"https://open.bigmodel.cn/api/anthropic",)"
               R"("ANTHROPIC_AUTH_TOKEN":"claude-code-key"}})");
    EXPECT_EQ(fetch({}), "OK 3");
    EXPECT_EQ(header("Authorization"), "claude-code-key");
}

TEST_F(ZaiServerTest, StatusCodesMapToRussianMessages) {
    const struct {
        int status;
        const char* message;
    } cases[] = {
        {401,
         "z.ai не принял ключ API из связки ключей. Проверьте ключ GLM Coding Plan в личном "
         "кабинете z.ai."},
        {403,
         "z.ai не принял ключ API из связки ключей. Проверьте ключ GLM Coding Plan в личном "
         "кабинете z.ai."},
        {429, "z.ai временно ограничил проверку квот. Повторите позже."},
        {500, "z.ai API: HTTP 500."},
    };
    secrets.store("zai", "Kestrane: ключ API z.ai", "stored-key");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        EXPECT_EQ(fetch({}), c.message);
    }
    status = 200;
    body = std::string(platform::kMaxResponseBodyBytes + 10, ' ');
    EXPECT_EQ(fetch({}), "z.ai вернул некорректный ответ.");
}

TEST_F(ZaiServerTest, WithoutAKeyOrWithABadOriginNothingIsSent) {
    EXPECT_EQ(fetch({}),
              "Ключ API z.ai не найден. Введите его в настройках Kestrane или задайте переменную "
              "ZAI_API_KEY.");
    const auto message =
        fetch({{"ZAI_API_KEY", "k"}, {"KESTRANE_ZAI_ORIGIN", "http://example.com"}});
    EXPECT_NE(message.find("KESTRANE_ZAI_ORIGIN"), std::string::npos) << message;
    EXPECT_EQ(requests, 0);
    // The keyring is not asked when the origin is unusable.
    EXPECT_EQ(secrets.lookups(), 1);
}

}  // namespace
}  // namespace kestrane::providers
