// Whole-process runs of the probe with known fake secrets for every HTTP provider: whatever
// the providers answer, even when a server reflects the secrets back, none of them may appear
// in the output or in any file the program writes.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>

#include "history/UsageHistoryStore.h"
#include "platform/Calendar.h"
#include "platform/Files.h"
#include "platform/HttpClient.h"
#include "platform/Json.h"
#include "providers/cursor/CursorTestSupport.h"
#include "reliability/FakeProviders.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

std::map<fs::path, std::string> filesUnder(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path()] = platform::readFile(entry.path(), 64 << 20).value_or("");
        }
    }
    return files;
}

class SecretsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        home.write(".claude/.credentials.json",
                   std::string(R"({"claudeAiOauth":{"accessToken":")") + testing::kClaudeToken +
                       R"(","refreshToken":")" + testing::kClaudeRefreshToken +
                       R"(","expiresAt":4102444800000,"subscriptionType":"max"}})");
        testing::makeStateDatabase(home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                                   testing::cursorAccessToken());
        home.write(".kimi-code/credentials/kimi-code.json", std::string(R"({"access_token":")") +
                                                                testing::kKimiToken +
                                                                R"(","expires_at":4102444800})");
        testing::storeCopilotSignIn(home.path());
        testing::storeGeminiSignIn(home.path());
        // Claude Code running on z.ai: its key is z.ai's.
        home.write(
            ".claude/settings.json",
            std::string(R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai/api/anthropic",)") +
                R"("ANTHROPIC_AUTH_TOKEN":")" + testing::kZaiKey + R"("}})");
        before = filesUnder(home.path());
    }

    testing::ProcessOutput probe(const std::string& origin,
                                 std::map<std::string, std::string> extra = {}) {
        std::map<std::string, std::string> environment = {
            {"HOME", home.path().string()},
            {"PATH", "/usr/bin:/bin"},
            {"KESTRANE_CLAUDE_API_ORIGIN", origin},
            {"KESTRANE_CURSOR_ORIGIN", origin},
            {"KESTRANE_KIMI_ORIGIN", origin},
            {"KESTRANE_COPILOT_ORIGIN", origin},
            {"KESTRANE_GEMINI_ORIGIN", origin},
            {"KESTRANE_GEMINI_AUTH_ORIGIN", origin},
            {"KESTRANE_ZAI_ORIGIN", origin},
            {"KESTRANE_MINIMAX_ORIGIN", origin},
            {"KESTRANE_OPENROUTER_ORIGIN", origin},
            {"MINIMAX_API_KEY", testing::kMiniMaxKey},
            {"OPENROUTER_API_KEY", testing::kOpenRouterKey},
        };
        environment.merge(extra);
        return testing::runProcess(testing::kestraneExecutable(),
                                   {"--probe", "claude", "cursor", "kimi", "copilot", "gemini",
                                    "zai", "minimax", "openrouter"},
                                   environment);
    }

    // Every secret the program was given or was handed by a provider.
    std::vector<std::string> secrets() const {
        return {testing::kClaudeToken,
                testing::kClaudeRefreshToken,
                testing::kClaudeFreshToken,
                testing::kKimiToken,
                testing::kKimiKey,
                testing::kCursorSignature,
                testing::cursorAccessToken(),
                testing::kCopilotToken,
                testing::kGeminiAccessToken,
                testing::kGeminiRefreshToken,
                testing::kGeminiRenewedToken,
                testing::kZaiKey,
                testing::kMiniMaxKey,
                testing::kOpenRouterKey};
    }

    void expectNoSecretIn(const testing::ProcessOutput& output) {
        for (const auto& secret : secrets()) {
            SCOPED_TRACE(secret);
            EXPECT_EQ(output.standardOutput.find(secret), std::string::npos);
            EXPECT_EQ(output.standardError.find(secret), std::string::npos);
            // Files the program created or changed; the tools' own credential files hold
            // their secrets by nature and must simply be left as they were.
            for (const auto& [path, contents] : filesUnder(home.path())) {
                const auto old = before.find(path);
                if (old != before.end() && old->second == contents) continue;
                EXPECT_EQ(contents.find(secret), std::string::npos) << path;
            }
        }
    }

    testing::TempDirectory home;
    std::map<fs::path, std::string> before;
};

