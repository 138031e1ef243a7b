#include "providers/openrouter/OpenRouterClient.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "model/OutsideText.h"
#include "model/QuotaError.h"
#include "platform/Json.h"

namespace kestrane::providers {
namespace {

using model::LimitWindow;
using model::ProviderUsage;
using model::QuotaError;
using platform::Json;

constexpr std::string_view kDefaultOrigin = "https://openrouter.ai";

const char* const kUnreadable = "Не удалось разобрать ответ OpenRouter о ключе API.";

std::string refused(std::string_view keyPlace) {
    return "OpenRouter не принял ключ API " + std::string(keyPlace) +
           ". Проверьте ключ на openrouter.ai в разделе Keys.";
}

// A limit that resets: its window id and length.
struct Period {
    std::string_view name;
    const char* id;
    std::int64_t minutes;
    const char* usageMember;
};
constexpr Period kPeriods[] = {
    {"daily", "openrouter-day", 1440, "usage_daily"},
    {"weekly", "openrouter-week", 10080, "usage_weekly"},
    {"monthly", "openrouter-month", 43200, "usage_monthly"},
};

std::optional<double> finite(const Json& object, std::string_view key) {
    const auto value = platform::numberMember(object, key);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

}  // namespace

OpenRouterClient::OpenRouterClient(const platform::Environment& environment,
                                   const platform::Clock& clock,
                                   const platform::SecretStore& secrets,
                                   const platform::HttpClient* http)
    : HttpProviderClient(environment, clock, http,
                         platform::resolveOrigin(environment, originVariable, kDefaultOrigin)),
      secrets_(secrets) {}

ApiKey OpenRouterClient::loadKey(const platform::Environment& environment,
                                 const platform::SecretStore& secrets) {
    if (auto key = variableApiKey(environment.value(apiKeyVariable), apiKeyVariable)) {
        return std::move(*key);
    }
    return storedApiKey(secrets, model::ProviderKind::openrouter, apiKeyVariable);
}

bool OpenRouterClient::hasKey(const platform::Environment& environment,
                              const platform::SecretStore& secrets) {
    try {
        (void)loadKey(environment, secrets);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

model::ProviderUsage OpenRouterClient::fetch() const {
    requireUsableOrigin();
    return fetch(loadKey(environment_, secrets_));
}

model::ProviderUsage OpenRouterClient::fetch(const ApiKey& key) const {
    requireUsableOrigin();
    platform::HttpRequest request;
    request.url = origin_.origin + "/api/v1/key";
    request.headers = {
        {"Authorization", "Bearer " + key.value},
        {"Accept", "application/json"},
        {"User-Agent", std::string("Kestrane/") + KESTRANE_VERSION},
    };
    const auto response = http_.send(request);
    if (!response) throw QuotaError::invalidResponse("OpenRouter вернул некорректный ответ.");
    switch (response->status) {
        case 200:
            return parseKey(response->body, clock_.now());
        case 401:
        case 403:
            throw QuotaError::unavailable(refused(key.place));
        case 429:
            throw QuotaError::unavailable(
                "OpenRouter временно ограничил проверку ключа. Повторите позже.");
        default:
            throw QuotaError::invalidResponse("OpenRouter API: HTTP " +
                                              std::to_string(response->status) + ".");
    }
}

model::ProviderUsage OpenRouterClient::parseKey(std::string_view data, platform::Date now) {
    ProviderUsage usage{.provider = model::ProviderKind::openrouter, .updatedAt = now};
    try {
        const Json root = platform::parseJson(data);
        const Json* key = platform::objectMember(platform::requireObject(root), "data");
        const auto spent = key ? finite(*key, "usage") : std::nullopt;
        if (!spent) {
            throw QuotaError::invalidResponse(
                "OpenRouter ответил в незнакомом виде: расход ключа в ответе не найден. "
                "Обновите Kestrane.");
        }
        const auto limit = finite(*key, "limit");
        const auto remaining = finite(*key, "limit_remaining");
        const auto reset = platform::stringMember(*key, "limit_reset");
        if (platform::boolMember(*key, "is_free_tier") == true) usage.plan = "Free";
        const Period* period = nullptr;
        for (const Period& known : kPeriods) {
            if (reset == known.name) period = &known;
        }
        // What the limit counts: the spending of its period, or of the key's whole life.
        // Every period is read, so that one of the wrong type fails the answer.
        std::optional<double> counted = spent;
        for (const Period& known : kPeriods) {
            const auto spentInPeriod = finite(*key, known.usageMember);
            if (period == &known) counted = spentInPeriod;
        }
        usage.currency = "USD";
        if (limit && *limit >= 0) {
            double used = remaining ? *limit - *remaining : counted.value_or(*spent);
            if (!std::isfinite(used)) used = counted.value_or(*spent);
            used = std::max(used, 0.0);
            usage.spendUsed = used;
            usage.spendLimit = *limit;
            if (period && *limit > 0) {
                usage.windows.push_back({period->id, "Лимит ключа",
                                         std::clamp(used / *limit * 100, 0.0, 100.0),
                                         period->minutes, nextReset(period->name, now)});
            }
        } else {
            usage.spendUsed = std::max(*spent, 0.0);
        }
    } catch (const platform::DecodingError&) {
        throw QuotaError::invalidResponse(kUnreadable);
    }
    return model::sanitized(std::move(usage));
}

std::optional<platform::Date> OpenRouterClient::nextReset(std::string_view period,
                                                          platform::Date now) {
    using namespace std::chrono;
    // Beyond a few million years from 1970 there is no calendar to speak of.
    if (!(std::abs(now.secondsSince1970) < 1e14)) return std::nullopt;
    const sys_seconds instant{seconds(static_cast<std::int64_t>(std::floor(now.secondsSince1970)))};
    const sys_days today = floor<days>(instant);
    sys_days next;
    if (period == "daily") {
        next = today + days(1);
    } else if (period == "weekly") {
        // Weeks run Monday to Sunday; the reset is the next Monday's midnight.
        const unsigned day = weekday{today}.iso_encoding();  // Monday is 1
        next = today + days(8 - day);
    } else if (period == "monthly") {
        const year_month_day date(today);
        next = sys_days((date.year() / date.month() / 1) + months(1));
    } else {
        return std::nullopt;
    }
    return platform::Date{
        static_cast<double>(duration_cast<seconds>(next.time_since_epoch()).count())};
}

}  // namespace kestrane::providers
