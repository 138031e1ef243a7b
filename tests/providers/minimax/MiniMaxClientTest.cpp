#include "providers/minimax/MiniMaxClient.h"

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
const char* const kPlace = "из переменной MINIMAX_API_KEY";

TEST(MiniMaxClientTest, TheOlderAnswerCountsWhatRemains) {
    const auto usage =
        MiniMaxClient::parseRemains(fixture("minimax/remains_counts.json"), kPlace, kNow);
    // 1245 of 1500 prompts remain: 17% used.
    const std::vector<LimitWindow> expected = {
        {"minimax-session", "Сессия", 17, 300, Date{1'796'914'800}}};
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.provider, model::ProviderKind::minimax);
    EXPECT_EQ(usage.plan, std::nullopt);
}

TEST(MiniMaxClientTest, TheNewerAnswerGivesTheRemainingSharesOfSessionAndWeek) {
    const auto usage =
        MiniMaxClient::parseRemains(fixture("minimax/remains_percent.json"), kPlace, kNow);
    // The video model's week is unlimited: no window for it.
    const std::vector<LimitWindow> expected = {
        {"minimax-session", "Сессия", 17, 300, Date{1'796'914'800}},
        {"minimax-week", "Все модели", 5, 10080, Date{1'797'033'600}},
        {"minimax-video-session", "video", 0, 300, Date{1'796'914'800}},
    };
    EXPECT_EQ(usage.windows, expected);
}

TEST(MiniMaxClientTest, ModelsWithoutAQuotaAreLeftOutAndMissingTimesFallBack) {
    const auto usage = MiniMaxClient::parseRemains(
        R"({"model_remains":[
            {"model_name":"speech-hd","current_interval_total_count":0,
             "current_interval_usage_count":0},
            {"model_name":"MiniMax-M2","current_interval_total_count":300,
             "current_interval_usage_count":300,"remains_time":60000},
            {"model_name":"image","current_interval_remaining_percent":50,
             "current_interval_status":3}]})",
        kPlace, kNow);
    const std::vector<LimitWindow> expected = {
        {"minimax-session", "Сессия", 0, 300, Date{kNow.secondsSince1970 + 60}}};
    EXPECT_EQ(usage.windows, expected);
}

TEST(MiniMaxClientTest, ErrorsAndUnknownShapesSayWhatToDo) {
    const std::string refused =
        "MiniMax не принял ключ API из переменной MINIMAX_API_KEY. Нужен ключ Coding Plan: "
        "обычный ключ платформы MiniMax здесь не подходит.";
    const std::string unknownShape =
        "MiniMax ответил в незнакомом виде: квоты Coding Plan в ответе не найдены. Обновите "
        "Kestrane.";
    const std::string unreadable = "Не удалось разобрать квоты MiniMax.";
    const struct {
        std::string body;
        std::string message;
    } cases[] = {
        {fixture("minimax/invalid_key.json"), refused},
        {R"({"base_resp":{"status_code":1004,"status_msg":"auth failed"}})", refused},
        {R"({"base_resp":{"status_code":1002}})",
         "MiniMax временно ограничил проверку квот. Повторите позже."},
        {R"({"model_remains":[],"base_resp":{"status_code":1013,"status_msg":"x"}})",
         "MiniMax не отдал квоты (код 1013). Проверьте подписку Coding Plan и повторите позже."},
        {R"({"model_remains":[],"base_resp":{"status_code":0}})",
         "MiniMax не вернул квоты. Проверьте, что ключ от подписки Coding Plan."},
        {R"({"model_remains":[{"model_name":"m","current_interval_total_count":0,
             "current_interval_usage_count":0}]})",
         "MiniMax не вернул лимитов Coding Plan. Проверьте, что ключ от этой подписки."},
        // A third shape: neither counts nor shares.
        {R"({"model_remains":[{"model_name":"m","quota":{"left":5,"of":10}}]})", unknownShape},
        {R"({"plans":[{"remaining":5}]})", unknownShape},
        {"{}", unknownShape},
        {R"({"model_remains":{}})", unreadable},
        {R"({"model_remains":[1]})", unreadable},
        {R"({"model_remains":[{"current_interval_remaining_percent":"50"}]})", unreadable},
        {R"({"base_resp":[]})", unreadable},
        {"<html>502</html>", unreadable},
        {"", unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 80));
        EXPECT_EQ(errorOf([&] { MiniMaxClient::parseRemains(c.body, kPlace, kNow); }), c.message);
    }
}

