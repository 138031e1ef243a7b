#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/board/BoardHistory.h"
#include "app/board/ProviderBoard.h"
#include "app/settings/StartAtLogin.h"
#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"
#include "ui/PanelContent.h"

// Prepared panel states shared by the screen tests and the panel benchmark.
namespace kestrane::testing::panel {

// Starting at login as a test says: what was asked, and a change that fails with `failure`.
class FakeStartAtLogin final : public app::StartAtLogin {
  public:
    bool isEnabled() const override { return enabled; }
    void setEnabled(bool on) const override {
        requested.push_back(on);
        if (failure) throw std::runtime_error(*failure);
        enabled = on;
    }

    mutable bool enabled = false;
    mutable std::vector<bool> requested;
    std::optional<std::string> failure;
};

// A provider as a panel test prepares it: what the panel shows of it, and the stored history
// of its windows (keyed by window id) that the board reads.
struct PanelProvider : ui::ProviderViewState {
    std::map<std::string, history::UsageSeries> history;
    std::map<std::string, history::RhythmHistory> rhythms;
};

// The providers' histories, as the board reads them from the store.
class FixtureHistory final : public app::BoardHistory {
  public:
    explicit FixtureHistory(const std::vector<PanelProvider>& providers) : providers_(providers) {}

    void pruneExpired(platform::Date) override {}
    void record(const std::vector<model::ProviderUsage>&) override {}
    std::optional<std::string> persistenceError() const override { return std::nullopt; }
    std::optional<history::UsageSeries> series(model::ProviderKind provider,
                                               const model::LimitWindow& window,
                                               platform::Date) const override {
        return find(provider, &PanelProvider::history, window.id);
    }
    std::optional<history::RhythmHistory> rhythm(model::ProviderKind provider,
                                                 const model::LimitWindow& window) const override {
        return find(provider, &PanelProvider::rhythms, window.id);
    }
    void setCalendar(platform::Calendar) override {}

  private:
    template <typename Value>
    std::optional<Value> find(model::ProviderKind provider,
                              std::map<std::string, Value> PanelProvider::*member,
                              const std::string& id) const {
        for (const PanelProvider& each : providers_) {
            if (each.provider != provider) continue;
            const auto found = (each.*member).find(id);
            if (found != (each.*member).end()) return found->second;
        }
        return std::nullopt;
    }

