#include "providers/ApiKeySettings.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/FakeHttpServer.h"
#include "support/FixedClock.h"
#include "support/Fixtures.h"
#include "support/MemorySecretStore.h"
#include "support/TempDirectory.h"

namespace kestrane::providers {
namespace {

using model::ProviderKind;
using Status = platform::SecretStore::Status;
using Variables = std::map<std::string, std::string, std::less<>>;

TEST(ApiKeySettingsTest, OnlyTheProvidersThatSignInWithAKeyHaveARow) {
    for (const ProviderKind kind : model::allProviderKinds) {
        SCOPED_TRACE(model::rawValue(kind));
        const bool key = kind == ProviderKind::zai || kind == ProviderKind::minimax ||
                         kind == ProviderKind::openrouter;
        EXPECT_EQ(usesApiKey(kind), key);
    }
    EXPECT_EQ(apiKeyVariable(ProviderKind::zai), "ZAI_API_KEY");
    EXPECT_EQ(apiKeyVariable(ProviderKind::minimax), "MINIMAX_API_KEY");
    EXPECT_EQ(apiKeyVariable(ProviderKind::openrouter), "OPENROUTER_API_KEY");
}

TEST(ApiKeySettingsTest, TheRowSaysWhereTheKeyComesFromOrWhyThereIsNone) {
    const struct {
        const char* name;
        std::function<void(testing::MemorySecretStore&, Variables&, testing::TempDirectory&)>
            prepare;
        bool canStore;
        const char* text;
    } cases[] = {
        {"nothing", [](auto&, auto&, auto&) {}, true, "Ключ не задан."},
        {"a stored key",
         [](auto& secrets, auto&, auto&) { secrets.store("zai", "label", "stored"); }, true,
         "Ключ хранится в связке ключей."},
        {"the variable",
         [](auto&, auto& variables, auto&) { variables["ZAI_API_KEY"] = "from-variable"; }, true,
         "Ключ берётся из переменной ZAI_API_KEY."},
        {"a stored key and the variable",
         [](auto& secrets, auto& variables, auto&) {
             secrets.store("zai", "label", "stored");
             variables["ZAI_API_KEY"] = "from-variable";
         },
         true, "Ключ хранится в связке ключей, но сейчас берётся из переменной ZAI_API_KEY."},
        {"Claude Code on z.ai",
         [](auto&, auto&, auto& home) {
             home.write(".claude/settings.json",
                        R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai/api/anthropic",)"
                        R"("ANTHROPIC_AUTH_TOKEN":"claude-code-key"}})");
         },
         true, "Ключ берётся из настроек Claude Code."},
        {"a damaged stored key",
         [](auto& secrets, auto&, auto&) { secrets.store("zai", "label", "two words"); }, true,
         "Ключ в связке ключей повреждён: введите его заново."},
        {"a locked keyring", [](auto& secrets, auto&, auto&) { secrets.status = Status::locked; },
         true, "Связка ключей заблокирована: разблокируйте её, чтобы прочитать ключ."},
        {"no Secret Service",
         [](auto& secrets, auto&, auto&) { secrets.status = Status::unavailable; }, false,
         "Служба ключей недоступна: задайте переменную ZAI_API_KEY."},
        {"no Secret Service, but the variable",
         [](auto& secrets, auto& variables, auto&) {
             secrets.status = Status::unavailable;
             variables["ZAI_API_KEY"] = "from-variable";
         },
         false, "Ключ берётся из переменной ZAI_API_KEY."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::MemorySecretStore secrets;
        Variables variables;
        testing::TempDirectory home;
        c.prepare(secrets, variables, home);
        const platform::MapEnvironment environment(variables, home.path());
        const testing::FixedClock clock;
        const auto state = apiKeyRowState(ProviderKind::zai, {environment, clock, secrets});
        EXPECT_EQ(state.canStore, c.canStore);
        EXPECT_EQ(state.text, c.text);
    }
}

TEST(ApiKeySettingsTest, StoringAndRemovingSayHowItWent) {
    testing::MemorySecretStore secrets;
    auto change = storeApiKey(ProviderKind::minimax, "  sk-cp-typed \n", secrets);
    EXPECT_TRUE(change.done);
    EXPECT_EQ(change.text, "Ключ сохранён в связке ключей.");
    EXPECT_EQ(secrets.secretOf("minimax"), "sk-cp-typed");
    EXPECT_EQ(secrets.labelOf("minimax"), "Kestrane: ключ API MiniMax");

    change = storeApiKey(ProviderKind::minimax, "pasted with\na line break", secrets);
    EXPECT_FALSE(change.done);
    EXPECT_EQ(change.text, "Ключ API пишется одной строкой, без пробелов.");
    EXPECT_EQ(secrets.secretOf("minimax"), "sk-cp-typed");

    change = removeApiKey(ProviderKind::minimax, secrets);
    EXPECT_TRUE(change.done);
    EXPECT_EQ(change.text, "Ключ удалён из связки ключей.");
    EXPECT_EQ(secrets.secretOf("minimax"), "");

    const struct {
        Status status;
        const char* stored;
        const char* removed;
    } cases[] = {
        {Status::locked, "Связка ключей не разблокирована: ключ не сохранён.",
         "Связка ключей не разблокирована: ключ не удалён."},
        {Status::unavailable, "Служба ключей недоступна: задайте переменную OPENROUTER_API_KEY.",
         "Служба ключей недоступна: задайте переменную OPENROUTER_API_KEY."},
        {Status::failed, "Не удалось сохранить ключ в связке ключей. Повторите позже.",
         "Не удалось удалить ключ из связки ключей. Повторите позже."},
    };
    for (const auto& c : cases) {
        secrets.status = c.status;
        EXPECT_EQ(storeApiKey(ProviderKind::openrouter, "sk-or-v1-x", secrets).text, c.stored);
        EXPECT_EQ(removeApiKey(ProviderKind::openrouter, secrets).text, c.removed);
    }
}

TEST(ApiKeySettingsTest, TheCheckFetchesWithTheTypedKeyAndKeepsNothing) {
    testing::FakeHttpServer fake;
    std::string authorization;
    int status = 200;
    fake.server().Get("/api/monitor/usage/quota/limit", [&](const httplib::Request& request,
                                                            httplib::Response& response) {
        authorization = request.get_header_value("Authorization");
        response.status = status;
        response.set_content(testing::fixture("zai/quota_limit.json"), "application/json");
    });
    fake.start();
    testing::TempDirectory home;
    const platform::MapEnvironment environment(
        {{"KESTRANE_ZAI_ORIGIN", fake.origin()}, {"ZAI_API_KEY", "from-variable"}}, home.path());
    const testing::FixedClock clock;
    testing::MemorySecretStore secrets;
    const ProviderContext context{environment, clock, secrets};

    auto result = checkApiKey(ProviderKind::zai, " typed-key ", context);
    ASSERT_TRUE(result.isSuccess()) << result.failureValue().message;
    EXPECT_EQ(result.usage().windows.size(), 3u);
    EXPECT_EQ(authorization, "typed-key");

    status = 401;
    result = checkApiKey(ProviderKind::zai, "typed-key", context);
    ASSERT_FALSE(result.isSuccess());
    EXPECT_EQ(result.failureValue().message,
              "z.ai не принял ключ API из настроек Kestrane. Проверьте ключ GLM Coding Plan в "
              "личном кабинете z.ai.");

    authorization.clear();
    result = checkApiKey(ProviderKind::zai, "typed key", context);
    EXPECT_EQ(result.failureValue().message, "Ключ API пишется одной строкой, без пробелов.");
    EXPECT_EQ(authorization, "");
    EXPECT_EQ(secrets.secretOf("zai"), "");
    EXPECT_EQ(secrets.lookups(), 0);

    result = checkApiKey(ProviderKind::claude, "typed-key", context);
    EXPECT_EQ(result.failureValue().message, "Этот провайдер входит без ключа API.");
}

}  // namespace
}  // namespace kestrane::providers