TEST_F(SecretsTest, SuccessfulProbeShowsNoSecret) {
    std::mutex mutex;
    std::vector<std::string> credentialsSeen;
    std::optional<testing::FakeHttpServer> server(std::in_place);
    testing::serveValidAnswers(server->server());
    server->server().set_logger([&](const httplib::Request& request, const httplib::Response&) {
        std::lock_guard lock(mutex);
        credentialsSeen.push_back(request.get_header_value("Authorization") +
                                  request.get_header_value("Cookie") + request.body);
    });
    server->start();

    const auto output = probe(server->origin());
    // The server logs a request after answering it: stopping it waits for the last entry.
    server.reset();
    EXPECT_NE(output.standardOutput.find("Claude OK: "), std::string::npos)
        << output.standardOutput;
    EXPECT_NE(output.standardOutput.find("Cursor OK: "), std::string::npos)
        << output.standardOutput;
    EXPECT_NE(output.standardOutput.find("Kimi OK: "), std::string::npos) << output.standardOutput;
    EXPECT_NE(output.standardOutput.find("GitHub Copilot OK: "), std::string::npos)
        << output.standardOutput;
    EXPECT_NE(output.standardOutput.find("Gemini CLI OK: "), std::string::npos)
        << output.standardOutput;
    for (const char* line : {"z.ai OK: ", "MiniMax OK: ", "OpenRouter OK: "}) {
        EXPECT_NE(output.standardOutput.find(line), std::string::npos) << output.standardOutput;
    }
    EXPECT_EQ(output.standardError, "");
    // The secrets were really used: stored Claude session, Cursor cookie, Kimi token. The
    // Claude refresh token is never sent anywhere (redeeming it would sign Claude Code out).
    std::string seen;
    for (const auto& line : credentialsSeen) seen += line + "\n";
    for (const auto* used : {testing::kClaudeToken, testing::kCursorSignature, testing::kKimiToken,
                             testing::kCopilotToken, testing::kGeminiAccessToken, testing::kZaiKey,
                             testing::kMiniMaxKey, testing::kOpenRouterKey}) {
        EXPECT_NE(seen.find(used), std::string::npos) << used;
    }
    EXPECT_EQ(seen.find(testing::kClaudeRefreshToken), std::string::npos);
    // The Gemini access token is still valid: its refresh token stays at home.
    EXPECT_EQ(seen.find(testing::kGeminiRefreshToken), std::string::npos);
    expectNoSecretIn(output);
}

TEST_F(SecretsTest, ServersThatReflectTheSecretsCannotMakeTheProgramShowThem) {
    // Every endpoint answers with everything it was sent, under statuses that lead the
    // clients down each of their failure paths.
    for (const int status : {200, 400, 401, 403, 429, 500}) {
        SCOPED_TRACE(status);
        testing::FakeHttpServer server;
        const auto reflect = [status](const httplib::Request& request,
                                      httplib::Response& response) {
            std::string echo = request.body;
            for (const auto& [name, value] : request.headers) echo += name + ": " + value + "\n";
            response.status = status;
            response.set_content(R"({"error":")" + echo + R"(", "email":")" + echo + R"("})",
                                 "application/json");
        };
        for (const char* path :
             {"/api/oauth/usage", "/api/usage-summary", "/api/auth/me", "/coding/v1/usages",
              "/copilot_internal/user", "/api/monitor/usage/quota/limit",
              "/v1/api/openplatform/coding_plan/remains", "/api/v1/key"}) {
            server.server().Get(path, reflect);
        }
        // Gemini renews its session on a 401, sending its refresh token to /token.
        for (const char* path : {"/v1/oauth/token", "/token", "/v1internal:loadCodeAssist",
                                 "/v1internal:retrieveUserQuota"}) {
            server.server().Post(path, reflect);
        }
        server.start();
        // With the Kimi key from the environment as well as from the tool's file.
        expectNoSecretIn(probe(server.origin()));
        expectNoSecretIn(
            probe(server.origin(), {{"KIMI_CODE_API_KEY", testing::kKimiKey},
                                    {"KESTRANE_CLAUDE_OAUTH_TOKEN", testing::kClaudeToken}}));
    }
}

// The application records every successful fetch in the history file; what it keeps of an
// account is a digest, so even an answer that carries the secrets back leaves none there.
TEST_F(SecretsTest, HistoryFileOfFetchesWithSecretsHoldsNoneOfThem) {
    testing::FakeHttpServer server;
    testing::serveValidAnswers(server.server());
    // The account answer reflects the session cookie as the e-mail.
    server.server().Get("/api/auth/me", [](const httplib::Request& request,
                                           httplib::Response& response) {
        response.set_content(platform::Json{{"email", request.get_header_value("Cookie")}}.dump(),
                             "application/json");
    });
    server.start();

    const auto file = home.path() / ".local/share/Kestrane/usage-history-v1.json";
    const platform::Date now{1'765'000'000};
    history::UsageHistoryStore store(file, now, platform::Calendar("Europe/Moscow"));
    for (const auto& provider : testing::httpProviders()) {
        if (provider.everyFailureMessage) continue;  // no secret of ours goes to a local server
        SCOPED_TRACE(provider.name);
        const auto fetched = provider.fetch(server.origin(), {}, home.path());
        store.record(fetched, fetched.updatedAt);
    }
    ASSERT_EQ(store.persistenceError(), std::nullopt);
    ASSERT_TRUE(fs::exists(file));
    expectNoSecretIn({});
}

}  // namespace
}  // namespace kestrane