    const std::vector<PanelProvider>& providers_;
};

// The board's outlooks of the enabled providers at `now`, made as the running application
// makes them: their last usage (and failure) handed to a board over their histories.
inline std::shared_ptr<const app::BoardSnapshot> outlooksOf(
    const std::vector<PanelProvider>& providers, const platform::Calendar& calendar,
    platform::Date now) {
    FixtureHistory history(providers);
    std::vector<model::ProviderKind> enabled;
    for (const model::ProviderKind kind : model::allProviderKinds) {
        for (const PanelProvider& each : providers) {
            if (each.provider == kind && each.isEnabled) enabled.push_back(kind);
        }
    }
    app::ProviderBoard board(history, calendar, enabled);
    // Track records worked out at once, so the panel shows them as soon as it is drawn.
    board.setTrackRecords(std::make_unique<app::TrackRecordCache>(false), now);
    std::vector<model::FetchResult> usages;
    std::vector<model::FetchResult> failures;
    for (const PanelProvider& each : providers) {
        if (each.usage) usages.push_back(model::FetchResult::success(*each.usage));
        if (each.error) failures.push_back(model::FetchResult::failure(each.provider, *each.error));
    }
    // A failure after a success keeps the usage beside the message.
    if (!usages.empty()) board.applyRefresh(usages, now);
    board.applyRefresh(failures, now);
    return board.snapshot();
}

// Shows `providers` in `controller` as the application would: their states and the board's
// outlooks of them.
inline void showProviders(ui::PanelContent& controller, const std::vector<PanelProvider>& providers,
                          const platform::Calendar& calendar, platform::Date now) {
    controller.setStates({providers.begin(), providers.end()});
    controller.setOutlooks(outlooksOf(providers, calendar, now));
}

// 2025-03-10 (a Monday) 10:30 in Moscow.
inline constexpr platform::Date kMorning{1'741'591'800};
inline constexpr double kHour = 3600;
inline constexpr double kDay = 86400;

// `days` fully observed past days before today (and nothing of today), spending `rate`
// percentage points per hour during working hours (9-19) and a tenth of it otherwise.
inline history::RhythmHistory workdayRhythm(const platform::Calendar& calendar, platform::Date now,
                                            int days, double rate) {
    history::RhythmHistory rhythm{std::string(64, 'a'), 10080, calendar.timeZoneIdentifier(), {}};
    const platform::Date today = *calendar.startOfDay(now);
    for (int ago = days; ago >= 1; --ago) {
        const platform::Date day = *calendar.addingDays(today, -ago);
        for (platform::Date hour = day; hour < *calendar.addingDays(day, 1);) {
            const auto interval = *calendar.hourInterval(hour);
            const int clock = calendar.hour(interval.start);
            const double used = clock >= 9 && clock < 19 ? rate : rate / 10;
            rhythm.hours.push_back(history::RhythmHour{interval.start, used, 3600});
            hour = interval.end;
        }
    }
    return rhythm;
}

// `count` samples spread evenly over the seven days before `now` (the last one a minute
// before it), rising during the day, with a pause of six hours three days ago and a reset
// to zero four days ago.
inline history::UsageSeries weekSeries(model::ProviderKind provider, const std::string& windowID,
                                       platform::Date now, int count, double lastUsed) {
    history::UsageSeries series{provider, windowID, std::string(64, 'a'), 10080, std::nullopt, {}};
    const platform::Date start = now - 7 * kDay;
    const platform::Date end = now - 60;
    const double step = (end - start) / (count - 1);
    const platform::Date resetAt = now - 4 * kDay;
    const platform::Date pauseStart = now - 3 * kDay;
    const platform::Date pauseEnd = pauseStart + 6 * kHour;
    bool afterPause = false;
    bool afterReset = false;
    series.samples.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const platform::Date date = start + step * i;
        if (date > pauseStart && date < pauseEnd) continue;
        history::UsageSample sample{date, 0, i == 0, std::nullopt};
        if (!afterReset && date >= resetAt) {
            afterReset = true;
            sample.startsSegment = true;
            sample.transition =
                history::UsageTransition{resetAt, history::UsageTransition::Kind::reset, false};
        }
        if (!afterPause && date >= pauseEnd) {
            afterPause = true;
            sample.startsSegment = true;
        }
        // Consumption since the reset (or since the start), smooth and rising.
        const platform::Date from = afterReset ? resetAt : start;
        const platform::Date until = afterReset ? end : resetAt;
        const double share = std::clamp((date - from) / (until - from), 0.0, 1.0);
        const double top = afterReset ? lastUsed : 92;
        sample.usedPercent = top * (share + 0.02 * std::sin(share * 40)) / 1.02;
        sample.usedPercent = std::clamp(sample.usedPercent, 0.0, 100.0);
        if (!series.samples.empty() && !sample.startsSegment &&
            sample.usedPercent < series.samples.back().usedPercent) {
            sample.usedPercent = series.samples.back().usedPercent;
        }
        series.samples.push_back(sample);
    }
    series.samples.back().usedPercent = lastUsed;
    return series;
}

// Claude with a weekly window that has a week of history and a rhythm learned over `rhythmDays`
// days (spending `rate` points an hour in working hours), `used` percent used and resetting
// `resetIn` seconds after `now`, and a five-hour session window.
inline PanelProvider forecastState(const platform::Calendar& calendar, platform::Date now,
                                   int sampleCount, int rhythmDays, double resetIn,
                                   double used = 41.2, double rate = 0.6) {
    model::ProviderUsage usage;
    usage.provider = model::ProviderKind::claude;
    usage.plan = "Max 5x";
    usage.updatedAt = now - 60;
    usage.windows = {
        {.id = "claude-week",
         .name = "Неделя",
         .usedPercent = used,
         .durationMinutes = 10080,
         .resetsAt = now + resetIn},
        {.id = "claude-session",
         .name = "Сессия",
         .usedPercent = 12,
         .durationMinutes = 300,
         .resetsAt = now + 2 * kHour + 10 * 60},
    };
    usage.recentModels = {{"claude-opus-4", 12, now - 600}, {"claude-sonnet-4", 3, now - 7200}};
    PanelProvider state{{model::ProviderKind::claude, true, usage, std::nullopt}, {}, {}};
    state.history.emplace("claude-week", weekSeries(model::ProviderKind::claude, "claude-week", now,
                                                    sampleCount, used));
    state.rhythms.emplace("claude-week", workdayRhythm(calendar, now, rhythmDays, rate));
    return state;
}

// Codex with only a five-hour session window used around the clock (about 4 points an hour in
// working hours, 0.6 otherwise), cycles back to back, observed every five minutes for a week and
// two hours into the current cycle; the rhythm is learned from the samples as the store learns
// it. Its forecast has a track record of many past cycles.
inline PanelProvider sessionState(const platform::Calendar& calendar, platform::Date now) {
    constexpr double cycle = 5 * kHour;
    const platform::Date start = now - 33 * cycle - 2 * kHour;
    history::UsageSeries series{
        model::ProviderKind::codex, "codex-session", std::string(64, 'a'), 300, std::nullopt, {}};
    history::RhythmHistory rhythm{std::string(64, 'a'), 300, calendar.timeZoneIdentifier(), {}};
    double used = 0;
    int previousCycle = 0;
    for (platform::Date date = start + 60; date < now - 30; date = date + 300) {
        const int index = static_cast<int>((date - start) / cycle);
        const platform::Date cycleEnd = start + (index + 1) * cycle;
        history::UsageSample sample{date, 0, series.samples.empty(), std::nullopt};
        if (index != previousCycle) {
            used = 0;
            sample.startsSegment = true;
            sample.transition = history::UsageTransition{
                start + index * cycle, history::UsageTransition::Kind::reset, false};
        }
        const int clock = calendar.hour(date);
        const double rate =
            clock >= 9 && clock < 19 ? 4 + 1.5 * std::sin(date.secondsSince1970 / 5000) : 0.6;
        used = std::min(100.0, used + rate * 300 / 3600);
        sample.usedPercent = used;
        if (!series.samples.empty())
            rhythm.observe(series.samples.back(), sample, cycleEnd, calendar);
        series.samples.push_back(sample);
        series.resetsAt = cycleEnd;
        previousCycle = index;
    }
    model::ProviderUsage usage;
    usage.provider = model::ProviderKind::codex;
    usage.plan = "Plus";
    usage.updatedAt = now - 60;
    usage.windows = {{.id = "codex-session",
                      .usedPercent = used,
                      .durationMinutes = 300,
                      .resetsAt = series.resetsAt}};
    PanelProvider state{{model::ProviderKind::codex, true, usage, std::nullopt}, {}, {}};
    state.history.emplace("codex-session", std::move(series));
    state.rhythms.emplace("codex-session", std::move(rhythm));
    return state;
}

}  // namespace kestrane::testing::panel
