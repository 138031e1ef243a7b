#include "providers/claude/ClaudeClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "model/QuotaError.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"
#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::QuotaError;
using platform::Date;

std::string fixture(const std::string& name) {
    std::ifstream file(std::string(KESTRANE_FIXTURES) + "/claude/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

template <class Function>
std::string errorText(Function&& function) {
    try {
        function();
    } catch (const platform::LocalizedError& error) {
        return error.what();
    }
    return "<no error>";
}

TEST(ClaudeClientTest, ParsesFixedWindowsScopedLimitsAndSpending) {
    const Date now{1'796'900'700};
    const auto usage = ClaudeClient::parseUsage(fixture("usage_full.json"), "Max 5x", now);

    const auto at = [](const char* text) { return platform::parseInternetDateTime(text); };
    const std::vector<LimitWindow> expected = {
        {"claude-session", "Сессия", 12.5, 300, at("2026-12-10T15:00:00.250Z")},
        {"claude-week", "Все модели", 100, 10080, at("2026-12-14T09:00:00Z")},
        {"claude-sonnet", "Sonnet", 0, 10080, std::nullopt},
        {"claude-opus", "Opus", 40, 10080, std::nullopt},
        {"claude-scoped-0-Haiku", "Haiku", 10, 10080, std::nullopt},
        {"claude-scoped-1-Fable", "Fable", 20, 10080, std::nullopt},
        // index 2 ("Opus") duplicates the fixed Opus window and is dropped
        {"claude-scoped-7-Mythos", "Mythos", 80, 10080, at("2026-12-11T21:00:00Z")},
    };
    EXPECT_EQ(usage.windows, expected);
    EXPECT_EQ(usage.provider, model::ProviderKind::claude);
    EXPECT_EQ(usage.plan, "Max 5x");
    EXPECT_EQ(usage.email, std::nullopt);
    EXPECT_EQ(usage.spendUsed, 1250.5);
    EXPECT_EQ(usage.spendLimit, 5000);
    EXPECT_EQ(usage.currency, "USD");
    EXPECT_EQ(usage.updatedAt, now);
    EXPECT_TRUE(usage.recentModels.empty());
}

TEST(ClaudeClientTest, ParseUsageEdgeCases) {
    struct Case {
        const char* name;
        const char* body;
        std::size_t windows;
        bool spending;
    };
    const Case cases[] = {
        {"empty object is a success without windows", "{}", 0, false},
        {"window without utilization adds nothing", R"({"five_hour":{"resets_at":null}})", 0,
         false},
        {"spending needs is_enabled",
         R"({"extra_usage":{"monthly_limit":10,"used_credits":1,"currency":"eur"}})", 0, false},
        {"spending disabled", R"({"extra_usage":{"is_enabled":false,"used_credits":1}})", 0, false},
        {"spending without amounts", R"({"extra_usage":{"is_enabled":true}})", 0, false},
        {"spending enabled", R"({"extra_usage":{"is_enabled":true,"used_credits":0}})", 0, true},
        {"unknown members ignored", R"({"five_hour":{"utilization":1},"x":[{}]})", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto usage = ClaudeClient::parseUsage(c.body, std::nullopt, Date{});
        EXPECT_EQ(usage.windows.size(), c.windows);
        EXPECT_EQ(usage.spendUsed.has_value() || usage.spendLimit.has_value() ||
                      usage.currency.has_value(),
                  c.spending);
    }
}

TEST(ClaudeClientTest, MalformedUsageIsReportedInRussian) {
    const char* bodies[] = {
        "",
        "not json",
        "[]",
        "{\"five_hour\": {\"utilization\": \"12\"}}",
        "{\"five_hour\": 5}",
        "{\"limits\": {}}",
        "{\"limits\": [1]}",
        "{\"extra_usage\": {\"is_enabled\": \"yes\"}}",
        "{\"five_hour\": {\"utilization\": 1}",
        "\xff\xfe{}",
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        EXPECT_EQ(errorText([&] { ClaudeClient::parseUsage(body, std::nullopt, Date{}); }),
                  "Не удалось разобрать квоты Claude.");
    }
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(errorText([&] { ClaudeClient::parseUsage(deep, std::nullopt, Date{}); }),
              "Не удалось разобрать квоты Claude.");
}

TEST(ClaudeClientTest, PlanComesFromSubscriptionThenTier) {
    struct Case {
        std::optional<std::string> subscription;
        std::optional<std::string> tier;
        std::optional<std::string> plan;
    };
    const Case cases[] = {
        {"max", "default_claude_max_20x", "Max"},
        {"team premium", std::nullopt, "Team Premium"},
        {"", "default_claude_max_20x", "Max 20x"},
        {std::nullopt, "DEFAULT_CLAUDE_MAX_5X", "Max 5x"},
        {std::nullopt, "claude_max", "Max"},
        {std::nullopt, "claude_pro", "Pro"},
        {std::nullopt, "team_tier", "Team"},
        {std::nullopt, "enterprise", std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subscription.value_or("-") + "/" + c.tier.value_or("-"));
        const ClaudeClient::Credentials credentials{
            .accessToken = "t", .rateLimitTier = c.tier, .subscriptionType = c.subscription};
        EXPECT_EQ(credentials.plan(), c.plan);
    }
}

TEST(ClaudeClientTest, DecodesStoredCredentials) {
    const auto credentials = ClaudeClient::decodeCredentials(R"({"claudeAiOauth":{
        "accessToken":"  at-1\n","refreshToken":"rt-1","expiresAt":1796900760500,
        "scopes":["user:inference"],"rateLimitTier":"x","subscriptionType":"pro"},"other":1})");
    EXPECT_EQ(credentials, (ClaudeClient::Credentials{.accessToken = "at-1",
                                                      .refreshToken = "rt-1",
                                                      .expiresAt = Date{1'796'900'760.5},
                                                      .scopes = {"user:inference"},
                                                      .rateLimitTier = "x",
                                                      .subscriptionType = "pro"}));

    struct Case {
        const char* data;
        const char* message;
    };
    const Case cases[] = {
        {"garbage", "Локальная сессия Claude имеет неизвестный формат."},
        {"[]", "Локальная сессия Claude имеет неизвестный формат."},
        {R"({"claudeAiOauth":{"accessToken":5}})",
         "Локальная сессия Claude имеет неизвестный формат."},
        {R"({"claudeAiOauth":{"accessToken":"a","scopes":[1]}})",
         "Локальная сессия Claude имеет неизвестный формат."},
        {"{}", "В сессии Claude нет OAuth-доступа. Выполните `claude login`."},
        {R"({"claudeAiOauth":null})",
         "В сессии Claude нет OAuth-доступа. Выполните `claude login`."},
        {R"({"claudeAiOauth":{"accessToken":" \n "}})",
         "В сессии Claude нет OAuth-доступа. Выполните `claude login`."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        EXPECT_EQ(errorText([&] { ClaudeClient::decodeCredentials(c.data); }), c.message);
    }
}

TEST(ClaudeClientTest, DeduplicateKeepsTheFirstOfEachNameAndDuration) {
    const std::vector<LimitWindow> windows = {
        {"a", "Opus", 1, 10080, std::nullopt}, {"b", "Opus", 2, 10080, std::nullopt},
        {"c", "Opus", 3, 300, std::nullopt},   {"d", "Opus", 4, std::nullopt, std::nullopt},
        {"e", "Opus", 5, 0, std::nullopt},
    };
    const auto kept = ClaudeClient::deduplicate(windows);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].id, "a");
    EXPECT_EQ(kept[1].id, "c");
    EXPECT_EQ(kept[2].id, "d");  // absent duration counts as 0, so "e" is dropped
}

// The keychain item is the last place looked at: a session there counts as a sign-in, and a
// keychain that fails does not.
TEST(ClaudeClientTest, TheKeychainItemCountsAsASignInOnlyWhenFound) {
    testing::TempDirectory home;
    const platform::MapEnvironment environment({}, home.path());
    const std::string session = R"({"claudeAiOauth":{"accessToken":"test-not-secret"}})";
    using Status = platform::KeychainItem::Status;
    const auto item = [](Status status, std::string data) {
        return [=] { return platform::KeychainItem{status, data}; };
    };
    EXPECT_TRUE(ClaudeClient::hasStoredSignIn(environment, item(Status::found, session)));
    EXPECT_FALSE(ClaudeClient::hasStoredSignIn(environment, item(Status::failed, "")));
    EXPECT_FALSE(ClaudeClient::hasStoredSignIn(environment, item(Status::notFound, "")));
    // This system's own keychain holds no Claude session.
    EXPECT_FALSE(ClaudeClient::hasStoredSignIn(environment));
    // The token variable and the file come first.
    home.write(".claude/.credentials.json", R"({"claudeAiOauth":{"accessToken":"file-token"}})");
    EXPECT_EQ(ClaudeClient::loadCredentials(environment, item(Status::found, session)).accessToken,
              "file-token");
}

// A fake Claude: the usage endpoint, and a token endpoint that must never be called.
class ClaudeServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake.server().Get("/api/oauth/usage",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              ++usageRequests;
                              usageHeaders = request.headers;
                              response.status = usageStatus;
                              response.set_content(usageBody, "application/json");
                          });
        fake.server().Post("/v1/oauth/token",
                           [this](const httplib::Request& request, httplib::Response& response) {
                               ++tokenRequests;
                               tokenBody = request.body;
                               tokenContentType = request.get_header_value("Content-Type");
                               response.status = tokenStatus;
                               response.set_content(tokenAnswer, "application/json");
                           });
        fake.start();
    }

    ClaudeClient client(std::map<std::string, std::string, std::less<>> variables = {}) {
        variables.emplace("KESTRANE_CLAUDE_API_ORIGIN", fake.origin());
        environment = std::make_unique<platform::MapEnvironment>(variables, home.path());
        return ClaudeClient(*environment, clock, &http);
    }

    void storeCredentials(const std::string& json) {
        home.write(".claude/.credentials.json", json);
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    testing::FixedClock clock{Date{1'796'900'700}};
    platform::CurlHttpClient http{{std::chrono::seconds(5), std::chrono::seconds(10)}};
    std::unique_ptr<platform::MapEnvironment> environment;

    std::atomic<int> usageRequests{0};
    std::atomic<int> tokenRequests{0};
    httplib::Headers usageHeaders;
    std::string tokenBody, tokenContentType;
    int usageStatus = 200;
    std::string usageBody = R"({"five_hour":{"utilization":12.5}})";
    int tokenStatus = 200;
    std::string tokenAnswer = R"({"access_token":"fresh-token","expires_in":3600})";
};

TEST_F(ClaudeServerTest, SendsExactlyTheFourHeadersWithTheEnvironmentToken) {
    const auto usage = client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "  env-token \n"}}).fetch();
    ASSERT_EQ(usage.windows.size(), 1u);
    EXPECT_EQ(usage.windows[0].periodTitle(), "Сессия - 5 часов");
    EXPECT_EQ(usage.plan, std::nullopt);
    EXPECT_EQ(usageHeaders.find("Authorization")->second, "Bearer env-token");
    EXPECT_EQ(usageHeaders.find("Accept")->second, "application/json");
    EXPECT_EQ(usageHeaders.find("anthropic-beta")->second, "oauth-2025-04-20");
    EXPECT_EQ(usageHeaders.find("User-Agent")->second, "claude-code/2.1.0");
    EXPECT_EQ(tokenRequests, 0);
}

