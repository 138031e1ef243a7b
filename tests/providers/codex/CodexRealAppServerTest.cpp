// The probe against the real `codex app-server` from the npm package that scripts/setup
// installs into the build tree, with HOME in a temporary folder: nobody signed in, an API key
// only, and a ChatGPT login the server no longer accepts (a local stand-in for chatgpt.com
// answering 401). Each time the server refuses the rate limits in its own English words, and
// the probe says in Russian what to do.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/FakeHttpServer.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

namespace fs = std::filesystem;

// The folder holding `node` on this test's PATH; the package's launcher is a node script.
std::optional<fs::path> nodeDirectory() {
    const char* path = std::getenv("PATH");
    std::stringstream pieces(path ? path : "");
    for (std::string piece; std::getline(pieces, piece, ':');) {
        if (!piece.empty() && ::access((fs::path(piece) / "node").c_str(), X_OK) == 0) {
            return fs::path(piece);
        }
    }
    return std::nullopt;
}

// Processes whose working directory is `directory`: the client starts codex there.
std::vector<std::string> processesWorkingIn(const fs::path& directory) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        if (fs::read_symlink(entry.path() / "cwd", ignored) == directory) found.push_back(name);
    }
    return found;
}

// An ID token the server can read: the claims it looks at, a far-off expiry, no real signature.
const char* const kFakeIdToken =
    "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0."
    "eyJlbWFpbCI6ImZpcnN0QGV4YW1wbGUuY29tIiwiZXhwIjo0MTAyNDQ0ODAwLCJodHRwczovL2FwaS5vcGVuYWkuY29t"
    "L2F1dGgiOnsiY2hhdGdwdF9wbGFuX3R5cGUiOiJwbHVzIiwiY2hhdGdwdF9hY2NvdW50X2lkIjoiYWNjb3VudC0xIiwi"
    "Y2hhdGdwdF91c2VyX2lkIjoidXNlci0xIn19.c2lnbmF0dXJl";

// A login refreshed just now, so that the server does not try to refresh it first.
std::string chatgptLogin() {
    char refreshed[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(refreshed, sizeof refreshed, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return std::string(R"({"OPENAI_API_KEY":null,"tokens":{"id_token":")") + kFakeIdToken +
           R"(","access_token":")" + kFakeIdToken +
           R"(","refresh_token":"not-a-token","account_id":"account-1"},"last_refresh":")" +
           refreshed + R"("})";
}

TEST(CodexRealAppServerTest, FirstRunRefusalsSayWhatToDo) {
    const fs::path codex = KESTRANE_REAL_CODEX;
    if (!fs::exists(codex)) {
        GTEST_SKIP() << "the @openai/codex npm package is not installed at " << codex
                     << " (scripts/setup could not download it; run it again with network access)";
    }
    const auto node = nodeDirectory();
    if (!node) GTEST_SKIP() << "node is not on PATH; the codex launcher needs it";
    const std::string searchPath = node->string() + ":/usr/bin:/bin";
    // A download cut short can leave the launcher without its native program.
    if (testing::runProcess(codex.string(), {"--version"}, {{"PATH", searchPath}}).exitStatus !=
        0) {
        GTEST_SKIP() << "the @openai/codex npm package at " << codex
                     << " does not run (incomplete download?); run scripts/setup again";
    }

    // Everything the server asks of chatgpt.com: the login is no longer accepted.
    testing::FakeHttpServer chatgpt;
    chatgpt.server().Get(".*", [](const httplib::Request&, httplib::Response& response) {
        response.status = 401;
        response.set_content(R"({"error":{"code":"token_expired"}})", "application/json");
    });
    chatgpt.server().Post(
        ".*", [](const httplib::Request&, httplib::Response& response) { response.status = 401; });
    chatgpt.start();

    struct Case {
        const char* name;
        std::string authJson;
        std::string configToml;
        std::string output;
    };
    const Case cases[] = {
        {"nobody signed in", "", "",
         "Codex ERROR: Codex не авторизован. Выполните `codex login`.\n"},
        // What `codex login --with-api-key` writes.
        {"API key only", R"({"auth_mode":"apikey","OPENAI_API_KEY":"sk-not-a-real-key"})", "",
         "Codex ERROR: Codex вошёл по API-ключу, а лимиты подписки видны только после входа "
         "через ChatGPT. Выполните `codex login`.\n"},
        {"login no longer accepted", chatgptLogin(),
         "chatgpt_base_url = \"" + chatgpt.origin() + "/backend-api/\"\n",
         "Codex ERROR: Вход в Codex больше не действует. Выполните `codex login`.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDirectory folder;
        const fs::path home = folder.path() / "home";
        fs::create_directories(home / ".codex");
        if (!c.authJson.empty()) std::ofstream(home / ".codex" / "auth.json") << c.authJson;
        if (!c.configToml.empty()) std::ofstream(home / ".codex" / "config.toml") << c.configToml;
        const fs::path workingDirectory = fs::canonical(folder.path());

        const auto run = testing::runProcess(
            testing::kestraneExecutable(), {"--probe", "codex"},
            {{"HOME", home.string()},
             {"TMPDIR", workingDirectory.string()},
             {"CODEX_PATH", codex.string()},
             // After the 401 the server tries to renew the login: at the stand-in too, which
             // refuses, so that the server gives up with "could not be refreshed".
             {"CODEX_REFRESH_TOKEN_URL_OVERRIDE", chatgpt.origin() + "/oauth/token"},
             {"PATH", searchPath}},
            std::chrono::seconds(90));

        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.standardOutput, c.output);
        EXPECT_EQ(run.standardError, "");
        EXPECT_EQ(processesWorkingIn(workingDirectory), std::vector<std::string>{})
            << "a codex process outlived the probe";
    }
}

TEST(CodexRealAppServerTest, WithoutNodeOnThePathTheProbeSaysWhatIsMissing) {
    // A tray started by the desktop session often has a short PATH; the npm launcher then
    // cannot find node.
    const fs::path codex = KESTRANE_REAL_CODEX;
    if (!fs::exists(codex)) {
        GTEST_SKIP() << "the @openai/codex npm package is not installed at " << codex;
    }
    if (::access((codex.parent_path() / "node").c_str(), X_OK) == 0) {
        GTEST_SKIP() << "node lives beside the launcher here, so it is always found";
    }
    const testing::TempDirectory folder;
    const fs::path home = folder.path() / "home";
    fs::create_directories(home);
    const auto run = testing::runProcess(testing::kestraneExecutable(), {"--probe", "codex"},
                                         {{"HOME", home.string()},
                                          {"TMPDIR", folder.path().string()},
                                          {"CODEX_PATH", codex.string()},
                                          {"PATH", (folder.path() / "no-node").string()}},
                                         std::chrono::seconds(90));
    EXPECT_EQ(
        run.standardOutput,
        "Codex ERROR: Codex найден, но для запуска ему нужен Node.js, которого нет в PATH.\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.standardError, "");
}

}  // namespace
}  // namespace kestrane::providers
