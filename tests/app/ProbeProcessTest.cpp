// Runs the built executable in probe mode against a fake Claude, with HOME in a temporary folder.
#include <gtest/gtest.h>

#include <atomic>

#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

class ProbeProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.server().Get("/api/oauth/usage", [this](const httplib::Request& request,
                                                     httplib::Response& response) {
            ++usageRequests;
            authorization = request.get_header_value("Authorization");
            response.status = usageStatus;
            response.set_content(usageBody, "application/json");
        });
        fake.server().Post("/v1/oauth/token", [this](const httplib::Request&,
                                                     httplib::Response& response) {
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
            {"KESTRANE_CLAUDE_AUTH_ORIGIN", fake.origin()},
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
    std::string usageBody = R"({"five_hour":{"utilization":12.5,"resets_at":"2030-01-01T00:00:00Z"}})";
};

TEST_F(ProbeProcessTest, PrintsTheUsedShareOfEachWindow) {
    storeSession("4102444800000");  // far in the future
    usageBody = R"({"five_hour":{"utilization":12.5},"seven_day":{"utilization":62.5}})";
    const auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput, "Claude OK: Сессия - 5 часов=13%, Все модели - Недельный=63%\n");
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

TEST_F(ProbeProcessTest, AnExpiredSessionIsRefreshedFirstAndNothingIsWritten) {
    storeSession("1000");
    const auto before = std::filesystem::last_write_time(home.path() / ".claude/.credentials.json");
    const auto result = probe({"claude"});
    EXPECT_EQ(result.standardOutput, "Claude OK: Сессия - 5 часов=13%\n");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(tokenRequests, 1);
    EXPECT_EQ(authorization, "Bearer secret-fresh-token");
    EXPECT_EQ(std::filesystem::last_write_time(home.path() / ".claude/.credentials.json"), before);
    EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
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
    EXPECT_EQ(result.standardOutput, "Claude ERROR: Claude не авторизован. Выполните `claude login`.\n");

    // Nothing listens on port 9 of the loopback address.
    result = probe({"claude"}, {{"KESTRANE_CLAUDE_OAUTH_TOKEN", "secret-env"},
                                {"KESTRANE_CLAUDE_API_ORIGIN", "http://127.0.0.1:9"}});
    EXPECT_EQ(result.standardOutput, "Claude ERROR: Не удалось подключиться к серверу.\n");
    EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
}  // namespace kestrane
