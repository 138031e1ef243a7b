// Runs the built executable in probe mode against a fake Claude, with HOME in a temporary folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/RecordingProxy.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

class ProbeProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake.server().Get("/api/oauth/usage",
                          [this](const httplib::Request& request, httplib::Response& response) {
                              ++usageRequests;
                              authorization = request.get_header_value("Authorization");
                              response.status = usageStatus;
                              response.set_content(usageBody, "application/json");
                          });
        fake.server().Post(
            "/v1/oauth/token", [this](const httplib::Request&, httplib::Response& response) {
                ++tokenRequests;
                response.set_content(R"({"access_token":"secret-fresh-token","expires_in":3600})",
                                     "application/json");
            });
        fake.start();
    }

    testing::ProcessOutput probe(std::vector<std::string> arguments,
                                 std::map<std::string, std::string> extra = {}) {
        std::map<std::string, std::string> environment = {
            {"HOME", home.path().string()},
            {"PATH", "/usr/bin:/bin"},
            {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
        };
        for (auto& [key, value] : extra) environment[key] = value;
        arguments.insert(arguments.begin(), "--probe");
        return testing::runProcess(testing::kestraneExecutable(), arguments, environment);
    }

    void storeSession(const std::string& expiresAtMillis) {
        home.write(".claude/.credentials.json",
                   R"({"claudeAiOauth":{"accessToken":"secret-stored-token",)"
                   R"("refreshToken":"secret-refresh","expiresAt":)" +
                       expiresAtMillis + R"(,"subscriptionType":"max"}})");
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    std::atomic<int> usageRequests{0};
    std::atomic<int> tokenRequests{0};
    std::string authorization;
    int usageStatus = 200;
    std::string usageBody =
        R"({"five_hour":{"utilization":12.5,"resets_at":"2030-01-01T00:00:00Z"}})";
};

TEST_F(ProbeProcessTest, PrintsTheUsedShareOfEachWindow) {
    storeSession("4102444800000");  // far in the future
    usageBody = R"({"five_hour":{"utilization":12.5},"seven_day":{"utilization":62.5}})";
    const auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput,
              "Claude OK: Сессия - 5 часов=13%, Все модели - Недельный=63%\n");
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(authorization, "Bearer secret-stored-token");
    EXPECT_EQ(tokenRequests, 0);
}

TEST_F(ProbeProcessTest, FailuresPrintRussianMessagesAndExitWithOne) {
    storeSession("4102444800000");
    struct Case {
        int status;
        const char* line;
    };
    const Case cases[] = {
        {401, "Claude ERROR: Сессия Claude истекла. Выполните `claude login`.\n"},
        {403, "Claude ERROR: Сессия Claude истекла. Выполните `claude login`.\n"},
        {429, "Claude ERROR: Claude временно ограничил проверку квот. Повторите позже.\n"},
        {500, "Claude ERROR: Claude API: HTTP 500.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        usageStatus = c.status;
        const auto result = probe({"CLAUDE"});
        EXPECT_EQ(result.standardOutput, c.line);
        EXPECT_EQ(result.standardError, "");
        EXPECT_EQ(result.exitStatus, 1);
    }
}

TEST_F(ProbeProcessTest, AnExpiredSessionIsReportedWithoutAnyRequestAndNothingIsWritten) {
    storeSession("1000");
    const auto before = std::filesystem::last_write_time(home.path() / ".claude/.credentials.json");
    const auto result = probe({"claude"});
    EXPECT_EQ(
        result.standardOutput,
        "Claude ERROR: Сессия Claude истекла. Откройте Claude Code, чтобы он обновил вход.\n");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(tokenRequests, 0);
    EXPECT_EQ(usageRequests, 0);
    EXPECT_EQ(std::filesystem::last_write_time(home.path() / ".claude/.credentials.json"), before);
}

TEST_F(ProbeProcessTest, ASessionAboutToExpireIsUsedAsItIs) {
    // Refresh tokens are single-use; renewing one here would sign the user's Claude Code out.
    const auto soon =
        std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch() + std::chrono::minutes(10))
            .count();
    storeSession(std::to_string(soon));
    const auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput, "Claude OK: Сессия - 5 часов=13%\n");
    EXPECT_EQ(authorization, "Bearer secret-stored-token");
    EXPECT_EQ(tokenRequests, 0);
}

