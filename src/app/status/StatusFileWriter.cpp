#include "app/status/StatusFileWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "app/status/StatusFile.h"
#include "app/status/StatusSnapshot.h"
#include "app/board/WindowForecast.h"
#include "forecast/ServiceRecommendation.h"
#include "platform/Files.h"
#include "platform/ProcessIdentity.h"

namespace kestrane::app {
namespace {

std::string_view toneName(forecast::ForecastInsight::Tone tone) {
    switch (tone) {
        case forecast::ForecastInsight::Tone::spare: return "spare";
        case forecast::ForecastInsight::Tone::steady: return "steady";
        case forecast::ForecastInsight::Tone::caution: return "caution";
        case forecast::ForecastInsight::Tone::shortage: return "shortage";
    }
    return "steady";
}

// The overview's "which service next" line, from the same outlooks the panel builds.
std::optional<StatusRecommendation> recommendationOf(
    const std::vector<model::ProviderKind>& enabled,
    const std::map<model::ProviderKind, ProviderState>& states, const UsageHistory& history,
    platform::Date now, const platform::Calendar& calendar) {
    std::vector<forecast::ServiceOutlook> outlooks;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        if (std::find(enabled.begin(), enabled.end(), kind) == enabled.end()) continue;
        const auto found = states.find(kind);
        const ProviderState state = found == states.end() ? ProviderState{} : found->second;
        std::map<std::string, history::UsageSeries> series;
        std::map<std::string, history::RhythmHistory> rhythms;
        if (state.usage) {
            for (const model::LimitWindow& window : state.usage->windows) {
                if (auto found = history.series(kind, window, now)) {
                    series.emplace(window.id, std::move(*found));
                }
                if (auto found = history.rhythm(kind, window)) {
                    rhythms.emplace(window.id, std::move(*found));
                }
            }
        }
        outlooks.push_back(forecast::ServiceOutlook::make(
            kind, state.usage, state.error.has_value(), series, rhythms, now, calendar));
    }
    const auto chosen = forecast::recommendService(outlooks, now);
    if (!chosen) return std::nullopt;
    return StatusRecommendation{chosen->provider, chosen->text};
}

// What the icons show, with the forecast of each shown provider's icon window.
StatusSnapshot snapshotOf(const std::vector<model::ProviderKind>& enabled,
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
    snapshot.recommendation = recommendationOf(enabled, states, history, now, calendar);
    return snapshot;
}

}  // namespace

std::shared_ptr<StatusFileWriter> StatusFileWriter::forSession(
    const platform::Environment& environment) {
    const auto path = StatusFile::location(environment);
    if (!path) return nullptr;
    return std::make_shared<StatusFileWriter>(*path, platform::Calendar::current());
}

StatusFileWriter::StatusFileWriter(std::filesystem::path path, platform::Calendar calendar)
    : path_(std::move(path)), calendar_(std::move(calendar)) {}

void StatusFileWriter::publish(const std::vector<model::ProviderKind>& enabled,
                               const std::map<model::ProviderKind, ProviderState>& states,
                               const UsageHistory& history, platform::Date now) {
    StatusSnapshot snapshot = snapshotOf(enabled, states, history, now, calendar_);
    snapshot.pid = ::getpid();
    snapshot.processStart = platform::processStartToken(::getpid()).value_or("");
    // The folder is the user's own (the runtime folder is); a failure only means that
    // --status finds nothing, which it reports.
    const std::filesystem::path folder = path_.parent_path();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
    platform::writeFileAtomically(path_, snapshot.encode(),
                                  std::filesystem::perms::owner_read |
                                      std::filesystem::perms::owner_write);
}

void StatusFileWriter::withdraw() {
    // Only our own file: a newer instance may have taken the place over.
    const auto snapshot = StatusFile::read(path_);
    if (snapshot && snapshot->pid == ::getpid()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
}

}  // namespace kestrane::app
