// The built executable probing GitHub Copilot and Gemini CLI against fakes on the loopback
// interface, with HOME in a temporary folder.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/Files.h"
#include "platform/Json.h"
#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

std::string fixture(const std::string& name) {
    return platform::readFile(std::string(KESTRANE_FIXTURES) + "/" + name, 1 << 20).value();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        result.push_back(text.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return result;
}

class CopilotGeminiProbeProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto answer = [this](int& status, std::string& body) {
            return [this, &status, &body](const httplib::Request&, httplib::Response& response) {
                std::lock_guard lock(mutex);
                ++requests;
                response.status = status;
                response.set_content(body, "application/json");
            };
        };
        fake.server().Get("/copilot_internal/user", answer(copilotStatus, copilotBody));
        fake.server().Post("/v1internal:loadCodeAssist", answer(loadStatus, loadBody));
        fake.server().Post("/v1internal:retrieveUserQuota", answer(quotaStatus, quotaBody));
        fake.server().Post("/token", answer(tokenStatus, tokenBody));
        fake.start();
    }

    void storeSignIns() const {
        home.write(
            ".config/github-copilot/apps.json",
            R"({"github.com:Iv1.b507a08c87ecfe98":{"user":"octocat","oauth_token":"ghu_secret"}})");
        home.write(".gemini/oauth_creds.json",
                   R"({"access_token":"ya29.secret","refresh_token":"1//secret",)"
                   R"("token_type":"Bearer","expiry_date":4102444800000})");
    }

    testing::ProcessOutput probe(std::vector<std::string> arguments) const {
        const std::map<std::string, std::string> environment = {
            {"HOME", home.path().string()},
            {"PATH", "/usr/bin:/bin"},
            // A GitHub CLI on this machine finds no sign-in in an empty folder.
            {"GH_CONFIG_DIR", (home.path() / "gh").string()},
            {"KESTRANE_COPILOT_ORIGIN", fake.origin()},
            {"KESTRANE_GEMINI_ORIGIN", fake.origin()},
            {"KESTRANE_GEMINI_AUTH_ORIGIN", fake.origin()},
            // The first five providers' servers are the fake too, which knows none of them.
            {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
            {"KESTRANE_CURSOR_ORIGIN", fake.origin()},
            {"KESTRANE_KIMI_ORIGIN", fake.origin()},
        };
        arguments.insert(arguments.begin(), "--probe");
        return testing::runProcess(testing::kestraneExecutable(), arguments, environment);
    }

    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    std::mutex mutex;
    int requests = 0;
    int copilotStatus = 200, loadStatus = 200, quotaStatus = 200, tokenStatus = 200;
    std::string copilotBody = fixture("copilot/user_pro.json");
    std::string loadBody = fixture("gemini/load_code_assist.json");
    std::string quotaBody = fixture("gemini/quota.json");
    std::string tokenBody = R"({"access_token":"ya29.renewed","expires_in":3599})";
};

