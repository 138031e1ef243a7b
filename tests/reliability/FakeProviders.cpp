#include "reliability/FakeProviders.h"

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Keychain.h"
#include "providers/antigravity/AntigravityClient.h"
#include "providers/claude/ClaudeClient.h"
#include "providers/cursor/CursorClient.h"
#include "providers/cursor/CursorTestSupport.h"
#include "providers/kimi/KimiClient.h"
#include "support/FixedClock.h"

namespace kestrane::testing {
namespace {

std::string fixture(const std::string& name) {
    return platform::readFile(std::string(KESTRANE_FIXTURES) + "/" + name, 1 << 20).value();
}

using Variables = std::map<std::string, std::string, std::less<>>;

model::ProviderUsage fetchClaude(const std::string& origin,
                                 const platform::HttpSessionLimits& limits,
                                 const std::filesystem::path& home) {
    const platform::MapEnvironment environment(
        Variables{{std::string(providers::ClaudeClient::tokenVariable), kClaudeToken},
                  {std::string(providers::ClaudeClient::apiOriginVariable), origin}},
        home);
    const FixedClock clock;
    const platform::CurlHttpClient http(limits);
    return providers::ClaudeClient(environment, clock, platform::systemKeychain(), &http).fetch();
}

model::ProviderUsage fetchCursor(const std::string& origin,
                                 const platform::HttpSessionLimits& limits,
                                 const std::filesystem::path& home) {
    const platform::MapEnvironment environment(
        Variables{{std::string(providers::CursorClient::originVariable), origin}}, home);
    const auto database = providers::CursorClient::stateDatabasePath(environment);
    if (!std::filesystem::exists(database)) makeStateDatabase(database, cursorAccessToken());
    const FixedClock clock;
    const platform::CurlHttpClient http(limits);
    return providers::CursorClient(environment, clock, &http).fetch();
}

model::ProviderUsage fetchKimi(const std::string& origin, const platform::HttpSessionLimits& limits,
                               const std::filesystem::path& home) {
    const platform::MapEnvironment environment(
        Variables{
            {std::string(providers::KimiClient::originVariable), origin},
            {std::string(providers::KimiClient::apiKeyVariable), kKimiKey},
            {std::string(providers::KimiClient::homeVariable), (home / ".kimi-code").string()}},
        home);
    const FixedClock clock;
    const platform::CurlHttpClient http(limits);
    return providers::KimiClient(environment, clock, &http).fetch();
}

model::ProviderUsage fetchAntigravity(const std::string& origin,
                                      const platform::HttpSessionLimits& limits,
                                      const std::filesystem::path&) {
    const int port = std::stoi(origin.substr(origin.rfind(':') + 1));
    providers::AntigravityClient::Options options{
        .runningProcesses =
            [port] {
                return std::vector<providers::AntigravityProcess>{
                    {4242, "csrf-FAKE", port, "extension-csrf-FAKE"}};
            },
        .listeningPorts = [](int) { return std::vector<int>{}; },
        .requestLimit = limits.requestTimeout};
    const FixedClock clock;
    return providers::AntigravityClient(clock, options).fetch();
}

}  // namespace

std::string cursorAccessToken() {
    return base64Url(R"({"alg":"HS256","typ":"JWT"})") + "." +
           base64Url(R"({"sub":"auth0|user_FAKE42","exp":1900000000})") + "." + kCursorSignature;
}

void serveValidAnswers(httplib::Server& server) {
    const auto answer = [](std::string body) {
        return [body](const httplib::Request&, httplib::Response& response) {
            response.set_content(body, "application/json");
        };
    };
    const auto& providers = httpProviders();
    server.Get("/api/oauth/usage", answer(providers[0].validAnswer));
    server.Get("/api/usage-summary", answer(providers[1].validAnswer));
    server.Get("/api/auth/me", answer(R"({"email":"user@example.com"})"));
    server.Get("/coding/v1/usages", answer(providers[2].validAnswer));
}

const std::vector<HttpProvider>& httpProviders() {
    static const std::vector<HttpProvider> providers{
        {"Claude",
         fixture("claude/usage_full.json"),
         "Claude вернул некорректный ответ.",
         "Не удалось разобрать квоты Claude.",
         // Members this client does not read.
         {"/seven_day_oauth_apps", "/limits/7/unknown"},
         fetchClaude},
        {"Cursor",
         fixture("cursor/summary_three_windows.json"),
         "Cursor вернул некорректный ответ.",
         "Не удалось прочитать данные, так как они имеют неверный формат.",
         {"/limitType", "/individualUsage/plan/enabled", "/individualUsage/plan/remaining",
          "/individualUsage/onDemand/enabled", "/individualUsage/onDemand/remaining"},
         fetchCursor},
        {"Kimi",
         fixture("kimi/usages.json"),
         "Kimi вернул некорректный ответ.",
         "Не удалось разобрать квоты Kimi.",
         // The user is not read; the counters are read leniently (text or number, and one of
         // `used`/`remaining` may be missing).
         {"/user", "/usage/used", "/usage/remaining", "/usage/resetTime",
          "/limits/0/detail/remaining", "/limits/0/detail/resetAt"},
         fetchKimi},
        {"Antigravity",
         fixture("antigravity/summary.json"),
         "",
         "",
         // Inside a group, whatever it cannot read is skipped; the rest still make a quota.
         {"/response/groups/0/", "/response/groups/1/"},
         fetchAntigravity,
         "Antigravity не вернул квоты. Проверьте вход в аккаунт и повторите."},
    };
    return providers;
}

}  // namespace kestrane::testing
