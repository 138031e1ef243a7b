#include "app/status/StatusFileWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "app/status/StatusFile.h"
#include "app/status/StatusSnapshot.h"
#include "platform/Files.h"
#include "platform/ProcessIdentity.h"

namespace kestrane::app {
namespace {

std::string_view toneName(forecast::ForecastInsight::Tone tone) {
    switch (tone) {
        case forecast::ForecastInsight::Tone::spare:
            return "spare";
        case forecast::ForecastInsight::Tone::steady:
            return "steady";
        case forecast::ForecastInsight::Tone::caution:
            return "caution";
        case forecast::ForecastInsight::Tone::shortage:
            return "shortage";
    }
    return "steady";
}

}  // namespace

// What the icons show, with the board's forecast of each shown provider's icon window and
// its "which service next" line.
StatusSnapshot StatusFileWriter::snapshotOf(const BoardSnapshot& board, platform::Date now) {
    StatusSnapshot snapshot;
    snapshot.writtenAt = now;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        ProviderStatus status;
        status.provider = kind;
        status.enabled = board.isEnabled(kind);
        const ProviderState& state = board.state(kind);
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
                // The board forecasts shown providers only.
                const BoardProvider* outlook = board.find(kind);
                const BoardWindow* badge = outlook ? outlook->window(0, window.id) : nullptr;
                if (badge && badge->outlook.forecast && badge->insight) {
                    const forecast::QuotaForecast& made = *badge->outlook.forecast;
                    status.forecast = StatusForecast{
                        std::string(toneName(badge->insight->tone)),
                        badge->insight->title,
                        badge->insight->outcome,
                        made.medianRemaining,
                        made.lowerRemaining,
                        made.upperRemaining,
                        made.exhaustionFraction,
                    };
                }
                if (badge && badge->trackRecord) {
                    const forecast::BacktestResult& result = *badge->trackRecord;
                    StatusTrackRecord record{result.cycles,
                                             forecast::ForecastBacktest::minimumCycles,
                                             std::nullopt,
                                             std::nullopt,
                                             std::nullopt,
                                             std::nullopt,
                                             forecast::ForecastBacktest::describe(result)};
                    if (result.record) {
                        record.samples = result.record->samples;
                        record.rangeHitShare = result.record->rangeHitShare;
                        record.medianErrorPoints = result.record->medianErrorPoints;
                        record.verdictHitShare = result.record->verdictHitShare;
                    }
                    status.trackRecord = std::move(record);
                }
                if (badge && badge->pace) {
                    status.pace = StatusPace{badge->pace->usedPercent, badge->pace->elapsedPercent,
                                             badge->pace->roundedDifference(), badge->pace->text()};
                }
            }
        }
        snapshot.providers.push_back(std::move(status));
    }
    if (const auto& chosen = board.recommendation) {
        snapshot.recommendation = StatusRecommendation{chosen->provider, chosen->text};
    }
    return snapshot;
}

std::shared_ptr<StatusFileWriter> StatusFileWriter::forSession(
    const platform::Environment& environment, const platform::Clock& clock) {
    const auto path = StatusFile::location(environment);
    if (!path) return nullptr;
    return std::make_shared<StatusFileWriter>(*path, clock);
}

StatusFileWriter::StatusFileWriter(std::filesystem::path path, const platform::Clock& clock)
    : path_(std::move(path)), clock_(clock) {}

void StatusFileWriter::boardChanged(const std::shared_ptr<const BoardSnapshot>& board) {
    StatusSnapshot snapshot = snapshotOf(*board, clock_.now());
    snapshot.pid = ::getpid();
    snapshot.processStart = platform::processStartToken(::getpid()).value_or("");
    // The folder is the user's own (the runtime folder is); a failure only means that
    // --status finds nothing, which it reports.
    const std::filesystem::path folder = path_.parent_path();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
    platform::writeFileAtomically(
        path_, snapshot.encode(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
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
