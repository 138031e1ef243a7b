// The built executable probing z.ai, MiniMax and OpenRouter against fakes on the loopback
// interface, with their keys in the environment (or in Claude Code's settings) and HOME in a
// temporary folder. No session bus is named, so the keyring is never asked.
#include <gtest/gtest.h>

#include <mutex>

#include "platform/Json.h"
#include "support/FakeHttpServer.h"
#include "support/Fixtures.h"
#include "support/JsonSchema.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

using testing::fixture;

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

class ApiKeyProbeProcessTest : public ::testing::Test {
  protected:
    struct Endpoint {
        int status = 200;
        std::string body;
        std::string authorization;
    };

    void SetUp() override {
        const auto serve = [this](const char* path, Endpoint& endpoint) {
            fake.server().Get(path, [this, &endpoint](const httplib::Request& request,
                                                      httplib::Response& response) {
                std::lock_guard lock(mutex);
                ++requests;
                endpoint.authorization = request.get_header_value("Authorization");
                response.status = endpoint.status;
                response.set_content(endpoint.body, "application/json");
            });
        };
        serve("/api/monitor/usage/quota/limit", zai);
        serve("/v1/api/openplatform/coding_plan/remains", minimax);
        serve("/api/v1/key", openrouter);
        fake.start();
    }

    testing::ProcessOutput probe(std::vector<std::string> arguments,
                                 const std::map<std::string, std::string>& keys = kKeys) const {
        std::map<std::string, std::string> environment = {
            {"HOME", home.path().string()},
            {"PATH", "/usr/bin:/bin"},
            {"KESTRANE_ZAI_ORIGIN", fake.origin()},
            {"KESTRANE_MINIMAX_ORIGIN", fake.origin()},
            {"KESTRANE_OPENROUTER_ORIGIN", fake.origin()},
            // The first five providers' servers are the fake too, which knows none of them.
            {"KESTRANE_CLAUDE_API_ORIGIN", fake.origin()},
            {"KESTRANE_CURSOR_ORIGIN", fake.origin()},
            {"KESTRANE_KIMI_ORIGIN", fake.origin()},
        };
        environment.insert(keys.begin(), keys.end());
        arguments.insert(arguments.begin(), "--probe");
        return testing::runProcess(testing::kestraneExecutable(), arguments, environment);
    }

    static inline const std::map<std::string, std::string> kKeys = {
        {"ZAI_API_KEY", "zai-secret-key"},
        {"MINIMAX_API_KEY", "minimax-secret-key"},
        {"OPENROUTER_API_KEY", "sk-or-v1-secret-key"},
    };

  public:
    // What each fake endpoint answers; the cases below set them.
    testing::FakeHttpServer fake;
    testing::TempDirectory home;
    mutable std::mutex mutex;
    int requests = 0;
    Endpoint zai{200, fixture("zai/quota_limit.json")};
    Endpoint minimax{200, fixture("minimax/remains_percent.json")};
    Endpoint openrouter{200, fixture("openrouter/key_monthly_limit.json")};
};