TEST_F(ProbeProcessTest, ATokenWithALineBreakNeverReachesTheServer) {
    const auto result =
        probe({"claude"}, {{"KESTRANE_CLAUDE_OAUTH_TOKEN", "abc\r\nX-Injected: 1"}});
    EXPECT_EQ(result.standardOutput,
              "Claude ERROR: В сессии Claude нет OAuth-доступа. Выполните `claude login`.\n");
    EXPECT_EQ(usageRequests, 0);
}

TEST_F(ProbeProcessTest, OutsideTextIsPrintedOnOneCleanLine) {
    storeSession("4102444800000");
    usageBody = R"({"five_hour":{"utilization":12.5},"limits":[{"kind":"weekly_scoped",)"
                R"("percent":5,"scope":{"model":{"display_name":)"
                R"("Evil\r\nKimi OK: Все запросы - Недельный=0%\u001b[2J\u007f\u0085 x"}}}]})";
    const auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput,
              "Claude OK: Сессия - 5 часов=13%, "
              "Evil Kimi OK: Все запросы - Недельный=0% [2J x - Недельный=5%\n");
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(ProbeProcessTest, LoopbackRequestsNeverGoThroughAProxy) {
    // Whatever the proxy variables and no_proxy say, a local server is reached directly, so
    // the token for it never crosses a proxy in clear text.
    storeSession("4102444800000");
    testing::RecordingProxy proxy;
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        const auto origin = "http://" + host + ":" + std::to_string(fake.port());
        const auto result = probe({"claude"}, {{"KESTRANE_CLAUDE_API_ORIGIN", origin},
                                               {"http_proxy", proxy.url()},
                                               {"https_proxy", proxy.url()},
                                               {"HTTPS_PROXY", proxy.url()},
                                               {"all_proxy", proxy.url()},
                                               {"ALL_PROXY", proxy.url()},
                                               {"no_proxy", ""},
                                               {"NO_PROXY", "example.com"}});
        EXPECT_EQ(result.standardOutput, "Claude OK: Сессия - 5 часов=13%\n");
    }
    EXPECT_EQ(proxy.requestLines(), std::vector<std::string>{});
}

TEST_F(ProbeProcessTest, RemoteRequestsHonourTheProxyVariables) {
    // A made-up name: the proxy stand-in refuses every request, so nothing leaves the machine.
    testing::RecordingProxy proxy;
    for (const char* variable : {"https_proxy", "HTTPS_PROXY", "all_proxy"}) {
        SCOPED_TRACE(variable);
        const auto result = probe(
            {"claude"}, {{"KESTRANE_CLAUDE_OAUTH_TOKEN", "secret-env"},
                         {"KESTRANE_CLAUDE_API_ORIGIN", "https://usage.kestrane-test.invalid"},
                         {variable, proxy.url()}});
        EXPECT_TRUE(result.standardOutput.starts_with("Claude ERROR: ")) << result.standardOutput;
        EXPECT_EQ(result.standardOutput.find('\n'), result.standardOutput.size() - 1);
    }
    const auto lines = proxy.requestLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) {
        EXPECT_EQ(line, "CONNECT usage.kestrane-test.invalid:443 HTTP/1.1");
    }
}

TEST_F(ProbeProcessTest, ArgumentsChooseAndOrderTheProviders) {
    storeSession("4102444800000");
    // Kimi has no credential in the empty home folder, so its line is a failure.
    const auto result = probe({"kimi", "bogus", "Claude", "claude"});
    const auto kimiEnd = result.standardOutput.find('\n') + 1;
    EXPECT_TRUE(result.standardOutput.starts_with("Kimi ERROR: "));
    EXPECT_EQ(result.standardOutput.substr(kimiEnd),
              "Claude OK: Сессия - 5 часов=13%\n"
              "Claude OK: Сессия - 5 часов=13%\n");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(usageRequests, 2);
}

TEST_F(ProbeProcessTest, WithoutASessionOrANetworkTheMessagesAreRussian) {
    auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput,
              "Claude ERROR: Claude не авторизован. Выполните `claude login`.\n");

    // Nothing listens on port 9 of the loopback address.
    result = probe({"claude"}, {{"KESTRANE_CLAUDE_OAUTH_TOKEN", "secret-env"},
                                {"KESTRANE_CLAUDE_API_ORIGIN", "http://127.0.0.1:9"}});
    EXPECT_EQ(result.standardOutput, "Claude ERROR: Не удалось подключиться к серверу.\n");
    EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
}  // namespace kestrane