TEST_F(CopilotGeminiProbeProcessTest, OneLineEachAndSuccess) {
    storeSignIns();
    const auto result = probe({"copilot", "GEMINI"});
    EXPECT_EQ(result.standardOutput,
              "GitHub Copilot OK: Премиум-запросы - Месячный=38%\n"
              "Gemini CLI OK: Pro - Дневной=60%, Flash - Дневной=20%, Flash Lite - Дневной=0%\n");
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(CopilotGeminiProbeProcessTest, FailuresAreOneRussianLineEachAndExitWithOne) {
    storeSignIns();
    copilotStatus = 401;
    quotaStatus = 429;
    const auto result = probe({"copilot", "gemini"});
    EXPECT_EQ(result.standardOutput,
              "GitHub Copilot ERROR: Вход в GitHub Copilot больше не действителен. Войдите в "
              "Copilot снова в редакторе или выполните `gh auth login`.\n"
              "Gemini CLI ERROR: Google временно ограничил проверку квот Gemini. Повторите "
              "позже.\n");
    EXPECT_EQ(result.exitStatus, 1);
    // One of two fails: still status 1.
    copilotStatus = 200;
    EXPECT_EQ(probe({"copilot", "gemini"}).exitStatus, 1);
    quotaStatus = 200;
    EXPECT_EQ(probe({"copilot", "gemini"}).exitStatus, 0);
}

TEST_F(CopilotGeminiProbeProcessTest, WithoutSignInsTheUserIsToldWhereToSignIn) {
    const auto result = probe({"copilot", "gemini"});
    EXPECT_EQ(result.standardOutput,
              "GitHub Copilot ERROR: GitHub Copilot не авторизован. Войдите в Copilot в "
              "редакторе (VS Code, JetBrains, Neovim) или выполните `gh auth login`.\n"
              "Gemini CLI ERROR: Gemini CLI не авторизован. Запустите `gemini` и войдите через "
              "Google.\n");
    EXPECT_EQ(result.exitStatus, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(requests, 0);
}

TEST_F(CopilotGeminiProbeProcessTest, UnnamedTheyAreAskedOnlyWhenSignedIn) {
    const auto providersOf = [](const std::string& output) {
        std::vector<std::string> names;
        for (const auto& line : lines(output)) names.push_back(line.substr(0, line.find(' ')));
        return names;
    };
    // A machine without either: the same five lines as before, no new failure.
    auto result = probe({});
    EXPECT_EQ(providersOf(result.standardOutput),
              (std::vector<std::string>{"Codex", "Cursor", "Claude", "Kimi", "Antigravity"}))
        << result.standardOutput;

    storeSignIns();
    result = probe({});
    const auto printed = lines(result.standardOutput);
    ASSERT_EQ(printed.size(), 7u) << result.standardOutput;
    EXPECT_EQ(printed[5], "GitHub Copilot OK: Премиум-запросы - Месячный=38%");
    EXPECT_TRUE(printed[6].starts_with("Gemini CLI OK: ")) << printed[6];

    // The JSON form asks the same providers.
    result = probe({"--json"});
    const auto document = platform::parseJson(result.standardOutput);
    std::vector<std::string> names;
    for (const auto& entry : document.at("providers")) names.push_back(entry.at("provider"));
    EXPECT_EQ(names, (std::vector<std::string>{"Codex", "Cursor", "Claude", "Kimi", "Antigravity",
                                               "GitHub Copilot", "Gemini CLI"}));
}

TEST_F(CopilotGeminiProbeProcessTest, TheAccountAndPlanReachTheJsonButNoTokenDoes) {
    storeSignIns();
    // Expired: renewed in memory with the refresh token.
    home.write(".gemini/oauth_creds.json",
               R"({"access_token":"ya29.secret","refresh_token":"1//secret","expiry_date":1000})");
    const auto before = platform::readFile(home.path() / ".gemini/oauth_creds.json", 1 << 20);
    const auto result = probe({"--json", "copilot", "gemini"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    const auto document = platform::parseJson(result.standardOutput);
    const auto& copilot = document.at("providers")[0].at("usage");
    EXPECT_EQ(copilot.at("email"), "octocat");
    EXPECT_EQ(copilot.at("plan"), "Individual Pro");
    EXPECT_EQ(copilot.at("windows")[0].at("resetsAt"), "2026-01-01T00:00:00Z");
    const auto& gemini = document.at("providers")[1].at("usage");
    EXPECT_EQ(gemini.at("plan"), "Free");
    EXPECT_EQ(gemini.at("windows")[0].at("id"), "gemini-pro");
    EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
    EXPECT_EQ(result.standardOutput.find("renewed"), std::string::npos);
    EXPECT_EQ(platform::readFile(home.path() / ".gemini/oauth_creds.json", 1 << 20), before);
}

}  // namespace
}  // namespace kestrane
