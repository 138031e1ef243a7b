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

// What was computed from one state of the board: the enabled providers' windows and the
// service to use now. Immutable once made, so a reader may keep it across the next change.
struct BoardOutlooks {
    // Enabled providers in canonical order.
    std::vector<BoardProvider> providers;
    std::optional<forecast::ServiceRecommendation> recommendation;
    // The instant the outlooks were computed for.
    platform::Date computedAt;

    // Nothing for a provider that is off.
    const BoardProvider* find(model::ProviderKind provider) const;
};

// The running application's one picture of its providers, without Qt: which are enabled,
// what each last reported or why it failed, the calendar of the user's zone, and the outlook
// of every window of every enabled provider. Outlooks are computed once per change (a
// refresh, a switch, a new zone) and every reader (tray, notifications, status file, panel)
// reads them from here instead of forecasting on its own.
class ProviderBoard {
  public:
    ProviderBoard(BoardHistory& history, platform::Calendar calendar,
                  std::vector<model::ProviderKind> enabled);

    const std::vector<model::ProviderKind>& enabled() const { return enabled_; }
    bool isEnabled(model::ProviderKind provider) const;
    // All five providers, enabled or not.
    const std::map<model::ProviderKind, ProviderState>& states() const { return states_; }
    const ProviderState& state(model::ProviderKind provider) const;
    const platform::Calendar& calendar() const { return calendar_; }

    const BoardOutlooks& outlooks() const { return *outlooks_; }
    // The same, shared, for a reader that keeps it (the panel renders on its own time).
    std::shared_ptr<const BoardOutlooks> sharedOutlooks() const { return outlooks_; }
    // Nothing for a provider that is off.
    const BoardProvider* outlook(model::ProviderKind provider) const {
        return outlooks_->find(provider);
    }
    const std::optional<forecast::ServiceRecommendation>& recommendation() const {
        return outlooks_->recommendation;
    }

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
    // date is made in it from now on.
    void setCalendar(platform::Calendar calendar, platform::Date now);

    // From now on every window carries its forecast's track record, read from `cache` (which
    // works them out; the application gives it a background thread). Off until this is called.
    void setTrackRecords(std::unique_ptr<TrackRecordCache> cache, platform::Date now);
    TrackRecordCache* trackRecords() const { return trackRecords_.get(); }
    // Reads the track records again once their thread has worked new ones out; nothing else
    // of the outlooks is worked out again.
    void updateTrackRecords();

    // How many window outlooks (each with its forecast) were computed so far.
    std::size_t outlooksComputed() const { return outlooksComputed_; }

  private:
    void recompute(platform::Date now);
    void readTrackRecord(model::ProviderKind kind, BoardWindow& window);

    BoardHistory& history_;
    platform::Calendar calendar_;
    std::vector<model::ProviderKind> enabled_;
    std::map<model::ProviderKind, ProviderState> states_;
    std::shared_ptr<const BoardOutlooks> outlooks_;
    std::size_t outlooksComputed_ = 0;
    std::unique_ptr<TrackRecordCache> trackRecords_;
};

}  // namespace kestrane::app