TEST_F(ClaudeServerTest, StatusCodesMapToRussianMessages) {
    struct Case {
        int status;
        const char* message;
    };
    const Case cases[] = {
        {401, "Сессия Claude истекла. Выполните `claude login`."},
        {403, "Сессия Claude истекла. Выполните `claude login`."},
        {429, "Claude временно ограничил проверку квот. Повторите позже."},
        {500, "Claude API: HTTP 500."},
        {502, "Claude API: HTTP 502."},
        {204, "Claude API: HTTP 204."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        usageStatus = c.status;
        EXPECT_EQ(errorText([&] {
                      client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "t"}}).fetch();
                  }),
                  c.message);
    }
    usageStatus = 200;
    usageBody = std::string(platform::kMaxResponseBodyBytes + 10, ' ');
    EXPECT_EQ(errorText([&] {
                  client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "t"}}).fetch();
              }),
              "Claude вернул некорректный ответ.");
}

TEST_F(ClaudeServerTest, CredentialSourcesFallThroughInOrder) {
    // Blank variable: the file is used.
    storeCredentials(R"({"claudeAiOauth":{"accessToken":"file-token","subscriptionType":"pro"}})");
    const auto usage = client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "   "}}).fetch();
    EXPECT_EQ(usageHeaders.find("Authorization")->second, "Bearer file-token");
    EXPECT_EQ(usage.plan, "Pro");

    // A file without a usable session falls through to the keychain, which has nothing here.
    for (const char* stored :
         {"{}", "", "not json", "[1]", "{\"claudeAiOauth\":{\"accessToken\":1}}"}) {
        SCOPED_TRACE(stored);
        storeCredentials(stored);
        EXPECT_EQ(errorText([&] { client().fetch(); }),
                  "Claude не авторизован. Выполните `claude login`.");
    }
    std::filesystem::remove(home.path() / ".claude/.credentials.json");
    EXPECT_EQ(errorText([&] { client().fetch(); }),
              "Claude не авторизован. Выполните `claude login`.");
}

