#include "providers/ApiKeys.h"

#include <gtest/gtest.h>

#include <functional>

#include "providers/ClaudeCodeSettings.h"
#include "providers/minimax/MiniMaxClient.h"
#include "providers/openrouter/OpenRouterClient.h"
#include "providers/zai/ZaiClient.h"
#include "support/Fixtures.h"
#include "support/MemorySecretStore.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::ProviderKind;
using Status = platform::SecretStore::Status;
using Variables = std::map<std::string, std::string, std::less<>>;

std::string claudeSettings(const std::string& baseUrl, const std::string& token) {
    return R"({"model":"glm-4.7","env":{"ANTHROPIC_BASE_URL":")" + baseUrl +
           R"(","ANTHROPIC_AUTH_TOKEN":")" + token + R"("}})";
}

// One provider that signs in with an API key, and how its key is looked for.
struct KeyProvider {
    ProviderKind kind;
    const char* variable;
    // A base URL of Claude Code's that runs on the provider; empty when none does.
    const char* claudeCodeBaseUrl;
    std::function<ApiKey(const platform::Environment&, const platform::SecretStore&)> load;
    std::function<bool(const platform::Environment&, const platform::SecretStore&)> has;
};

const KeyProvider kProviders[] = {
    {ProviderKind::zai, "ZAI_API_KEY", "https://api.z.ai/api/anthropic", ZaiClient::loadKey,
     ZaiClient::hasKey},
    {ProviderKind::minimax, "MINIMAX_API_KEY", "https://api.minimax.io/anthropic",
     MiniMaxClient::loadKey, MiniMaxClient::hasKey},
    {ProviderKind::openrouter, "OPENROUTER_API_KEY", "", OpenRouterClient::loadKey,
     OpenRouterClient::hasKey},
};

// A home folder, variables and a keyring for one lookup.
struct Machine {
    testing::TempDirectory home;
    Variables variables;
    testing::MemorySecretStore secrets;

    std::string keyOf(const KeyProvider& provider) {
        const platform::MapEnvironment environment(variables, home.path());
        const bool found = provider.has(environment, secrets);
        try {
            const ApiKey key = provider.load(environment, secrets);
            EXPECT_TRUE(found);
            return key.value + " " + key.place;
        } catch (const std::exception& error) {
            EXPECT_FALSE(found);
            return error.what();
        }
    }
};

TEST(ApiKeysTest, EachProviderLooksInItsOwnPlacesThenTheKeyring) {
    for (const KeyProvider& provider : kProviders) {
        const std::string name(model::rawValue(provider.kind));
        const std::string word(model::commandName(provider.kind));
        const std::string variable = provider.variable;
        SCOPED_TRACE(name);
        const struct {
            const char* name;
            std::function<void(Machine&)> prepare;
            std::string expected;
        } cases[] = {
            {"nothing anywhere", [](Machine&) {},
             "Ключ API " + name + " не найден. Введите его в настройках Kestrane или задайте " +
                 "переменную " + variable + "."},
            {"the keyring", [&](Machine& m) { m.secrets.store(word, "label", " stored-key\n"); },
             "stored-key из связки ключей"},
            {"the variable before the keyring",
             [&](Machine& m) {
                 m.secrets.store(word, "label", "stored-key");
                 m.variables[variable] = "  variable-key ";
             },
             "variable-key из переменной " + variable},
            {"a blank variable",
             [&](Machine& m) {
                 m.secrets.store(word, "label", "stored-key");
                 m.variables[variable] = " \t";
             },
             "stored-key из связки ключей"},
            {"a variable that cannot be a key",
             [&](Machine& m) { m.variables[variable] = "two words"; },
             "Переменная " + variable +
                 " задана неверно: ключ API пишется одной строкой, без пробелов."},
            {"a stored key that cannot be one",
             [&](Machine& m) { m.secrets.store(word, "label", "line\nbreak"); },
             "Ключ API " + name + " в связке ключей повреждён. Введите его заново в настройках " +
                 "Kestrane."},
            {"a locked keyring", [](Machine& m) { m.secrets.status = Status::locked; },
             "Связка ключей заблокирована, ключ API " + name +
                 " не прочитан. Разблокируйте её или задайте переменную " + variable + "."},
            {"no Secret Service", [](Machine& m) { m.secrets.status = Status::unavailable; },
             "Ключ API " + name + " не найден, а служба ключей недоступна: задайте переменную " +
                 variable + "."},
            {"a failing keyring", [](Machine& m) { m.secrets.status = Status::failed; },
             "Не удалось прочитать ключ API " + name +
                 " из связки ключей. Повторите позже или задайте переменную " + variable + "."},
            {"Claude Code on another service",
             [&](Machine& m) {
                 m.home.write(".claude/settings.json",
                              claudeSettings("https://api.anthropic.com", "claude-key"));
                 m.variables[variable] = "variable-key";
             },
             "variable-key из переменной " + variable},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            Machine machine;
            c.prepare(machine);
            EXPECT_EQ(machine.keyOf(provider), c.expected);
        }

        // Claude Code's own key comes first where Claude Code runs on the provider.
        Machine machine;
        machine.variables[variable] = "variable-key";
        if (*provider.claudeCodeBaseUrl) {
            machine.home.write(".claude/settings.json",
                               claudeSettings(provider.claudeCodeBaseUrl, "claude-code-key"));
            EXPECT_EQ(machine.keyOf(provider), "claude-code-key из настроек Claude Code");
        }
    }
}

