#pragma once

#include <array>
#include <optional>
#include <string>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "platform/Calendar.h"

namespace kestrane::forecast {

// How the forecast did on a window's own past: past cycles replayed at a few moments each, the
// forecast made with only what was known then and compared with what the window really had
// left at that cycle's reset.
struct TrackRecord {
    // Forecasts compared.
    int samples = 0;
    // Share (0...1) of them whose actual remainder (the last one observed before the reset, in
    // whole percents as the panel shows it) fell inside the range the panel showed
    // ("Возможный остаток: a-b%", whole percents, the bounds included).
    double rangeHitShare = 0;
    // Median of |expected remainder - actual remainder|, percentage points.
    double medianErrorPoints = 0;
    // Share (0...1) of right verdicts: the panel warned that the limit may run out exactly
    // when it did run out (nothing left at the reset).
    double verdictHitShare = 0;

    bool operator==(const TrackRecord&) const = default;
};

struct BacktestResult {
    // Past cycles that gave at least one forecast to compare.
    int cycles = 0;
    // Present only from ForecastBacktest::minimumCycles cycles on: fewer say too little.
    std::optional<TrackRecord> record;
    // The stored series (7 days) can never hold that many cycles of this window.
    bool longerThanHistory = false;

    bool operator==(const BacktestResult&) const = default;
};

namespace ForecastBacktest {

// Below this many past cycles a share or a median says more about chance than the forecast.
inline constexpr int minimumCycles = 3;
// Each past cycle is replayed at these shares of its length.
inline constexpr std::array<double, 3> sampledShares{0.25, 0.5, 0.75};
// A cycle's outcome is trusted only when it was observed this close to its reset (the age
// past which the panel calls its data stale).
inline constexpr double latestFinalObservation = 900;

// Replays the past cycles of `series`: those that end in a reset whose time was known in
// advance, have no other transition inside and whose window length is known. At each sampled
// moment the forecast starts from the last sample at or before it (none when that sample is
// over 15 minutes old, as in the panel) and learns only from rhythm hours that had ended by
// then. Deterministic.
BacktestResult run(const history::UsageSeries& series,
                   const std::optional<history::RhythmHistory>& rhythm,
                   const platform::Calendar& calendar);

// "Прогноз на ваших данных: попадание в диапазон 84% · ошибка ±6 п.п. · 9 циклов", or the
// line that says the history is too short for a figure (yet, or ever for so long a window).
std::string describe(const BacktestResult& result);

// "1 цикл", "3 цикла", "9 циклов" (a non-breaking space between).
std::string cyclesText(int count);

}  // namespace ForecastBacktest
}  // namespace kestrane::forecast
