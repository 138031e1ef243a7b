#include "app/StatusSnapshot.h"

#include <algorithm>
#include <exception>

#include "app/WindowForecast.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"

namespace kestrane::app {
namespace {

using platform::Json;

std::string_view toneName(forecast::ForecastInsight::Tone tone) {
    switch (tone) {
        case forecast::ForecastInsight::Tone::spare: return "spare";
        case forecast::ForecastInsight::Tone::steady: return "steady";
        case forecast::ForecastInsight::Tone::caution: return "caution";
        case forecast::ForecastInsight::Tone::shortage: return "shortage";
    }
    return "steady";
}

Json optionalDate(const std::optional<platform::Date>& date) {
    return date ? Json(platform::formatInternetDateTime(*date)) : Json(nullptr);
}

template <typename T>
Json optionalValue(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

std::optional<platform::Date> dateMember(const Json& object, std::string_view key) {
    const auto text = platform::stringMember(object, key);
    if (!text) return std::nullopt;
    return platform::parseInternetDateTime(*text);
}

}  // namespace

StatusSnapshot StatusSnapshot::make(const std::vector<model::ProviderKind>& enabled,
                                    const std::map<model::ProviderKind, ProviderState>& states,
                                    const UsageHistory& history, platform::Date now,
                                    const platform::Calendar& calendar) {
    StatusSnapshot snapshot;
    snapshot.writtenAt = now;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        ProviderStatus status;
        status.provider = kind;
        status.enabled = std::find(enabled.begin(), enabled.end(), kind) != enabled.end();
        const auto found = states.find(kind);
        const ProviderState state = found == states.end() ? ProviderState{} : found->second;
        status.text = remainingText(state);
        status.error = state.error;
        if (state.usage) {
            status.updatedAt = state.usage->updatedAt;
            if (!state.usage->windows.empty()) {
                const model::LimitWindow& window = state.usage->windows.front();
                status.windowID = window.id;
                status.windowTitle = window.periodTitle();
                status.remainingPercent = std::clamp(100 - window.usedPercent, 0.0, 100.0);
                status.resetsAt = window.resetsAt;
                // Only for shown providers: the forecast costs a few hundred simulations.
                if (status.enabled) {
                    if (const auto made = WindowForecast::make(
                            history.series(kind, window, now), history.rhythm(kind, window),
                            window, now, state.error.has_value(), calendar)) {
                        status.forecast = StatusForecast{
                            std::string(toneName(made->insight.tone)),
                            made->insight.title,
                            made->insight.outcome,
                            made->forecast.medianRemaining,
                            made->forecast.lowerRemaining,
                            made->forecast.upperRemaining,
                            made->forecast.exhaustionFraction,
                        };
                    }
                }
            }
        }
        snapshot.providers.push_back(std::move(status));
    }
    return snapshot;
}

std::string StatusSnapshot::encode() const {
    Json providerList = Json::array();
    for (const ProviderStatus& status : providers) {
        Json forecastValue = nullptr;
        if (status.forecast) {
            const StatusForecast& f = *status.forecast;
            forecastValue = {{"tone", f.tone},
                             {"verdict", f.verdict},
                             {"outcome", f.outcome},
                             {"expectedRemaining", f.expectedRemaining},
                             {"lowerRemaining", f.lowerRemaining},
                             {"upperRemaining", f.upperRemaining},
                             {"exhaustionChance", f.exhaustionChance}};
        }
        providerList.push_back({{"provider", model::rawValue(status.provider)},
                                {"enabled", status.enabled},
                                {"text", status.text},
                                {"windowID", optionalValue(status.windowID)},
                                {"windowTitle", optionalValue(status.windowTitle)},
                                {"remainingPercent", optionalValue(status.remainingPercent)},
                                {"resetsAt", optionalDate(status.resetsAt)},
                                {"updatedAt", optionalDate(status.updatedAt)},
                                {"error", optionalValue(status.error)},
                                {"forecast", forecastValue}});
    }
    const Json document = {{"version", 1},
                           {"pid", pid},
                           {"processStart", processStart},
                           {"writtenAt", platform::formatInternetDateTime(writtenAt)},
                           {"providers", providerList}};
    return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<StatusSnapshot> StatusSnapshot::decode(std::string_view text) {
    try {
        const Json document = platform::parseJson(text);
        platform::requireObject(document);
        if (platform::integerMember(document, "version") != 1) return std::nullopt;
        StatusSnapshot snapshot;
        const auto pid = platform::integerMember(document, "pid");
        const auto start = platform::stringMember(document, "processStart");
        const auto written = dateMember(document, "writtenAt");
        const Json* list = platform::arrayMember(document, "providers");
        if (!pid || !start || !written || !list) return std::nullopt;
        snapshot.pid = *pid;
        snapshot.processStart = *start;
        snapshot.writtenAt = *written;
        for (const Json& entry : *list) {
            platform::requireObject(entry);
            const auto name = platform::stringMember(entry, "provider");
            const auto kind = name ? model::providerKindFromRawValue(*name) : std::nullopt;
            if (!kind) continue;
            ProviderStatus status;
            status.provider = *kind;
            status.enabled = platform::boolMember(entry, "enabled").value_or(false);
            status.text = platform::stringMember(entry, "text").value_or("--");
            status.windowID = platform::stringMember(entry, "windowID");
            status.windowTitle = platform::stringMember(entry, "windowTitle");
            status.remainingPercent = platform::numberMember(entry, "remainingPercent");
            status.resetsAt = dateMember(entry, "resetsAt");
            status.updatedAt = dateMember(entry, "updatedAt");
            status.error = platform::stringMember(entry, "error");
            if (const Json* f = platform::objectMember(entry, "forecast")) {
                status.forecast = StatusForecast{
                    platform::stringMember(*f, "tone").value_or("steady"),
                    platform::stringMember(*f, "verdict").value_or(""),
                    platform::stringMember(*f, "outcome").value_or(""),
                    platform::numberMember(*f, "expectedRemaining").value_or(0),
                    platform::numberMember(*f, "lowerRemaining").value_or(0),
                    platform::numberMember(*f, "upperRemaining").value_or(0),
                    platform::numberMember(*f, "exhaustionChance").value_or(0),
                };
            }
            snapshot.providers.push_back(std::move(status));
        }
        return snapshot;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kestrane::app