TEST_F(ApiKeyProbeProcessTest, OneLineEachWithTheFiguresAndEachKeyToItsOwnService) {
    const auto result = probe({"zai", "minimax", "openrouter"});
    EXPECT_EQ(result.standardOutput,
              "z.ai OK: Сессия - 5 часов=25%, Все модели - Недельный=10%, Инструменты - "
              "Месячный=3%\n"
              "MiniMax OK: Сессия - 5 часов=17%, Все модели - Недельный=5%, video - 5 часов=0%\n"
              "OpenRouter OK: Лимит ключа - Месячный=26%\n");
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(result.exitStatus, 0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(zai.authorization, "zai-secret-key");
    EXPECT_EQ(minimax.authorization, "Bearer minimax-secret-key");
    EXPECT_EQ(openrouter.authorization, "Bearer sk-or-v1-secret-key");
}

TEST_F(ApiKeyProbeProcessTest, EachShapeOfAnswerHasItsLine) {
    const struct {
        const char* name;
        std::function<void(ApiKeyProbeProcessTest&)> serve;
        std::vector<std::string> arguments;
        const char* output;
    } cases[] = {
        {"401 from each",
         [](ApiKeyProbeProcessTest& t) {
             t.zai.status = t.minimax.status = t.openrouter.status = 401;
         },
         {"zai", "minimax", "openrouter"},
         "z.ai ERROR: z.ai не принял ключ API из переменной ZAI_API_KEY. Проверьте ключ GLM "
         "Coding Plan в личном кабинете z.ai.\n"
         "MiniMax ERROR: MiniMax не принял ключ API из переменной MINIMAX_API_KEY. Нужен ключ "
         "Coding Plan: обычный ключ платформы MiniMax здесь не подходит.\n"
         "OpenRouter ERROR: OpenRouter не принял ключ API из переменной OPENROUTER_API_KEY. "
         "Проверьте ключ на openrouter.ai в разделе Keys.\n"},
        {"errors answered with HTTP 200",
         [](ApiKeyProbeProcessTest& t) {
             t.zai.body = fixture("zai/token_expired.json");
             t.minimax.body = fixture("minimax/invalid_key.json");
         },
         {"zai", "minimax"},
         "z.ai ERROR: z.ai не принял ключ API из переменной ZAI_API_KEY. Проверьте ключ GLM "
         "Coding Plan в личном кабинете z.ai.\n"
         "MiniMax ERROR: MiniMax не принял ключ API из переменной MINIMAX_API_KEY. Нужен ключ "
         "Coding Plan: обычный ключ платформы MiniMax здесь не подходит.\n"},
        {"MiniMax's older answer",
         [](ApiKeyProbeProcessTest& t) { t.minimax.body = fixture("minimax/remains_counts.json"); },
         {"minimax"},
         "MiniMax OK: Сессия - 5 часов=17%\n"},
        {"an answer of a shape not known",
         [](ApiKeyProbeProcessTest& t) {
             t.minimax.body = R"({"token_plan":{"left":5},"base_resp":{"status_code":0}})";
             t.openrouter.body = R"({"key":{"spent":1}})";
         },
         {"minimax", "openrouter"},
         "MiniMax ERROR: MiniMax ответил в незнакомом виде: квоты Coding Plan в ответе не "
         "найдены. Обновите Kestrane.\n"
         "OpenRouter ERROR: OpenRouter ответил в незнакомом виде: расход ключа в ответе не "
         "найден. Обновите Kestrane.\n"},
        {"a key without a limit that resets",
         [](ApiKeyProbeProcessTest& t) {
             t.openrouter.body = fixture("openrouter/key_no_limit.json");
         },
         {"openrouter"},
         "OpenRouter OK: Потрачено 12.35 USD\n"},
        {"hostile text",
         [](ApiKeyProbeProcessTest& t) {
             t.minimax.body =
                 R"({"model_remains":[{"model_name":"general","current_interval_remaining_percent":50},
                 {"model_name":"x\nz.ai OK: 0%\u001b[2J","current_interval_remaining_percent":100}]})";
         },
         {"minimax"},
         "MiniMax OK: Сессия - 5 часов=50%, x z.ai OK: 0% [2J - 5 часов=0%\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zai = {200, fixture("zai/quota_limit.json")};
        minimax = {200, fixture("minimax/remains_percent.json")};
        openrouter = {200, fixture("openrouter/key_monthly_limit.json")};
        c.serve(*this);
        const auto result = probe(c.arguments);
        EXPECT_EQ(result.standardOutput, c.output);
        EXPECT_EQ(result.standardError, "");
        EXPECT_EQ(result.exitStatus,
                  std::string(c.output).find(" ERROR: ") == std::string::npos ? 0 : 1);
        EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
    }
}

