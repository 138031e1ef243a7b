#include "providers/openrouter/OpenRouterClient.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/Iso8601.h"
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

// Thursday, 10 December 2026, 11:05 UTC.
const Date kNow{1'796'900'700};

Date at(const char* text) { return *platform::parseInternetDateTime(text); }

TEST(OpenRouterClientTest, AMonthlyLimitIsAWindowAndTheSpendingAgainstIt) {
    const auto usage =
        OpenRouterClient::parseKey(fixture("openrouter/key_monthly_limit.json"), kNow);
    const std::vector<LimitWindow> expected = {
        {"openrouter-month", "Лимит ключа", 25.5, 43200, at("2027-01-01T00:00:00Z")}};
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.spendUsed, 25.5);
    EXPECT_EQ(usage.spendLimit, 100);
    EXPECT_EQ(usage.currency, "USD");
    EXPECT_EQ(usage.plan, std::nullopt);
    EXPECT_EQ(usage.provider, model::ProviderKind::openrouter);
}

TEST(OpenRouterClientTest, WithoutALimitThatResetsOnlyTheSpendingIsShown) {
    const auto free = OpenRouterClient::parseKey(fixture("openrouter/key_no_limit.json"), kNow);
    EXPECT_TRUE(free.windows.empty());
    EXPECT_EQ(free.spendUsed, 12.345);
    EXPECT_EQ(free.spendLimit, std::nullopt);
    EXPECT_EQ(free.plan, "Free");

    const struct {
        const char* name;
        const char* data;
        std::optional<double> used;
        std::optional<double> limit;
        std::vector<std::string> windows;
    } cases[] = {
        {"a limit for the key's life",
         R"({"limit":20,"limit_remaining":15,"limit_reset":null,"usage":5})",
         5,
         20,
         {}},
        {"the period's spending when nothing remaining is given",
         R"({"limit":20,"limit_reset":"daily","usage":50,"usage_daily":4})",
         4,
         20,
         {"openrouter-day"}},
        {"overspent",
         R"({"limit":10,"limit_remaining":-2,"limit_reset":"weekly","usage":50})",
         12,
         10,
         {"openrouter-week"}},
        {"a period this program does not know",
         R"({"limit":10,"limit_remaining":4,"limit_reset":"yearly","usage":6})",
         6,
         10,
         {}},
        {"a limit of nothing",
         R"({"limit":0,"limit_reset":"daily","usage":0,"usage_daily":0})",
         0,
         0,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage =
            OpenRouterClient::parseKey(std::string(R"({"data":)") + c.data + "}", kNow);
        EXPECT_EQ(usage.spendUsed, c.used);
        EXPECT_EQ(usage.spendLimit, c.limit);
        std::vector<std::string> ids;
        for (const auto& window : usage.windows) ids.push_back(window.id);
        EXPECT_EQ(ids, c.windows);
    }
}

TEST(OpenRouterClientTest, LimitsResetAtMidnightUtcWeeksOnMonday) {
    const struct {
        const char* period;
        const char* now;
        std::optional<const char*> reset;
    } cases[] = {
        {"daily", "2026-12-10T11:05:00Z", "2026-12-11T00:00:00Z"},
        {"daily", "2026-12-31T23:59:59Z", "2027-01-01T00:00:00Z"},
        {"weekly", "2026-12-10T11:05:00Z", "2026-12-14T00:00:00Z"},
        {"weekly", "2026-12-14T00:00:00Z", "2026-12-21T00:00:00Z"},
        {"weekly", "2026-12-13T23:59:59Z", "2026-12-14T00:00:00Z"},
        {"monthly", "2026-12-10T11:05:00Z", "2027-01-01T00:00:00Z"},
        {"monthly", "2028-02-29T12:00:00Z", "2028-03-01T00:00:00Z"},
        {"monthly", "2027-01-01T00:00:00Z", "2027-02-01T00:00:00Z"},
        {"yearly", "2026-12-10T11:05:00Z", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.period) + " " + c.now);
        const auto reset = OpenRouterClient::nextReset(c.period, at(c.now));
        if (c.reset) {
            EXPECT_EQ(reset, at(*c.reset));
        } else {
            EXPECT_EQ(reset, std::nullopt);
        }
    }
    EXPECT_EQ(OpenRouterClient::nextReset("daily", Date{1e300}), std::nullopt);
}