TEST(MiniMaxClientTest, ModelNamesFromTheServerReachTheUsageOnOneLine) {
    const auto usage = MiniMaxClient::parseRemains(
        R"({"model_remains":[{"model_name":"general","current_interval_remaining_percent":90},
            {"model_name":"Evil\nMiniMax OK: 0%\u001b[2J","current_interval_remaining_percent":10}]})",
        kPlace, kNow);
    ASSERT_EQ(usage.windows.size(), 2u);
    EXPECT_EQ(usage.windows[1].name, "Evil MiniMax OK: 0% [2J");
    EXPECT_EQ(usage.windows[1].id, "minimax-evil-minimax-ok-0-2j-session");
}

class MiniMaxServerTest : public ::testing::Test {
  protected:
    using Variables = std::map<std::string, std::string, std::less<>>;

    void SetUp() override {
        fake.server().Get("/v1/api/openplatform/coding_plan/remains",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              ++requests;
                              authorization = request.get_header_value("Authorization");
                              response.status = status;
                              response.set_content(body, "application/json");
                          });
        fake.start();
    }

    std::string fetch(Variables variables) {
        variables.emplace("KESTRANE_MINIMAX_ORIGIN", fake.origin());
        const platform::MapEnvironment environment(variables, home.path());
        try {
            const auto usage = MiniMaxClient(environment, clock, secrets, &http).fetch();
            return "OK " + std::to_string(usage.windows.size());
        } catch (const std::exception& error) {
            return error.what();
        }
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    testing::FixedClock clock{kNow};
    testing::MemorySecretStore secrets;
    platform::CurlHttpClient http{{std::chrono::seconds(5), std::chrono::seconds(10)}};
    std::atomic<int> requests{0};
    std::string authorization;
    int status = 200;
    std::string body = fixture("minimax/remains_percent.json");
};

TEST_F(MiniMaxServerTest, SendsTheKeyAsABearerTokenAndMapsStatusCodes) {
    home.write(".claude/settings.json",
               R"({"env":{"ANTHROPIC_BASE_URL":"https://api.minimaxi.com/anthropic",)"
               R"("ANTHROPIC_AUTH_TOKEN":"claude-code-key"}})");
    EXPECT_EQ(fetch({{"MINIMAX_API_KEY", "variable-key"}}), "OK 3");
    EXPECT_EQ(authorization, "Bearer claude-code-key");
    const struct {
        int status;
        const char* message;
    } cases[] = {
        {401,
         "MiniMax не принял ключ API из настроек Claude Code. Нужен ключ Coding Plan: обычный "
         "ключ платформы MiniMax здесь не подходит."},
        {429, "MiniMax временно ограничил проверку квот. Повторите позже."},
        {502, "MiniMax API: HTTP 502."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        EXPECT_EQ(fetch({}), c.message);
    }
}

TEST_F(MiniMaxServerTest, WithoutAKeyNothingIsSent) {
    secrets.status = platform::SecretStore::Status::unavailable;
    EXPECT_EQ(fetch({}),
              "Ключ API MiniMax не найден, а служба ключей недоступна: задайте переменную "
              "MINIMAX_API_KEY.");
    EXPECT_EQ(requests, 0);
}

}  // namespace
}  // namespace kestrane::providers
