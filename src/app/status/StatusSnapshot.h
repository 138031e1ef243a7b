#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ProviderKind.h"
#include "platform/Date.h"

namespace kestrane::app {

// The forecast of a provider's badge window, as the panel states it.
struct StatusForecast {
    // "spare", "steady", "caution" or "shortage".
    std::string tone;
    // The panel's verdict and its one-line outcome.
    std::string verdict;
    std::string outcome;
    // Remaining percent expected at the reset: median, pessimistic, optimistic.
    double expectedRemaining = 0;
    double lowerRemaining = 0;
    double upperRemaining = 0;
    // Share of simulated futures that run out before the reset, 0...1.
    double exhaustionChance = 0;

    bool operator==(const StatusForecast&) const = default;
};

// How the forecast of a window did on its own past cycles (ForecastBacktest).
struct StatusTrackRecord {
    int cycles = 0;
    // Below this many cycles there are no figures, only the text that says so.
    int minimumCycles = 0;
    // Forecasts compared; shares 0...1; the median error in percentage points.
    std::optional<int> samples;
    std::optional<double> rangeHitShare;
    std::optional<double> medianErrorPoints;
    std::optional<double> verdictHitShare;
    // The panel's line.
    std::string text;

    bool operator==(const StatusTrackRecord&) const = default;
};

// Used against elapsed share of a window.
struct StatusPace {
    double usedPercent = 0;
    double elapsedPercent = 0;
    // Used minus elapsed in whole percentage points, 0 inside the even band.
    long long differencePoints = 0;
    // The panel's line.
    std::string text;

    bool operator==(const StatusPace&) const = default;
};

// One provider as its tray icon shows it.
struct ProviderStatus {
    model::ProviderKind provider = model::ProviderKind::codex;
    bool enabled = false;
    // The icon's text: "59%", "!" or "--".
    std::string text;
    // The icon's window (the provider's first one), when a usage is known.
    std::optional<std::string> windowID;
    std::optional<std::string> windowTitle;
    std::optional<double> remainingPercent;
    std::optional<platform::Date> resetsAt;
    // When the provider last answered.
    std::optional<platform::Date> updatedAt;
    // The last fetch's failure.
    std::optional<std::string> error;
    std::optional<StatusForecast> forecast;
    // Of the icon's window: the forecast's track record (once worked out) and the pace.
    std::optional<StatusTrackRecord> trackRecord;
    std::optional<StatusPace> pace;

    bool operator==(const ProviderStatus&) const = default;
};

// The service the overview names to use now, and why.
struct StatusRecommendation {
    model::ProviderKind provider = model::ProviderKind::codex;
    std::string text;

    bool operator==(const StatusRecommendation&) const = default;
};

// What the running application knows, left for `kestrane --status`: no secrets, no e-mail.
struct StatusSnapshot {
    // The writing process, and its start token: a pid reused by another program is not it.
    std::int64_t pid = 0;
    std::string processStart;
    platform::Date writtenAt;
    // Every provider in canonical order.
    std::vector<ProviderStatus> providers;
    // As the overview's line says it; nothing when there is nothing to choose.
    std::optional<StatusRecommendation> recommendation;

    bool operator==(const StatusSnapshot&) const = default;

    std::string encode() const;
    // Nothing for anything but a well-formed snapshot.
    static std::optional<StatusSnapshot> decode(std::string_view text);
};

}  // namespace kestrane::app