TEST(OpenRouterClientTest, UnknownAndBrokenAnswersSayWhatToDo) {
    const std::string unknownShape =
        "OpenRouter ответил в незнакомом виде: расход ключа в ответе не найден. Обновите "
        "Kestrane.";
    const std::string unreadable = "Не удалось разобрать ответ OpenRouter о ключе API.";
    const struct {
        const char* body;
        std::string message;
    } cases[] = {
        {R"({"error":{"code":401,"message":"No auth credentials found"}})", unknownShape},
        {R"({"data":{"limit":10}})", unknownShape},
        {"{}", unknownShape},
        {R"({"data":[]})", unreadable},
        {R"({"data":{"usage":"1"}})", unreadable},
        {R"({"data":{"usage":1,"usage_weekly":"2"}})", unreadable},
        {R"({"data":{"usage":1,"limit_reset":5}})", unreadable},
        {R"({"data":{"usage":1,"is_free_tier":"yes"}})", unreadable},
        {"<html>502</html>", unreadable},
        {"", unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(errorOf([&] { OpenRouterClient::parseKey(c.body, kNow); }), c.message);
    }
}

TEST(OpenRouterClientTest, TheKeysLabelIsNeverRead) {
    // The label is a shortened form of the key itself.
    const auto usage = OpenRouterClient::parseKey(
        R"({"data":{"label":"sk-or-v1-abc...123","usage":1,"limit":null}})", kNow);
    EXPECT_EQ(usage.email, std::nullopt);
    EXPECT_EQ(usage.plan, std::nullopt);
}

class OpenRouterServerTest : public ::testing::Test {
  protected:
    using Variables = std::map<std::string, std::string, std::less<>>;

    void SetUp() override {
        fake.server().Get("/api/v1/key",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              ++requests;
                              authorization = request.get_header_value("Authorization");
                              response.status = status;
                              response.set_content(body, "application/json");
                          });
        fake.start();
    }

    std::string fetch(Variables variables) {
        variables.emplace("KESTRANE_OPENROUTER_ORIGIN", fake.origin());
        const platform::MapEnvironment environment(variables, home.path());
        try {
            const auto usage = OpenRouterClient(environment, clock, secrets, &http).fetch();
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
    std::string body = fixture("openrouter/key_monthly_limit.json");
};

TEST_F(OpenRouterServerTest, SendsTheKeyAsABearerTokenAndMapsStatusCodes) {
    secrets.store("openrouter", "Kestrane: ключ API OpenRouter", "sk-or-v1-stored");
    // Claude Code is never pointed at OpenRouter's key this way: its settings are not read.
    home.write(".claude/settings.json",
               R"({"env":{"ANTHROPIC_BASE_URL":"https://openrouter.ai/api",)"
               R"("ANTHROPIC_AUTH_TOKEN":"claude-code-key"}})");
    EXPECT_EQ(fetch({}), "OK 1");
    EXPECT_EQ(authorization, "Bearer sk-or-v1-stored");
    const struct {
        int status;
        const char* message;
    } cases[] = {
        {401,
         "OpenRouter не принял ключ API из связки ключей. Проверьте ключ на openrouter.ai в "
         "разделе Keys."},
        {429, "OpenRouter временно ограничил проверку ключа. Повторите позже."},
        {402, "OpenRouter API: HTTP 402."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        status = c.status;
        EXPECT_EQ(fetch({}), c.message);
    }
}

TEST_F(OpenRouterServerTest, AKeyThatCannotGoIntoAHeaderIsNeverSent) {
    EXPECT_EQ(fetch({{"OPENROUTER_API_KEY", "sk-or\r\nX-Injected: 1"}}),
              "Переменная OPENROUTER_API_KEY задана неверно: ключ API пишется одной строкой, без "
              "пробелов.");
    EXPECT_EQ(requests, 0);
}

}  // namespace
}  // namespace kestrane::providers
