#include "reliability/FakeProviders.h"

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Json.h"
#include "providers/antigravity/AntigravityClient.h"
#include "providers/claude/ClaudeClient.h"
#include "providers/copilot/CopilotClient.h"
#include "providers/cursor/CursorClient.h"
#include "providers/cursor/CursorTestSupport.h"
#include "providers/gemini/GeminiClient.h"
#include "providers/kimi/KimiClient.h"
#include "providers/minimax/MiniMaxClient.h"
#include "providers/openrouter/OpenRouterClient.h"
#include "providers/zai/ZaiClient.h"
#include "support/FixedClock.h"
#include "support/MemorySecretStore.h"

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
    return providers::ClaudeClient(environment, clock, &http).fetch();
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

model::ProviderUsage fetchCopilot(const std::string& origin,
                                  const platform::HttpSessionLimits& limits,
                                  const std::filesystem::path& home) {
    storeCopilotSignIn(home);
    const platform::MapEnvironment environment(
        Variables{{std::string(providers::CopilotClient::originVariable), origin}}, home);
    const FixedClock clock;
    const platform::CurlHttpClient http(limits);
    // The GitHub CLI of the machine running the tests is never asked.
    return providers::CopilotClient(environment, clock, &http,
                                    [] { return std::optional<std::string>(); })
        .fetch();
}

model::ProviderUsage fetchGemini(const std::string& origin,
                                 const platform::HttpSessionLimits& limits,
                                 const std::filesystem::path& home) {
    storeGeminiSignIn(home);
    const platform::MapEnvironment environment(
        Variables{{std::string(providers::GeminiClient::originVariable), origin},
                  {std::string(providers::GeminiClient::authOriginVariable), origin}},
        home);
    const FixedClock clock;
    const platform::CurlHttpClient http(limits);
    return providers::GeminiClient(environment, clock, &http).fetch();
}

// A provider that signs in with an API key, the key in `variable`, the keyring empty.
template <typename Client>
model::ProviderUsage fetchWithKey(const std::string& origin,
                                  const platform::HttpSessionLimits& limits,
                                  const std::filesystem::path& home, const char* key) {
    const platform::MapEnvironment environment(
        Variables{{std::string(Client::originVariable), origin},
                  {std::string(Client::apiKeyVariable), key}},
        home);
    const FixedClock clock;
    const MemorySecretStore secrets;
    const platform::CurlHttpClient http(limits);
    return Client(environment, clock, secrets, &http).fetch();
}

model::ProviderUsage fetchZai(const std::string& origin, const platform::HttpSessionLimits& limits,
                              const std::filesystem::path& home) {
    return fetchWithKey<providers::ZaiClient>(origin, limits, home, kZaiKey);
}

model::ProviderUsage fetchMiniMax(const std::string& origin,
                                  const platform::HttpSessionLimits& limits,
                                  const std::filesystem::path& home) {
    return fetchWithKey<providers::MiniMaxClient>(origin, limits, home, kMiniMaxKey);
}

model::ProviderUsage fetchOpenRouter(const std::string& origin,
                                     const platform::HttpSessionLimits& limits,
                                     const std::filesystem::path& home) {
    return fetchWithKey<providers::OpenRouterClient>(origin, limits, home, kOpenRouterKey);
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    if (platform::readFile(path, 1 << 20) == contents) return;
    (void)platform::writeFileAtomically(
        path, contents, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Both Code Assist answers in one document: the faulty server answers every request alike.
std::string geminiAnswer() {
    auto merged = platform::parseJson(fixture("gemini/load_code_assist.json"));
    merged.update(platform::parseJson(fixture("gemini/quota.json")));
    return merged.dump(2);
}

}  // namespace

void storeCopilotSignIn(const std::filesystem::path& home) {
    writeFile(
        home / ".config/github-copilot/apps.json",
        std::string(R"({"github.com:Iv1.b507a08c87ecfe98":{"user":"octocat","oauth_token":")") +
            kCopilotToken + R"("}})");
}