TEST_F(ClaudeServerTest, TheStoredSessionIsUsedAsItIsAndNeverRenewed) {
    // Refresh tokens are single-use: renewing here would sign the user's Claude Code out. A
    // session with any time left is used; an expired one is reported without any request.
    struct Case {
        const char* expiresAt;
        const char* expected;  // the Authorization header, or the error
    };
    const Case cases[] = {
        {"1796900820000", "Bearer stored-token"},  // 120 s ahead
        {"1796900730000", "Bearer stored-token"},  // 30 s ahead: within the old margin
        {"1796900700001", "Bearer stored-token"},  // a millisecond ahead
        {"1796900700000", "Сессия Claude истекла. Откройте Claude Code, чтобы он обновил вход."},
        {"1000", "Сессия Claude истекла. Откройте Claude Code, чтобы он обновил вход."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expiresAt);
        const std::string stored =
            std::string(R"({"claudeAiOauth":{"accessToken":"stored-token",)") +
            R"("refreshToken":"refresh-1","expiresAt":)" + c.expiresAt + "}}";
        storeCredentials(stored);
        usageHeaders.clear();
        const int before = usageRequests;
        const auto message = errorText([&] { client().fetch(); });
        if (message == "<no error>") {
            EXPECT_EQ(usageHeaders.find("Authorization")->second, c.expected);
        } else {
            EXPECT_EQ(message, c.expected);
            EXPECT_EQ(usageRequests, before);
        }
        std::ifstream file(home.path() / ".claude/.credentials.json");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), stored);
    }
    EXPECT_EQ(tokenRequests, 0);
}

