#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/board/BoardHistory.h"
#include "app/board/ProviderState.h"
#include "app/board/TrackRecordCache.h"
#include "forecast/ForecastBacktest.h"
#include "forecast/ForecastInsight.h"
#include "forecast/ServiceRecommendation.h"
#include "forecast/WindowOutlook.h"
#include "forecast/WindowPace.h"
#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::app {

// One window of an enabled provider as the history read at the last computation.
struct BoardWindow {
    std::string windowID;
    std::optional<history::UsageSeries> series;
    std::optional<history::RhythmHistory> rhythm;
    forecast::WindowOutlook outlook;
    // The verdict on the forecast, when there is one.
    std::optional<forecast::ForecastInsight> insight;
    // How the forecast did on this window's past cycles: the last finished record, nothing
    // before the first one (or without track records on the board).
    std::optional<forecast::BacktestResult> trackRecord;
    // Used against elapsed share, when the window's length and reset are known and the last
    // fetch succeeded.
    std::optional<forecast::WindowPace> pace;
};

// Every window of one enabled provider, in the order of its last usage's windows.
struct BoardProvider {
    model::ProviderKind provider = model::ProviderKind::codex;
    std::vector<BoardWindow> windows;
    // What the "which service next" line reads of this provider.
    forecast::ServiceOutlook service;

    // The window at `index` of the usage, if the board read that window (the id must match:
    // a usage newer than the board's reading is not mistaken for it).
    const BoardWindow* window(std::size_t index, std::string_view id) const;
    // The window the tray icon shows (the first), when there is one.
    const BoardWindow* badge() const { return windows.empty() ? nullptr : &windows.front(); }
};

// One state of the board, as every reader sees it: which providers are on, what each last
// reported or why it failed, the calendar of the user's zone, and what was computed from
// them (every enabled provider's windows and the service to use now). Immutable once made,
// so a reader may keep it across the next change.
struct BoardSnapshot {
    // Canonical order.
    std::vector<model::ProviderKind> enabled;
    // Every provider, enabled or not.
    std::map<model::ProviderKind, ProviderState> states;
    platform::Calendar calendar{"UTC"};
    // Enabled providers in canonical order.
    std::vector<BoardProvider> providers;
    std::optional<forecast::ServiceRecommendation> recommendation;
    // Why the history could not be read or written, as of this snapshot.
    std::optional<std::string> historyError;
    // The providers whose usage arrived with the refresh that made this snapshot (none when
    // something else did).
    std::vector<model::ProviderKind> fresh;
    // When it was made.
    platform::Date madeAt;

    bool isEnabled(model::ProviderKind provider) const;
    const ProviderState& state(model::ProviderKind provider) const;
    // Nothing for a provider that is off.
    const BoardProvider* find(model::ProviderKind provider) const;
};

// A reader of the board: told each new snapshot, once, as soon as it is made.
class BoardObserver {
  public:
    virtual ~BoardObserver() = default;
    virtual void boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) = 0;
};

// The running application's one picture of its providers, without Qt: which are enabled,
// what each last reported or why it failed, the calendar of the user's zone, and the outlook
// of every window of every enabled provider. Each change (a refresh, a switch, a new zone, a
// finished track record) makes one new snapshot and announces it to every observer (tray,
// notifications, status file, panel); none of them forecasts or copies a series on its own.
class ProviderBoard {
  public:
    ProviderBoard(BoardHistory& history, platform::Calendar calendar,
                  std::vector<model::ProviderKind> enabled);

    const std::vector<model::ProviderKind>& enabled() const { return snapshot_->enabled; }
    bool isEnabled(model::ProviderKind provider) const { return snapshot_->isEnabled(provider); }
    // Every provider, enabled or not.
    const std::map<model::ProviderKind, ProviderState>& states() const { return snapshot_->states; }
    const ProviderState& state(model::ProviderKind provider) const {
        return snapshot_->state(provider);
    }
    const platform::Calendar& calendar() const { return snapshot_->calendar; }

    // The current snapshot; a reader may keep it.
    const std::shared_ptr<const BoardSnapshot>& snapshot() const { return snapshot_; }
    // Nothing for a provider that is off.
    const BoardProvider* outlook(model::ProviderKind provider) const {
        return snapshot_->find(provider);
    }
    const std::optional<forecast::ServiceRecommendation>& recommendation() const {
        return snapshot_->recommendation;
    }

    // Observers are told every snapshot made from now on, in the order they were added. They
    // must outlive the board or be removed first.
    void addObserver(BoardObserver& observer);
    void removeObserver(BoardObserver& observer);
    // Tells every observer the current snapshot again (at start, so each reader draws the
    // first state).
    void announce();

    // Everything one refresh brought, in one step: the successes of enabled providers are
    // recorded into the history together and replace their usage, a failure keeps the last
    // good usage beside its message, then the outlooks are computed again. A success of a
    // provider switched off while it was fetched is neither recorded nor kept. Returns the
    // providers whose usage is fresh from this refresh.
    std::vector<model::ProviderKind> applyRefresh(const std::vector<model::FetchResult>& results,
                                                  platform::Date now);
    // The enabled set changed (canonical order); the outlooks follow. Nothing happens when
    // it is the same.
    void setEnabled(std::vector<model::ProviderKind> enabled, platform::Date now);
    // The system's time zone changed: the history learns hours in it, and every outlook and
    // date is made in it from now on (a new snapshot at once).
    void setCalendar(platform::Calendar calendar, platform::Date now);

    // From now on every window carries its forecast's track record, read from `cache` (which
    // works them out; the application gives it a background thread). Off until this is called.
    void setTrackRecords(std::unique_ptr<TrackRecordCache> cache, platform::Date now);
    TrackRecordCache* trackRecords() const { return trackRecords_.get(); }
    // Reads the track records again once their thread has worked new ones out; nothing else
    // of the outlooks is worked out again.
    void updateTrackRecords(platform::Date now);

    // How many window outlooks (each with its forecast) were computed so far.
    std::size_t outlooksComputed() const { return outlooksComputed_; }
    // How many snapshots were made so far.
    std::size_t snapshotsMade() const { return snapshotsMade_; }

  private:
    // A new snapshot of these states with every outlook computed, announced.
    void recompute(std::vector<model::ProviderKind> enabled,
                   std::map<model::ProviderKind, ProviderState> states, platform::Calendar calendar,
                   std::vector<model::ProviderKind> fresh, platform::Date now);
    void readTrackRecord(model::ProviderKind kind, BoardWindow& window,
                         const platform::Calendar& calendar);
    void publish(std::shared_ptr<const BoardSnapshot> snapshot);

    BoardHistory& history_;
    std::shared_ptr<const BoardSnapshot> snapshot_;
    std::size_t outlooksComputed_ = 0;
    std::size_t snapshotsMade_ = 0;
    std::unique_ptr<TrackRecordCache> trackRecords_;
    std::vector<BoardObserver*> observers_;
};

}  // namespace kestrane::app
