#include "app/board/ProviderBoard.h"

#include <algorithm>
#include <utility>

namespace kestrane::app {

namespace {

std::map<model::ProviderKind, ProviderState> noStates() {
    std::map<model::ProviderKind, ProviderState> states;
    for (const model::ProviderKind kind : model::allProviderKinds) states[kind] = ProviderState{};
    return states;
}

}  // namespace

const BoardWindow* BoardProvider::window(std::size_t index, std::string_view id) const {
    if (index >= windows.size() || windows[index].windowID != id) return nullptr;
    return &windows[index];
}

bool BoardSnapshot::isEnabled(model::ProviderKind provider) const {
    return std::find(enabled.begin(), enabled.end(), provider) != enabled.end();
}

const ProviderState& BoardSnapshot::state(model::ProviderKind provider) const {
    static const ProviderState none;
    const auto found = states.find(provider);
    return found == states.end() ? none : found->second;
}

const BoardProvider* BoardSnapshot::find(model::ProviderKind provider) const {
    const auto found =
        std::find_if(providers.begin(), providers.end(),
                     [provider](const BoardProvider& each) { return each.provider == provider; });
    return found == providers.end() ? nullptr : &*found;
}

ProviderBoard::ProviderBoard(BoardHistory& history, platform::Calendar calendar,
                             std::vector<model::ProviderKind> enabled)
    : history_(history) {
    // Nothing fetched yet, so nothing to forecast and no outlooks.
    auto first = std::make_shared<BoardSnapshot>();
    first->enabled = std::move(enabled);
    first->states = noStates();
    first->calendar = std::move(calendar);
    first->historyError = history_.persistenceError();
    snapshot_ = std::move(first);
    ++snapshotsMade_;
}

void ProviderBoard::addObserver(BoardObserver& observer) { observers_.push_back(&observer); }

void ProviderBoard::removeObserver(BoardObserver& observer) { std::erase(observers_, &observer); }

void ProviderBoard::announce() {
    // A copy: an observer may add or remove observers while it is told.
    const auto observers = observers_;
    const auto snapshot = snapshot_;
    for (BoardObserver* observer : observers) observer->boardChanged(snapshot);
}

void ProviderBoard::publish(std::shared_ptr<const BoardSnapshot> snapshot) {
    snapshot_ = std::move(snapshot);
    ++snapshotsMade_;
    announce();
}

std::vector<model::ProviderKind> ProviderBoard::applyRefresh(
    const std::vector<model::FetchResult>& results, platform::Date now) {
    auto states = snapshot_->states;
    std::vector<model::ProviderUsage> successes;
    for (const model::FetchResult& result : results) {
        if (result.isSuccess()) {
            // Switched off while the fetch ran: neither recorded nor shown.
            if (isEnabled(result.usage().provider)) successes.push_back(result.usage());
            continue;
        }
        // The last good numbers survive a failed fetch.
        states[result.failureValue().provider].error = result.failureValue().message;
    }
    // One write of the history for the whole refresh.
    if (!successes.empty()) history_.record(successes);
    std::vector<model::ProviderKind> fresh;
    for (model::ProviderUsage& usage : successes) {
        fresh.push_back(usage.provider);
        states[usage.provider] = ProviderState{std::move(usage), std::nullopt};
    }
    recompute(snapshot_->enabled, std::move(states), snapshot_->calendar, fresh, now);
    return fresh;
}

void ProviderBoard::setEnabled(std::vector<model::ProviderKind> enabled, platform::Date now) {
    if (enabled == snapshot_->enabled) return;
    recompute(std::move(enabled), snapshot_->states, snapshot_->calendar, {}, now);
}

void ProviderBoard::setCalendar(platform::Calendar calendar, platform::Date now) {
    history_.setCalendar(calendar);
    recompute(snapshot_->enabled, snapshot_->states, std::move(calendar), {}, now);
}

void ProviderBoard::setTrackRecords(std::unique_ptr<TrackRecordCache> cache, platform::Date now) {
    trackRecords_ = std::move(cache);
    recompute(snapshot_->enabled, snapshot_->states, snapshot_->calendar, {}, now);
}

void ProviderBoard::readTrackRecord(model::ProviderKind kind, BoardWindow& window,
                                    const platform::Calendar& calendar) {
    if (!trackRecords_ || !window.series) return;
    window.trackRecord =
        trackRecords_->read(std::to_string(static_cast<int>(kind)) + "/" + window.windowID,
                            *window.series, window.rhythm, calendar);
}

void ProviderBoard::updateTrackRecords(platform::Date now) {
    if (!trackRecords_) return;
    // A new snapshot: readers may still hold the one before.
    auto updated = std::make_shared<BoardSnapshot>(*snapshot_);
    updated->fresh.clear();
    updated->madeAt = now;
    for (BoardProvider& provider : updated->providers) {
        for (BoardWindow& window : provider.windows) {
            readTrackRecord(provider.provider, window, updated->calendar);
        }
    }
    publish(std::move(updated));
}

void ProviderBoard::recompute(std::vector<model::ProviderKind> enabled,
                              std::map<model::ProviderKind, ProviderState> states,
                              platform::Calendar calendar, std::vector<model::ProviderKind> fresh,
                              platform::Date now) {
    auto made = std::make_shared<BoardSnapshot>();
    made->enabled = std::move(enabled);
    made->states = std::move(states);
    made->calendar = std::move(calendar);
    made->fresh = std::move(fresh);
    made->madeAt = now;
    made->historyError = history_.persistenceError();
    std::vector<forecast::ServiceOutlook> services;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        if (!made->isEnabled(kind)) continue;
        const ProviderState& state = made->state(kind);
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
                                                             failed, made->calendar);
                ++outlooksComputed_;
                if (read.outlook.forecast) {
                    read.insight = forecast::ForecastInsight::make(
                        *read.outlook.forecast, read.outlook.analytics.remainingPercent,
                        read.outlook.analytics.now, made->calendar);
                }
                readTrackRecord(kind, read, made->calendar);
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
    publish(std::move(made));
}

}  // namespace kestrane::app