TEST_F(ClaudeServerTest, ATokenWithControlCharactersIsRefusedBeforeAnyRequest) {
    for (const char* token : {"abc\r\nX-Injected: 1", "abc\nX", "a\tb", "a\x7f", "a\x01b"}) {
        SCOPED_TRACE(::testing::PrintToString(token));
        EXPECT_EQ(errorText([&] {
                      client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", token}}).fetch();
                  }),
                  "В сессии Claude нет OAuth-доступа. Выполните `claude login`.");
        // From the file it is no usable session; the keychain has none either.
        storeCredentials(platform::Json{{"claudeAiOauth", {{"accessToken", token}}}}.dump());
        EXPECT_EQ(errorText([&] { client().fetch(); }),
                  "Claude не авторизован. Выполните `claude login`.");
    }
    EXPECT_EQ(usageRequests, 0);
}

TEST_F(ClaudeServerTest, ClaudeConfigDirMovesTheCredentialsFile) {
    storeCredentials(R"({"claudeAiOauth":{"accessToken":"home-token"}})");
    home.write("moved/.credentials.json", R"({"claudeAiOauth":{"accessToken":"moved-token"}})");
    client({{"CLAUDE_CONFIG_DIR", (home.path() / "moved").string()}}).fetch();
    EXPECT_EQ(usageHeaders.find("Authorization")->second, "Bearer moved-token");
    // Blank: the default folder.
    client({{"CLAUDE_CONFIG_DIR", " "}}).fetch();
    EXPECT_EQ(usageHeaders.find("Authorization")->second, "Bearer home-token");
    // Set, but without the file: the session is not taken from elsewhere.
    EXPECT_EQ(errorText([&] {
                  client({{"CLAUDE_CONFIG_DIR", (home.path() / "empty").string()}}).fetch();
              }),
              "Claude не авторизован. Выполните `claude login`.");
}

TEST_F(ClaudeServerTest, ModelNamesFromTheServerReachTheUsageOnOneLine) {
    usageBody = R"({"limits":[{"kind":"weekly_scoped","percent":5,)"
                R"("scope":{"model":{"display_name":"Evil\nKimi OK: 100%\u001b[2J\u009b"}}}]})";
    const auto usage = client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "t"}}).fetch();
    ASSERT_EQ(usage.windows.size(), 1u);
    EXPECT_EQ(usage.windows[0].name, "Evil Kimi OK: 100% [2J");
    EXPECT_EQ(usage.windows[0].id, "claude-scoped-0-Evil Kimi OK: 100% [2J");
}

TEST_F(ClaudeServerTest, AnInsecureOriginOverrideFailsWithoutSendingTheToken) {
    const auto message = errorText([&] {
        client({{"KESTRANE_CLAUDE_OAUTH_TOKEN", "t"},
                {"KESTRANE_CLAUDE_API_ORIGIN", "http://example.com"}})
            .fetch();
    });
    EXPECT_NE(message.find("KESTRANE_CLAUDE_API_ORIGIN"), std::string::npos);
    EXPECT_EQ(usageRequests, 0);
}

}  // namespace
}  // namespace kestrane::providers