TEST(ApiKeysTest, ClaudeCodesKeyCountsOnlyOnTheProvidersOwnHosts) {
    const ClaudeCodeHost hosts[] = {{"z.ai", "https://api.z.ai"},
                                    {"bigmodel.cn", "https://open.bigmodel.cn"}};
    const struct {
        std::string settings;
        std::optional<std::string> origin;  // nullopt: no key
    } cases[] = {
        {claudeSettings("https://api.z.ai/api/anthropic", "k"), "https://api.z.ai"},
        {claudeSettings("https://open.bigmodel.cn/api/anthropic", "k"), "https://open.bigmodel.cn"},
        {claudeSettings("HTTPS://API.Z.AI:443/api/anthropic", "k"), "https://api.z.ai"},
        {claudeSettings("https://user@api.z.ai./api", "k"), "https://api.z.ai"},
        {claudeSettings("https://z.ai", "k"), "https://api.z.ai"},
        {claudeSettings("https://notz.ai/api", "k"), std::nullopt},
        {claudeSettings("https://api.z.ai.example.com/api", "k"), std::nullopt},
        {claudeSettings("https://example.com/?https://api.z.ai", "k"), std::nullopt},
        {claudeSettings("api.z.ai", "k"), std::nullopt},
        {claudeSettings("ftp://api.z.ai", "k"), std::nullopt},
        {claudeSettings("https://api.z.ai", " "), std::nullopt},
        {claudeSettings("https://api.z.ai", "with space"), std::nullopt},
        {R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai","ANTHROPIC_API_KEY":"k"}})",
         "https://api.z.ai"},
        {R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai","ANTHROPIC_AUTH_TOKEN":5}})",
         std::nullopt},
        {R"({"env":{"ANTHROPIC_AUTH_TOKEN":"k"}})", std::nullopt},
        {R"({"env":["https://api.z.ai"]})", std::nullopt},
        {R"([1])", std::nullopt},
        {"// not JSON", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        testing::TempDirectory home;
        home.write(".claude/settings.json", c.settings);
        const platform::MapEnvironment environment({}, home.path());
        const auto key = claudeCodeApiKey(environment, hosts);
        ASSERT_EQ(key.has_value(), c.origin.has_value());
        if (key) {
            EXPECT_EQ(key->value, "k");
            EXPECT_EQ(key->origin, c.origin);
        }
    }
}

TEST(ApiKeysTest, ClaudeConfigDirMovesClaudeCodesSettings) {
    const ClaudeCodeHost hosts[] = {{"z.ai", "https://api.z.ai"}};
    testing::TempDirectory home;
    home.write(".claude/settings.json", claudeSettings("https://api.z.ai", "home-key"));
    home.write("moved/settings.json", claudeSettings("https://api.z.ai", "moved-key"));
    const platform::MapEnvironment moved({{"CLAUDE_CONFIG_DIR", (home.path() / "moved").string()}},
                                         home.path());
    EXPECT_EQ(claudeCodeApiKey(moved, hosts)->value, "moved-key");
    const platform::MapEnvironment blank({{"CLAUDE_CONFIG_DIR", " "}}, home.path());
    EXPECT_EQ(claudeCodeApiKey(blank, hosts)->value, "home-key");
    // A file far too large to be Claude Code's settings is not read.
    home.write(".claude/settings.json",
               claudeSettings("https://api.z.ai", "k") + std::string(2 << 20, ' '));
    EXPECT_EQ(claudeCodeApiKey(blank, hosts), std::nullopt);
}

TEST(ApiKeysTest, KeysAreOneLineOfVisibleAscii) {
    EXPECT_TRUE(isUsableApiKey("sk-or-v1-0123456789abcdef"));
    EXPECT_TRUE(isUsableApiKey(std::string(kMaxApiKeyBytes, 'k')));
    for (const std::string& text : {std::string(), std::string("a b"), std::string("a\r\nX: 1"),
                                    std::string("ключ"), std::string(kMaxApiKeyBytes + 1, 'k')}) {
        SCOPED_TRACE(text.substr(0, 20));
        EXPECT_FALSE(isUsableApiKey(text));
    }
    EXPECT_EQ(apiKeyLabel(ProviderKind::zai), "Kestrane: ключ API z.ai");
    EXPECT_EQ(apiKeyLabel(ProviderKind::openrouter), "Kestrane: ключ API OpenRouter");
}

}  // namespace
}  // namespace kestrane::providers
