#include "app/board/ProviderBoard.h"

#include <algorithm>
#include <utility>

namespace kestrane::app {

const BoardWindow* BoardProvider::window(std::size_t index, std::string_view id) const {
    if (index >= windows.size() || windows[index].windowID != id) return nullptr;
    return &windows[index];
}

const BoardProvider* BoardOutlooks::find(model::ProviderKind provider) const {
    const auto found =
        std::find_if(providers.begin(), providers.end(),
                     [provider](const BoardProvider& each) { return each.provider == provider; });
    return found == providers.end() ? nullptr : &*found;
}

ProviderBoard::ProviderBoard(BoardHistory& history, platform::Calendar calendar,
                             std::vector<model::ProviderKind> enabled)
    : history_(history),
      calendar_(std::move(calendar)),
      enabled_(std::move(enabled)),
      outlooks_(std::make_shared<const BoardOutlooks>()) {
    for (const model::ProviderKind kind : model::allProviderKinds) states_[kind] = ProviderState{};
}

bool ProviderBoard::isEnabled(model::ProviderKind provider) const {
    return std::find(enabled_.begin(), enabled_.end(), provider) != enabled_.end();
}

const ProviderState& ProviderBoard::state(model::ProviderKind provider) const {
    return states_.at(provider);
}

std::vector<model::ProviderKind> ProviderBoard::applyRefresh(
    const std::vector<model::FetchResult>& results, platform::Date now) {
    std::vector<model::ProviderUsage> successes;
    for (const model::FetchResult& result : results) {
        if (result.isSuccess()) {
            // Switched off while the fetch ran: neither recorded nor shown.
            if (isEnabled(result.usage().provider)) successes.push_back(result.usage());
            continue;
        }
        // The last good numbers survive a failed fetch.
        states_[result.failureValue().provider].error = result.failureValue().message;
    }
    // One write of the history for the whole refresh.
    if (!successes.empty()) history_.record(successes);
    std::vector<model::ProviderKind> fresh;
    for (model::ProviderUsage& usage : successes) {
        fresh.push_back(usage.provider);
        states_[usage.provider] = ProviderState{std::move(usage), std::nullopt};
    }
    recompute(now);
    return fresh;
}

void ProviderBoard::setEnabled(std::vector<model::ProviderKind> enabled, platform::Date now) {
    if (enabled == enabled_) return;
    enabled_ = std::move(enabled);
    recompute(now);
}

void ProviderBoard::setCalendar(platform::Calendar calendar, platform::Date now) {
    history_.setCalendar(calendar);
    calendar_ = std::move(calendar);
    recompute(now);
}

void ProviderBoard::setTrackRecords(std::unique_ptr<TrackRecordCache> cache, platform::Date now) {
    trackRecords_ = std::move(cache);
    recompute(now);
}

void ProviderBoard::readTrackRecord(model::ProviderKind kind, BoardWindow& window) {
    if (!trackRecords_ || !window.series) return;
    window.trackRecord =
        trackRecords_->read(std::to_string(static_cast<int>(kind)) + "/" + window.windowID,
                            *window.series, window.rhythm, calendar_);
}

void ProviderBoard::updateTrackRecords() {
    if (!trackRecords_) return;
    // A new snapshot: readers may still hold the one before.
    auto updated = std::make_shared<BoardOutlooks>(*outlooks_);
    for (BoardProvider& provider : updated->providers) {
        for (BoardWindow& window : provider.windows) readTrackRecord(provider.provider, window);
    }
    outlooks_ = std::move(updated);
}

void ProviderBoard::recompute(platform::Date now) {
    auto made = std::make_shared<BoardOutlooks>();
    made->computedAt = now;
    std::vector<forecast::ServiceOutlook> services;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        if (!isEnabled(kind)) continue;
        const ProviderState& state = states_.at(kind);
        const bool failed = state.error.has_value();
        BoardProvider provider{kind, {}, {}};
        if (state.usage) {
            provider.windows.reserve(state.usage->windows.size());
            for (const model::LimitWindow& window : state.usage->windows) {
                BoardWindow read{window.id,
                                 history_.series(kind, window, now),
                                 history_.rhythm(kind, window),
                                 {},
                                 std::nullopt,
                                 std::nullopt,
                                 std::nullopt};
                read.outlook = forecast::WindowOutlook::make(window, read.series, read.rhythm, now,
                                                             failed, calendar_);
                ++outlooksComputed_;
                if (read.outlook.forecast) {
                    read.insight = forecast::ForecastInsight::make(
                        *read.outlook.forecast, read.outlook.analytics.remainingPercent,
                        read.outlook.analytics.now, calendar_);
                }
                readTrackRecord(kind, read);
                if (!failed) read.pace = forecast::WindowPace::make(window, now);
                provider.windows.push_back(std::move(read));
            }
        }
        provider.service = forecast::ServiceOutlook::make(
            kind, state.usage, failed,
            provider.windows.empty() ? nullptr : &provider.windows.front().outlook, now);
        services.push_back(provider.service);
        made->providers.push_back(std::move(provider));
    }
    made->recommendation = forecast::recommendService(services, now);
    outlooks_ = std::move(made);
}

}  // namespace kestrane::app
