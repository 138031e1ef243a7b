#include "providers/StoredSignIn.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "providers/cursor/CursorTestSupport.h"
#include "support/FixedClock.h"
#include "support/MemorySecretStore.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::ProviderKind;

const std::string claudeSession = R"({"claudeAiOauth":{"accessToken":"test-not-secret"}})";

// A fresh home folder, made up by `prepare`, with `variables` (where "<home>" stands for the
// folder) and `secrets`: which providers' sign-ins or keys are found there.
struct Machine {
    testing::TempDirectory home;
    std::map<std::string, std::string, std::less<>> variables;
    testing::MemorySecretStore secrets;

    std::set<ProviderKind> signedIn() const {
        std::map<std::string, std::string, std::less<>> expanded;
        for (const auto& [name, value] : variables) {
            std::string text = value;
            if (const auto at = text.find("<home>"); at != std::string::npos) {
                text.replace(at, 6, home.path().string());
            }
            expanded[name] = text;
        }
        const platform::MapEnvironment environment(expanded, home.path());
        const testing::FixedClock clock(platform::Date{1'800'000'000});
        const ProviderContext context{environment, clock, secrets};
        std::set<ProviderKind> found;
        for (const ProviderKind kind : model::allProviderKinds) {
            if (hasStoredSignIn(kind, context)) found.insert(kind);
        }
        return found;
    }
};

TEST(StoredSignInTest, FindsEachProvidersOwnSignInAndNothingElse) {
    const struct {
        const char* name;
        std::function<void(Machine&)> prepare;
        std::set<ProviderKind> expected;
    } cases[] = {
        {"an empty home", [](Machine&) {}, {}},
        {"folders of the tools without a sign-in",
         [](Machine& m) {
             for (const char* folder : {".claude", ".codex", ".kimi-code/credentials"}) {
                 std::filesystem::create_directories(m.home.path() / folder);
             }
         },
         {}},

        {"Claude's credentials file",
         [](Machine& m) { m.home.write(".claude/.credentials.json", claudeSession); },
         {ProviderKind::claude}},
        {"Claude's file in CLAUDE_CONFIG_DIR",
         [](Machine& m) {
             m.home.write("elsewhere/.credentials.json", claudeSession);
             m.variables["CLAUDE_CONFIG_DIR"] = "<home>/elsewhere";
         },
         {ProviderKind::claude}},
        {"Claude's file where CLAUDE_CONFIG_DIR does not point",
         [](Machine& m) {
             m.home.write(".claude/.credentials.json", claudeSession);
             m.variables["CLAUDE_CONFIG_DIR"] = "<home>/elsewhere";
         },
         {}},
        {"a Claude file without a token",
         [](Machine& m) { m.home.write(".claude/.credentials.json", R"({"claudeAiOauth":{}})"); },
         {}},
        {"a Claude file that is not JSON",
         [](Machine& m) { m.home.write(".claude/.credentials.json", "\x01\x02"); },
         {}},
        {"Claude's token variable",
         [](Machine& m) { m.variables["KESTRANE_CLAUDE_OAUTH_TOKEN"] = "test-not-secret"; },
         {ProviderKind::claude}},

        {"Codex's auth file",
         [](Machine& m) { m.home.write(".codex/auth.json", "{}"); },
         {ProviderKind::codex}},
        {"Codex's auth file in CODEX_HOME",
         [](Machine& m) {
             m.home.write("codex-home/auth.json", "{}");
             m.variables["CODEX_HOME"] = "<home>/codex-home";
         },
         {ProviderKind::codex}},
        {"Codex's auth file where CODEX_HOME does not point",
         [](Machine& m) {
             m.home.write(".codex/auth.json", "{}");
             m.variables["CODEX_HOME"] = "<home>/codex-home";
         },
         {}},
        {"a folder named auth.json",
         [](Machine& m) {
             std::filesystem::create_directories(m.home.path() / ".codex/auth.json");
         },
         {}},

        {"Cursor's state database with a session",
         [](Machine& m) {
             testing::makeStateDatabase(
                 m.home.path() / ".config/Cursor/User/globalStorage/state.vscdb",
                 testing::makeJwt(R"({"sub":"auth0|user_1","exp":1})"));
         },
         {ProviderKind::cursor}},
        {"Cursor's state database under XDG_CONFIG_HOME",
         [](Machine& m) {
             testing::makeStateDatabase(
                 m.home.path() / "conf/Cursor/User/globalStorage/state.vscdb",
                 testing::makeJwt(R"({"sub":"auth0|user_1"})"));
             m.variables["XDG_CONFIG_HOME"] = "<home>/conf";
         },
         {ProviderKind::cursor}},
        {"Cursor's state database after signing out",
         [](Machine& m) {
             testing::makeStateDatabase(
                 m.home.path() / ".config/Cursor/User/globalStorage/state.vscdb", std::nullopt);
         },
         {}},

        {"Kimi's credentials file",
         [](Machine& m) { m.home.write(".kimi-code/credentials/kimi-code.json", "{}"); },
         {ProviderKind::kimi}},
        {"Kimi's credentials file in KIMI_CODE_HOME",
         [](Machine& m) {
             m.home.write("kimi/credentials/kimi-code.json", "{}");
             m.variables["KIMI_CODE_HOME"] = "<home>/kimi";
         },
         {ProviderKind::kimi}},
        {"Kimi's API key",
         [](Machine& m) { m.variables["KIMI_CODE_API_KEY"] = "test-key"; },
         {ProviderKind::kimi}},
        {"a blank Kimi API key", [](Machine& m) { m.variables["KIMI_CODE_API_KEY"] = " \t"; }, {}},

        {"Antigravity's state folder",
         [](Machine& m) {
             std::filesystem::create_directories(m.home.path() / ".config/Antigravity/User");
         },
         {ProviderKind::antigravity}},
        {"a file named like Antigravity's folder",
         [](Machine& m) { m.home.write(".config/Antigravity", ""); },
         {}},

        {"z.ai's key in the environment",
         [](Machine& m) { m.variables["ZAI_API_KEY"] = "zai-key"; },
         {ProviderKind::zai}},
        {"Claude Code running on z.ai",
         [](Machine& m) {
             m.home.write(".claude/settings.json",
                          R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai/api/anthropic",)"
                          R"("ANTHROPIC_AUTH_TOKEN":"zai-key"}})");
         },
         {ProviderKind::zai}},
        {"Claude Code running on MiniMax in mainland China",
         [](Machine& m) {
             m.home.write(".claude/settings.json",
                          R"({"env":{"ANTHROPIC_BASE_URL":"https://api.minimaxi.com/anthropic",)"
                          R"("ANTHROPIC_AUTH_TOKEN":"minimax-key"}})");
         },
         {ProviderKind::minimax}},
        {"Claude Code on Anthropic's own service",
         [](Machine& m) {
             m.home.write(".claude/settings.json",
                          R"({"env":{"ANTHROPIC_BASE_URL":"https://api.anthropic.com",)"
                          R"("ANTHROPIC_AUTH_TOKEN":"claude-key"}})");
         },
         {}},
        {"keys in the keyring",
         [](Machine& m) {
             m.secrets.store("minimax", "label", "minimax-key");
             m.secrets.store("openrouter", "label", "sk-or-v1-key");
         },
         {ProviderKind::minimax, ProviderKind::openrouter}},
        {"a locked keyring",
         [](Machine& m) {
             m.secrets.store("openrouter", "label", "sk-or-v1-key");
             m.secrets.status = platform::SecretStore::Status::locked;
         },
         {}},
        {"blank keys",
         [](Machine& m) {
             m.variables["MINIMAX_API_KEY"] = " ";
             m.variables["OPENROUTER_API_KEY"] = "";
         },
         {}},

        {"several at once",
         [](Machine& m) {
             m.home.write(".claude/.credentials.json", claudeSession);
             m.home.write(".codex/auth.json", "{}");
             m.variables["KIMI_CODE_API_KEY"] = "test-key";
         },
         {ProviderKind::claude, ProviderKind::codex, ProviderKind::kimi}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Machine machine;
        testCase.prepare(machine);
        EXPECT_EQ(machine.signedIn(), testCase.expected);
    }
}

}  // namespace
}  // namespace kestrane::providers
