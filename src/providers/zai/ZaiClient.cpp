#include "providers/zai/ZaiClient.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Json.h"
#include "platform/TextConversions.h"
#include "providers/ClaudeCodeSettings.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://api.z.ai";
// Claude Code runs on the plan through these hosts; mainland China has its own.
constexpr std::array<ClaudeCodeHost, 2> kClaudeCodeHosts{{
    {"z.ai", "https://api.z.ai"},
    {"bigmodel.cn", "https://open.bigmodel.cn"},
}};
constexpr std::int64_t kSessionMinutes = 300;
constexpr std::int64_t kWeekMinutes = 10080;
constexpr std::int64_t kMonthMinutes = 43200;

const char* const kUnreadable = "Не удалось разобрать квоты z.ai.";

std::string refused(std::string_view keyPlace) {
    return "z.ai не принял ключ API " + std::string(keyPlace) +
           ". Проверьте ключ GLM Coding Plan в личном кабинете z.ai.";
}

const char* const kRateLimited = "z.ai временно ограничил проверку квот. Повторите позже.";

// The share used: `percentage` when given, else the used count against the total. All three
// are read, so that one of the wrong type fails the answer whichever is used.
std::optional<double> usedPercent(const Json& limit) {
    const auto percentage = platform::numberMember(limit, "percentage");
    const auto total = platform::numberMember(limit, "usage");
    const auto used = platform::numberMember(limit, "currentValue");
    if (percentage && std::isfinite(*percentage)) return std::clamp(*percentage, 0.0, 100.0);
    if (!total || !used || !(*total > 0) || !std::isfinite(*used)) return std::nullopt;
    return std::clamp(*used / *total * 100, 0.0, 100.0);
}

std::optional<platform::Date> resetTime(const Json& limit) {
    const auto milliseconds = platform::numberMember(limit, "nextResetTime");
    if (!milliseconds || !std::isfinite(*milliseconds) || *milliseconds <= 0) return std::nullopt;
    return platform::Date{*milliseconds / 1000};
}

}  // namespace

ZaiClient::ZaiClient(const platform::Environment& environment, const platform::Clock& clock,
                     const platform::SecretStore& secrets, const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)),
      secrets_(secrets) {}

ApiKey ZaiClient::loadKey(const platform::Environment& environment,
                          const platform::SecretStore& secrets) {
    if (auto key = claudeCodeApiKey(environment, kClaudeCodeHosts)) return std::move(*key);
    if (auto key = variableApiKey(environment.value(apiKeyVariable), apiKeyVariable)) {
        return std::move(*key);
    }
    return storedApiKey(secrets, model::ProviderKind::zai, apiKeyVariable);
}

bool ZaiClient::hasKey(const platform::Environment& environment,
                       const platform::SecretStore& secrets) {
    try {
        (void)loadKey(environment, secrets);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

model::ProviderUsage ZaiClient::fetch() const {
    requireUsableOrigin();
    return fetch(loadKey(environment_, secrets_));
}

model::ProviderUsage ZaiClient::fetch(const ApiKey& key) const {
    requireUsableOrigin();
    // An override of the origin wins; else the host Claude Code names goes with its key.
    const std::string origin =
        origin_.origin == kDefaultOrigin && key.origin ? *key.origin : origin_.origin;
    platform::HttpRequest request;
    request.url = origin + "/api/monitor/usage/quota/limit";
    // The key goes as it is, without "Bearer", as the maker's own tools send it.
    request.headers = {
        {"Authorization", key.value},
        {"Accept", "application/json"},
        {"Accept-Language", "en-US,en"},
        {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION},
    };
    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("z.ai вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return parseQuota(response->body, key.place, clock_.now());
        case 401:
        case 403:
            throw QuotaError::unavailable(refused(key.place));
        case 429:
            throw QuotaError::unavailable(kRateLimited);
        default:
            throw QuotaError::invalidResponse("z.ai API: HTTP " + std::to_string(response->status) +
                                              ".");
    }
}

model::ProviderUsage ZaiClient::parseQuota(std::string_view data, std::string_view keyPlace,
                                           platform::Date now) {
    ProviderUsage usage{.provider = model::ProviderKind::zai, .updatedAt = now};
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);
        // Errors come as HTTP 200 too: `success` false and an HTTP-like `code`.
        const auto it = answer.find("code");
        const bool hasCode = it != answer.end() && it->is_number_integer();
        const std::int64_t code = hasCode ? it->get<std::int64_t>() : 0;
        const Json* quota = platform::objectMember(answer, "data");
        if (platform::boolMember(answer, "success") == false ||
            (!quota && hasCode && code != 200)) {
            if (code == 401 || code == 403) throw QuotaError::unavailable(refused(keyPlace));
            if (code == 429) throw QuotaError::unavailable(kRateLimited);
            throw QuotaError::unavailable(
                "z.ai не отдал квоты" +
                (hasCode ? " (код " + std::to_string(code) + ")" : std::string()) +
                ". Проверьте, что ключ от подписки GLM Coding Plan, и повторите позже.");
        }
        const Json* limits = quota ? platform::arrayMember(*quota, "limits") : nullptr;
        if (!limits) throw platform::DecodingError();
        if (const auto level = platform::stringMember(*quota, "level"); level && !level->empty()) {
            usage.plan = platform::capitalisedWords(*level);
        }
        int tokenWindows = 0;
        for (const Json& element : *limits) {
            const Json& limit = platform::requireObject(element);
            const auto type = platform::stringMember(limit, "type");
            const auto percent = usedPercent(limit);
            const auto resetsAt = resetTime(limit);
            if (type == "TOKENS_LIMIT") {
                const int index = tokenWindows++;
                if (!percent || index > 1) continue;
                usage.windows.push_back(
                    index == 0
                        ? LimitWindow{"zai-session", "Сессия", *percent, kSessionMinutes, resetsAt}
                        : LimitWindow{"zai-week", "Все модели", *percent, kWeekMinutes, resetsAt});
            } else if (type == "TIME_LIMIT" && percent) {
                usage.windows.push_back(
                    {"zai-tools-month", "Инструменты", *percent, kMonthMinutes, resetsAt});
            }
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    if (usage.windows.empty()) {
        throw QuotaError::invalidResponse(
            "z.ai не вернул лимитов GLM Coding Plan. Проверьте, что ключ от этой подписки.");
    }
    // The session first, whatever order the answer has.
    std::stable_sort(usage.windows.begin(), usage.windows.end(),
                     [](const LimitWindow& a, const LimitWindow& b) {
                         return a.durationMinutes < b.durationMinutes;
                     });
    return model::sanitized(std::move(usage));
}

}  // namespace kestrane::providers
