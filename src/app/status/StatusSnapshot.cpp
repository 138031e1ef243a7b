#include "app/status/StatusSnapshot.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "app/status/StatusJson.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"

namespace kestrane::app {
namespace {

using platform::Json;

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

Json encodeForecast(const std::optional<StatusForecast>& forecast) {
    if (!forecast) return nullptr;
    return {{"verdict", forecast->verdict},
            {"tone", forecast->tone},
            {"outcome", forecast->outcome},
            {"expectedRemainingAtReset", forecast->expectedRemaining},
            {"lowerRemainingAtReset", forecast->lowerRemaining},
            {"upperRemainingAtReset", forecast->upperRemaining},
            {"exhaustionChance", forecast->exhaustionChance}};
}

Json encodeTrackRecord(const std::optional<StatusTrackRecord>& record) {
    if (!record) return nullptr;
    return {{"cycles", record->cycles},
            {"minimumCycles", record->minimumCycles},
            {"samples", optionalValue(record->samples)},
            {"rangeHitShare", optionalValue(record->rangeHitShare)},
            {"medianErrorPoints", optionalValue(record->medianErrorPoints)},
            {"verdictHitShare", optionalValue(record->verdictHitShare)},
            {"text", record->text}};
}

Json encodePace(const std::optional<StatusPace>& pace) {
    if (!pace) return nullptr;
    return {{"usedPercent", pace->usedPercent},
            {"elapsedPercent", pace->elapsedPercent},
            {"differencePoints", pace->differencePoints},
            {"text", pace->text}};
}

std::string StatusSnapshot::encode() const {
    Json providerList = Json::array();
    for (const ProviderStatus& status : providers) {
        providerList.push_back({{"provider", model::rawValue(status.provider)},
                                {"enabled", status.enabled},
                                {"text", status.text},
                                {"windowID", optionalValue(status.windowID)},
                                {"windowTitle", optionalValue(status.windowTitle)},
                                {"remainingPercent", optionalValue(status.remainingPercent)},
                                {"resetsAt", optionalDate(status.resetsAt)},
                                {"updatedAt", optionalDate(status.updatedAt)},
                                {"error", optionalValue(status.error)},
                                {"forecast", encodeForecast(status.forecast)},
                                {"trackRecord", encodeTrackRecord(status.trackRecord)},
                                {"pace", encodePace(status.pace)}});
    }
    Json recommendationValue = nullptr;
    if (recommendation) {
        recommendationValue = {{"provider", model::rawValue(recommendation->provider)},
                               {"text", recommendation->text}};
    }
    const Json document = {{"version", 1},
                           {"pid", pid},
                           {"processStart", processStart},
                           {"writtenAt", platform::formatInternetDateTime(writtenAt)},
                           {"providers", providerList},
                           {"recommendation", recommendationValue}};
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
                    platform::numberMember(*f, "expectedRemainingAtReset").value_or(0),
                    platform::numberMember(*f, "lowerRemainingAtReset").value_or(0),
                    platform::numberMember(*f, "upperRemainingAtReset").value_or(0),
                    platform::numberMember(*f, "exhaustionChance").value_or(0),
                };
            }
            if (const Json* t = platform::objectMember(entry, "trackRecord")) {
                const auto cycles = platform::integerMember(*t, "cycles");
                const auto minimum = platform::integerMember(*t, "minimumCycles");
                const auto text = platform::stringMember(*t, "text");
                if (cycles && minimum && text) {
                    const auto samples = platform::integerMember(*t, "samples");
                    status.trackRecord = StatusTrackRecord{
                        static_cast<int>(std::clamp<std::int64_t>(*cycles, 0, 1'000'000)),
                        static_cast<int>(std::clamp<std::int64_t>(*minimum, 0, 1'000'000)),
                        samples ? std::optional(static_cast<int>(
                                      std::clamp<std::int64_t>(*samples, 0, 1'000'000)))
                                : std::nullopt,
                        platform::numberMember(*t, "rangeHitShare"),
                        platform::numberMember(*t, "medianErrorPoints"),
                        platform::numberMember(*t, "verdictHitShare"),
                        *text,
                    };
                }
            }
            if (const Json* p = platform::objectMember(entry, "pace")) {
                const auto used = platform::numberMember(*p, "usedPercent");
                const auto elapsed = platform::numberMember(*p, "elapsedPercent");
                const auto difference = platform::integerMember(*p, "differencePoints");
                const auto text = platform::stringMember(*p, "text");
                if (used && elapsed && difference && text) {
                    status.pace = StatusPace{
                        *used, *elapsed, std::clamp<std::int64_t>(*difference, -100, 100), *text};
                }
            }
            snapshot.providers.push_back(std::move(status));
        }
        if (const Json* r = platform::objectMember(document, "recommendation")) {
            const auto name = platform::stringMember(*r, "provider");
            const auto kind = name ? model::providerKindFromRawValue(*name) : std::nullopt;
            const auto text = platform::stringMember(*r, "text");
            if (kind && text) snapshot.recommendation = StatusRecommendation{*kind, *text};
        }
        return snapshot;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kestrane::app
