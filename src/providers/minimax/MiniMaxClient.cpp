#include "providers/minimax/MiniMaxClient.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Json.h"
#include "providers/ClaudeCodeSettings.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://api.minimax.io";
// Claude Code runs on the plan through these hosts; mainland China has its own.
constexpr std::array<ClaudeCodeHost, 2> kClaudeCodeHosts{{
    {"minimax.io", "https://api.minimax.io"},
    {"minimaxi.com", "https://api.minimaxi.com"},
}};
constexpr std::int64_t kSessionMinutes = 300;
constexpr std::int64_t kWeekMinutes = 10080;
// A window whose status is this has no limit.
constexpr std::int64_t kUnlimited = 3;

const char* const kUnreadable = "Не удалось разобрать квоты MiniMax.";
const char* const kRateLimited = "MiniMax временно ограничил проверку квот. Повторите позже.";

std::string refused(std::string_view keyPlace) {
    return "MiniMax не принял ключ API " + std::string(keyPlace) +
           ". Нужен ключ Coding Plan: обычный ключ платформы MiniMax здесь не подходит.";
}

// A number another program may send as JSON null or leave out; anything else of the wrong
// type fails the answer.
std::optional<double> finite(const Json& object, std::string_view key) {
    const auto value = platform::numberMember(object, key);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

// Status codes are read leniently: one of another type says nothing.
std::optional<std::int64_t> code(const Json& object, std::string_view key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return std::nullopt;
    return it->get<std::int64_t>();
}

// "MiniMax-M2" → "minimax-m2": a piece of a window id.
std::string kebab(std::string_view text) {
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) && byte < 0x80) {
            result += static_cast<char>(std::tolower(byte));
        } else if (!result.empty() && result.back() != '-') {
            result += '-';
        }
    }
    while (!result.empty() && result.back() == '-') result.pop_back();
    return result;
}

// The length of a window from its start and end (ms), else `fallback`.
std::int64_t minutesBetween(std::optional<double> start, std::optional<double> end,
                            std::int64_t fallback) {
    if (!start || !end || *start <= 0 || *end <= *start) return fallback;
    const double minutes = std::round((*end - *start) / 60000);
    return minutes >= 1 && minutes <= 1e9 ? static_cast<std::int64_t>(minutes) : fallback;
}

// The end of a window: its end time (ms), else now plus the time that remains (ms).
std::optional<platform::Date> endOf(std::optional<double> end, std::optional<double> remains,
                                    platform::Date now) {
    if (end && *end > 0) return platform::Date{*end / 1000};
    if (remains && *remains >= 0) return platform::Date{now.secondsSince1970 + *remains / 1000};
    return std::nullopt;
}

double usedFromRemaining(double remainingPercent) {
    return std::clamp(100 - remainingPercent, 0.0, 100.0);
}

}  // namespace

MiniMaxClient::MiniMaxClient(const platform::Environment& environment, const platform::Clock& clock,
                             const platform::SecretStore& secrets, const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)),
      secrets_(secrets) {}

ApiKey MiniMaxClient::loadKey(const platform::Environment& environment,
                              const platform::SecretStore& secrets) {
    if (auto key = claudeCodeApiKey(environment, kClaudeCodeHosts)) return std::move(*key);
    if (auto key = variableApiKey(environment.value(apiKeyVariable), apiKeyVariable)) {
        return std::move(*key);
    }
    return storedApiKey(secrets, model::ProviderKind::minimax, apiKeyVariable);
}

