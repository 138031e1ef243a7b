#include "app/status/StatusReport.h"

#include <algorithm>

#include "app/status/StatusFile.h"
#include "app/status/StatusJson.h"
#include "model/DateFormatting.h"
#include "model/ProviderUsage.h"
#include "platform/Iso8601.h"
#include "platform/Json.h"

namespace kestrane::app::StatusReport {
namespace {

using platform::Json;

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The lowest remaining percent as the icons show it (rounded), if any icon shows one.
std::optional<long long> lowestShown(const std::vector<ProviderStatus>& providers) {
    std::optional<long long> lowest;
    for (const ProviderStatus& status : providers) {
        if (!status.remainingPercent) continue;
        const long long shown = model::roundedPercent(*status.remainingPercent);
        if (!lowest || shown < *lowest) lowest = shown;
    }
    return lowest;
}

template <typename T>
Json optionalValue(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

std::string_view shortName(model::ProviderKind kind) {
    switch (kind) {
        case model::ProviderKind::codex:
            return "Cx";
        case model::ProviderKind::cursor:
            return "Cu";
        case model::ProviderKind::claude:
            return "Cl";
        case model::ProviderKind::kimi:
            return "Ki";
        case model::ProviderKind::antigravity:
            return "Ag";
        case model::ProviderKind::copilot:
            return "Gh";
        case model::ProviderKind::gemini:
            return "Gm";
        case model::ProviderKind::zai:
            return "Za";
        case model::ProviderKind::minimax:
            return "Mm";
        case model::ProviderKind::openrouter:
            return "Or";
    }
    return "?";
}

std::vector<ProviderStatus> select(const StatusSnapshot& snapshot,
                                   const std::vector<model::ProviderKind>& requested) {
    std::vector<ProviderStatus> chosen;
    if (requested.empty()) {
        for (const ProviderStatus& status : snapshot.providers) {
            if (status.enabled) chosen.push_back(status);
        }
        return chosen;
    }
    for (const model::ProviderKind kind : requested) {
        const auto found =
            std::find_if(snapshot.providers.begin(), snapshot.providers.end(),
                         [kind](const ProviderStatus& status) { return status.provider == kind; });
        if (found != snapshot.providers.end()) {
            chosen.push_back(*found);
        } else {
            chosen.push_back(ProviderStatus{.provider = kind, .text = "--"});
        }
    }
    return chosen;
}

std::string text(const std::vector<ProviderStatus>& providers) {
    std::string line;
    for (const ProviderStatus& status : providers) {
        if (!line.empty()) line += " · ";
        line += shortName(status.provider);
        line += ' ';
        line += status.text;
    }
    return line + "\n";
}

std::string barClass(const std::vector<ProviderStatus>& providers) {
    const auto lowest = lowestShown(providers);
    if (!lowest) return "unknown";
    if (*lowest <= criticalAt) return "critical";
    if (*lowest <= warningAt) return "warning";
    return "ok";
}

std::string json(const StatusSnapshot& snapshot, const std::vector<ProviderStatus>& providers) {
    Json list = Json::array();
    for (const ProviderStatus& status : providers) {
        Json window = nullptr;
        if (status.windowID) {
            window = {{"id", *status.windowID},
                      {"title", status.windowTitle.value_or("")},
                      {"remainingPercent", optionalValue(status.remainingPercent)},
                      {"resetsAt", status.resetsAt
                                       ? Json(platform::formatInternetDateTime(*status.resetsAt))
                                       : Json(nullptr)},
                      {"pace", encodePace(status.pace)},
                      {"trackRecord", encodeTrackRecord(status.trackRecord)}};
        }

        list.push_back({{"provider", model::rawValue(status.provider)},
                        {"enabled", status.enabled},
                        {"text", status.text},
                        {"window", window},
                        {"updatedAt", status.updatedAt ? Json(platform::formatInternetDateTime(
                                                             *status.updatedAt))
                                                       : Json(nullptr)},
                        {"error", optionalValue(status.error)},
                        {"forecast", encodeForecast(status.forecast)}});
    }
    Json recommendation = nullptr;
    if (snapshot.recommendation) {
        recommendation = {{"provider", model::rawValue(snapshot.recommendation->provider)},
                          {"text", snapshot.recommendation->text}};
    }
    return dump({{"running", true},
                 {"pid", snapshot.pid},
                 {"writtenAt", platform::formatInternetDateTime(snapshot.writtenAt)},
                 {"providers", list},
                 {"recommendation", recommendation}});
}

std::string waybar(const std::vector<ProviderStatus>& providers, platform::Date now) {
    std::string tooltip;
    for (const ProviderStatus& status : providers) {
        if (!tooltip.empty()) tooltip += '\n';
        tooltip += model::rawValue(status.provider);
        tooltip += ": ";
        if (status.remainingPercent) {
            tooltip += "осталось " + status.text;
            if (status.windowTitle && !status.windowTitle->empty()) {
                tooltip += " (" + *status.windowTitle + ")";
            }
            if (status.resetsAt) {
                tooltip += ", сброс " + model::DateFormatting::relativeReset(*status.resetsAt, now);
            }
            if (status.forecast) tooltip += "\n  " + status.forecast->verdict;
            if (status.error) tooltip += "\n  " + *status.error;
        } else if (status.error) {
            tooltip += *status.error;
        } else {
            tooltip += "нет данных";
        }
    }
    Json module = {{"text", text(providers).substr(0, text(providers).size() - 1)},
                   {"tooltip", tooltip},
                   {"class", barClass(providers)}};
    if (const auto lowest = lowestShown(providers)) module["percentage"] = *lowest;
    return dump(module);
}

std::string notRunningJson() { return dump({{"running", false}, {"message", notRunningMessage}}); }

std::string notRunningWaybar() {
    return dump({{"text", ""}, {"tooltip", notRunningMessage}, {"class", "stopped"}});
}

int run(const CommandLine& line, const platform::Environment& environment, platform::Date now,
        std::ostream& out) {
    using Format = CommandLine::Format;
    const auto path = StatusFile::location(environment);
    const auto snapshot = path ? StatusFile::readLive(*path) : std::nullopt;
    if (!snapshot) {
        switch (line.format) {
            case Format::text:
                out << notRunningMessage << '\n';
                break;
            case Format::json:
                out << notRunningJson();
                break;
            case Format::waybar:
                out << notRunningWaybar();
                break;
        }
        return 3;
    }
    const auto providers = select(*snapshot, line.providers);
    switch (line.format) {
        case Format::text:
            out << text(providers);
            break;
        case Format::json:
            out << json(*snapshot, providers);
            break;
        case Format::waybar:
            out << waybar(providers, now);
            break;
    }
    return 0;
}

}  // namespace kestrane::app::StatusReport
