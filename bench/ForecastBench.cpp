// Cost of one forecast as the panel computes it, at the largest inputs the forecaster accepts.
#include <benchmark/benchmark.h>

#include <random>

#include "forecast/ForecastSimulator.h"
#include "history/RhythmHistory.h"
#include "platform/Calendar.h"

namespace {

using kestrane::history::RhythmHistory;
using kestrane::history::RhythmHour;
using kestrane::platform::Calendar;
using kestrane::platform::Date;

// 2025-03-10 10:30 in Berlin.
constexpr Date kNow{1'741'599'000};

// 89 past days with all 24 hours observed (the most training allows), plus today's finished
// hours so the similarity weighting runs too.
RhythmHistory fullRhythm(const Calendar& calendar) {
    RhythmHistory history{std::string(64, 'a'), 300, calendar.timeZoneIdentifier(), {}};
    std::mt19937 random(42);
    std::uniform_real_distribution<double> rate(0, 8);
    const Date today = *calendar.startOfDay(kNow);
    for (int ago = 89; ago >= 0; --ago) {
        const Date day = *calendar.addingDays(today, -ago);
        for (Date hour = day; hour < *calendar.addingDays(day, 1);) {
            const auto interval = *calendar.hourInterval(hour);
            if (interval.end > kNow) break;
            history.hours.push_back(RhythmHour{interval.start, rate(random), 3600});
            hour = interval.end;
        }
    }
    return history;
}

void forecastOver(benchmark::State& state, double horizonSeconds) {
    const Calendar calendar("Europe/Berlin");
    const std::optional<RhythmHistory> history = fullRhythm(calendar);
    for (auto _ : state) {
        auto result = kestrane::forecast::ForecastSimulator::forecast(
            history, kNow, kNow + horizonSeconds, 60, 2.5, calendar, 512);
        if (!result) state.SkipWithError("no forecast");
        benchmark::DoNotOptimize(result);
    }
}

// A 32-day horizon crosses the spring daylight-saving change in this zone.
void BM_Forecast32Days(benchmark::State& state) { forecastOver(state, 2'764'800); }
void BM_Forecast5Hours(benchmark::State& state) { forecastOver(state, 5 * 3600); }

}  // namespace

BENCHMARK(BM_Forecast32Days)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Forecast5Hours)->Unit(benchmark::kMillisecond);