TEST_F(ApiKeyProbeProcessTest, WithoutKeysTheLinesSayWhereToPutThem) {
    const auto result = probe({"zai", "minimax", "openrouter"}, {});
    // No session bus here: no Secret Service either.
    EXPECT_EQ(result.standardOutput,
              "z.ai ERROR: Ключ API z.ai не найден, а служба ключей недоступна: задайте "
              "переменную ZAI_API_KEY.\n"
              "MiniMax ERROR: Ключ API MiniMax не найден, а служба ключей недоступна: задайте "
              "переменную MINIMAX_API_KEY.\n"
              "OpenRouter ERROR: Ключ API OpenRouter не найден, а служба ключей недоступна: "
              "задайте переменную OPENROUTER_API_KEY.\n");
    EXPECT_EQ(result.exitStatus, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(requests, 0);
}

TEST_F(ApiKeyProbeProcessTest, UnnamedTheyAreAskedOnlyWithAKey) {
    const auto providersOf = [](const std::string& output) {
        std::vector<std::string> names;
        for (const auto& line : lines(output)) names.push_back(line.substr(0, line.find(' ')));
        return names;
    };
    const std::vector<std::string> firstFive{"Codex", "Cursor", "Claude", "Kimi", "Antigravity"};
    EXPECT_EQ(providersOf(probe({}, {}).standardOutput), firstFive);

    // Claude Code running on z.ai gives its key; OpenRouter's comes from the environment.
    home.write(".claude/settings.json",
               R"({"env":{"ANTHROPIC_BASE_URL":"https://api.z.ai/api/anthropic",)"
               R"("ANTHROPIC_AUTH_TOKEN":"zai-claude-code-secret"}})");
    auto result = probe({}, {{"OPENROUTER_API_KEY", "sk-or-v1-secret-key"}});
    auto expected = firstFive;
    expected.insert(expected.end(), {"z.ai", "OpenRouter"});
    EXPECT_EQ(providersOf(result.standardOutput), expected) << result.standardOutput;
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(zai.authorization, "zai-claude-code-secret");
    }

    // The JSON form asks the same providers, and follows its schema.
    result = probe({"--json"}, {{"OPENROUTER_API_KEY", "sk-or-v1-secret-key"}});
    const auto document = platform::parseJson(result.standardOutput);
    std::vector<std::string> names;
    for (const auto& entry : document.at("providers")) names.push_back(entry.at("provider"));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);
    if (testing::hasJsonSchemaChecker()) {
        EXPECT_EQ(testing::schemaViolations("probe.schema.json", result.standardOutput, home), "");
    }
}

TEST_F(ApiKeyProbeProcessTest, TheJsonHasTheWindowsAndTheSpendingAndFollowsItsSchema) {
    if (!testing::hasJsonSchemaChecker()) GTEST_SKIP() << "python3-jsonschema is not installed";
    const auto result = probe({"--json", "zai", "minimax", "openrouter"});
    EXPECT_EQ(result.exitStatus, 0) << result.standardOutput;
    EXPECT_EQ(testing::schemaViolations("probe.schema.json", result.standardOutput, home), "");
    const auto document = platform::parseJson(result.standardOutput);
    const auto& providers = document.at("providers");
    ASSERT_EQ(providers.size(), 3u);
    const auto& zaiUsage = providers[0].at("usage");
    EXPECT_EQ(providers[0].at("provider"), "z.ai");
    EXPECT_EQ(zaiUsage.at("plan"), "Pro");
    EXPECT_EQ(zaiUsage.at("windows")[0].at("id"), "zai-session");
    EXPECT_EQ(zaiUsage.at("windows")[2].at("id"), "zai-tools-month");
    EXPECT_EQ(providers[1].at("usage").at("windows")[1].at("id"), "minimax-week");
    const auto& spending = providers[2].at("usage").at("spending");
    EXPECT_EQ(spending.at("used"), 25.5);
    EXPECT_EQ(spending.at("limit"), 100);
    EXPECT_EQ(spending.at("currency"), "USD");
    EXPECT_EQ(providers[2].at("usage").at("windows")[0].at("durationMinutes"), 43200);
    EXPECT_EQ(result.standardOutput.find("secret"), std::string::npos);

    // Failures follow the schema too.
    zai.status = 401;
    const auto failed = probe({"--json", "zai"});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_EQ(testing::schemaViolations("probe.schema.json", failed.standardOutput, home), "");
}

}  // namespace
}  // namespace kestrane