bool MiniMaxClient::hasKey(const platform::Environment& environment,
                           const platform::SecretStore& secrets) {
    try {
        (void)loadKey(environment, secrets);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

model::ProviderUsage MiniMaxClient::fetch() const {
    requireUsableOrigin();
    return fetch(loadKey(environment_, secrets_));
}

model::ProviderUsage MiniMaxClient::fetch(const ApiKey& key) const {
    requireUsableOrigin();
    // An override of the origin wins; else the host Claude Code names goes with its key.
    const std::string origin =
        origin_.origin == kDefaultOrigin && key.origin ? *key.origin : origin_.origin;
    platform::HttpRequest request;
    request.url = origin + "/v1/api/openplatform/coding_plan/remains";
    request.headers = {
        {"Authorization", "Bearer " + key.value},
        {"Accept", "application/json"},
        {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION},
    };
    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("MiniMax вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return parseRemains(response->body, key.place, clock_.now());
        case 401:
        case 403:
            throw QuotaError::unavailable(refused(key.place));
        case 429:
            throw QuotaError::unavailable(kRateLimited);
        default:
            throw QuotaError::invalidResponse("MiniMax API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

model::ProviderUsage MiniMaxClient::parseRemains(std::string_view data, std::string_view keyPlace,
                                                 platform::Date now) {
    ProviderUsage usage{.provider = model::ProviderKind::minimax, .updatedAt = now};
    bool unknownShape = false;
    std::size_t entries = 0;
    try {
        const Json root = platform::parseJson(data);
        const Json& answer = platform::requireObject(root);
        // Errors come as HTTP 200: a base_resp whose status code is not 0.
        if (const Json* base = platform::objectMember(answer, "base_resp")) {
            const auto status = code(*base, "status_code");
            if (status && *status != 0) {
                // 1004: authentication failed; 2049: the key is not valid.
                if (*status == 1004 || *status == 2049) {
                    throw QuotaError::unavailable(refused(keyPlace));
                }
                // 1002 and 1039: requests or tokens per minute.
                if (*status == 1002 || *status == 1039) throw QuotaError::unavailable(kRateLimited);
                throw QuotaError::unavailable("MiniMax не отдал квоты (код " +
                                              std::to_string(*status) +
                                              "). Проверьте подписку Coding Plan и повторите "
                                              "позже.");
            }
        }
        const Json* remains = platform::arrayMember(answer, "model_remains");
        if (!remains) {
            unknownShape = true;
        } else {
            entries = remains->size();
        }
        for (std::size_t index = 0; remains && index < remains->size(); ++index) {
            const Json& entry = platform::requireObject((*remains)[index]);
            const auto name = platform::stringMember(entry, "model_name");
            const auto intervalPercent = finite(entry, "current_interval_remaining_percent");
            const auto intervalTotal = finite(entry, "current_interval_total_count");
            const auto intervalCount = finite(entry, "current_interval_usage_count");
            const auto weeklyPercent = finite(entry, "current_weekly_remaining_percent");
            const auto start = finite(entry, "start_time");
            const auto end = finite(entry, "end_time");
            const auto remainsTime = finite(entry, "remains_time");
            const auto weeklyStart = finite(entry, "weekly_start_time");
            const auto weeklyEnd = finite(entry, "weekly_end_time");
            const auto weeklyRemains = finite(entry, "weekly_remains_time");
            const auto intervalStatus = code(entry, "current_interval_status");
            const auto weeklyStatus = code(entry, "current_weekly_status");

            // The newer shape gives the share that remains; the older one counts what
            // remains (usage_count, despite its name) of the total.
            const bool newer = intervalPercent.has_value();
            if (!newer && !(intervalTotal && intervalCount)) {
                unknownShape = true;
                continue;
            }
            double intervalUsed = 0;
            bool hasInterval = intervalStatus != kUnlimited;
            if (newer) {
                intervalUsed = usedFromRemaining(*intervalPercent);
            } else if (*intervalTotal > 0) {
                intervalUsed = usedFromRemaining(*intervalCount / *intervalTotal * 100);
            } else {
                hasInterval = false;  // no quota of this model in the plan
            }
            const bool hasWeek = weeklyPercent && weeklyStatus != kUnlimited;
            const double weeklyUsed = hasWeek ? usedFromRemaining(*weeklyPercent) : 0;
            if (!hasInterval && !hasWeek) continue;

            // The first model with a quota is the plan's own; the others are named after
            // themselves.
            const bool primary = usage.windows.empty();
            const std::string model = name ? model::sanitizedText(*name) : std::string();
            std::string slug = kebab(model);
            if (slug.empty()) slug = "model-" + std::to_string(index);
            const std::string prefix = primary ? "minimax" : "minimax-" + slug;
            if (hasInterval) {
                usage.windows.push_back({prefix + "-session", primary ? "Сессия" : model,
                                         intervalUsed, minutesBetween(start, end, kSessionMinutes),
                                         endOf(end, remainsTime, now)});
            }
            if (hasWeek) {
                usage.windows.push_back({prefix + "-week", primary ? "Все модели" : model,
                                         weeklyUsed,
                                         minutesBetween(weeklyStart, weeklyEnd, kWeekMinutes),
                                         endOf(weeklyEnd, weeklyRemains, now)});
            }
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    if (usage.windows.empty()) {
        if (unknownShape) {
            throw QuotaError::invalidResponse(
                "MiniMax ответил в незнакомом виде: квоты Coding Plan в ответе не найдены. "
                "Обновите Kestrane.");
        }
        throw QuotaError::invalidResponse(
            entries == 0 ? "MiniMax не вернул квоты. Проверьте, что ключ от подписки Coding Plan."
                         : "MiniMax не вернул лимитов Coding Plan. Проверьте, что ключ от этой "
                           "подписки.");
    }
    return model::sanitized(std::move(usage));
}

}  // namespace kestrane::providers