void storeGeminiSignIn(const std::filesystem::path& home) {
    writeFile(home / ".gemini/oauth_creds.json",
              std::string(R"({"access_token":")") + kGeminiAccessToken + R"(","refresh_token":")" +
                  kGeminiRefreshToken + R"(","token_type":"Bearer","expiry_date":4102444800000})");
}

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
    server.Get("/copilot_internal/user", answer(providers[4].validAnswer));
    server.Post("/v1internal:loadCodeAssist", answer(fixture("gemini/load_code_assist.json")));
    server.Post("/v1internal:retrieveUserQuota", answer(fixture("gemini/quota.json")));
    server.Post("/token", answer(std::string(R"({"access_token":")") + kGeminiRenewedToken +
                                 R"(","expires_in":3599})"));
    server.Get("/api/monitor/usage/quota/limit", answer(providers[6].validAnswer));
    server.Get("/v1/api/openplatform/coding_plan/remains", answer(providers[7].validAnswer));
    server.Get("/api/v1/key", answer(providers[8].validAnswer));
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
        {"GitHub Copilot",
         fixture("copilot/user_pro.json"),
         "GitHub вернул некорректный ответ.",
         "Не удалось разобрать квоты GitHub Copilot.",
         // Members this client does not read.
         {"/analytics_tracking_id", "/assigned_date", "/can_signup_for_limited", "/chat_enabled",
          "/organization_login_list", "/quota_snapshots/chat/overage",
          "/quota_snapshots/chat/quota_", "/quota_snapshots/chat/timestamp_utc",
          "/quota_snapshots/completions/overage", "/quota_snapshots/completions/quota_",
          "/quota_snapshots/completions/timestamp_utc",
          "/quota_snapshots/premium_interactions/overage",
          "/quota_snapshots/premium_interactions/quota_",
          "/quota_snapshots/premium_interactions/timestamp_utc"},
         fetchCopilot},
        {"Gemini CLI",
         geminiAnswer(),
         "Gemini вернул некорректный ответ.",
         "Не удалось разобрать квоты Gemini.",
         // Members this client does not read.
         {"/allowedTiers", "/gcpManaged", "/currentTier/description",
          "/currentTier/userDefinedCloudaicompanionProject", "/currentTier/privacyNotice",
          "/buckets/0/tokenType", "/buckets/0/remainingAmount", "/buckets/1/tokenType",
          "/buckets/2/tokenType", "/buckets/3/tokenType", "/buckets/4/tokenType"},
         fetchGemini},
        {"z.ai",
         fixture("zai/quota_limit.json"),
         "z.ai вернул некорректный ответ.",
         "Не удалось разобрать квоты z.ai.",
         // Members this client does not read; `code` only says more about a refusal.
         {"/code", "/msg", "/data/limits/0/unit", "/data/limits/0/number", "/data/limits/1/unit",
          "/data/limits/1/number", "/data/limits/2/unit", "/data/limits/2/number",
          "/data/limits/2/remaining", "/data/limits/2/usageDetails"},
         fetchZai},
        {"MiniMax",
         fixture("minimax/remains_percent.json"),
         "MiniMax вернул некорректный ответ.",
         "Не удалось разобрать квоты MiniMax.",
         // Not read (the counts beside a share say nothing more), or read leniently (codes).
         {"/base_resp/status_code", "/base_resp/status_msg",
          "/model_remains/0/current_weekly_total_count",
          "/model_remains/0/current_weekly_usage_count", "/model_remains/0/current_interval_status",
          "/model_remains/0/current_weekly_status", "/model_remains/0/weekly_boost_permille",
          "/model_remains/1/current_weekly_total_count",
          "/model_remains/1/current_weekly_usage_count", "/model_remains/1/current_interval_status",
          "/model_remains/1/current_weekly_status"},
         fetchMiniMax},
        {"OpenRouter",
         fixture("openrouter/key_monthly_limit.json"),
         "OpenRouter вернул некорректный ответ.",
         "Не удалось разобрать ответ OpenRouter о ключе API.",
         // Members this client does not read (the label is a shortened form of the key).
         {"/data/label", "/data/include_byok_in_limit", "/data/byok_usage",
          "/data/is_management_key", "/data/is_provisioning_key", "/data/creator_user_id",
          "/data/expires_at", "/data/rate_limit"},
         fetchOpenRouter},
    };
    return providers;
}

}  // namespace kestrane::testing
