#include "forecast/ForecastBacktest.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "forecast/ForecastInsight.h"
#include "forecast/WindowOutlook.h"
#include "history/UsageAnalytics.h"
#include "history/UsageHistoryStore.h"

namespace kestrane::forecast::ForecastBacktest {
namespace {

using history::UsageSample;
using history::UsageTransition;
using platform::Date;

// The panel offers no forecast from a sample older than this (UsageAnalytics::isStale).
constexpr double kFreshness = 900;
constexpr const char* kNoBreak = "\u00a0";

// What was learned of the rhythm by `moment`: only clock hours that had ended.
history::RhythmHistory rhythmKnownAt(const history::RhythmHistory& rhythm, Date moment) {
    history::RhythmHistory known{
        rhythm.accountDigest, rhythm.durationMinutes, rhythm.timeZoneIdentifier, {}};
    known.hours.reserve(rhythm.hours.size());
    for (const history::RhythmHour& hour : rhythm.hours) {
        if (hour.start + 3600 <= moment) known.hours.push_back(hour);
    }
    return known;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1) return upper;
    const double lower =
        *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

std::string percentOf(double share) { return std::to_string(std::llround(share * 100)) + "%"; }

}  // namespace

BacktestResult run(const history::UsageSeries& series,
                   const std::optional<history::RhythmHistory>& rhythm,
                   const platform::Calendar& calendar) {
    BacktestResult result;
    if (!series.durationMinutes || *series.durationMinutes <= 0) return result;
    const double length = static_cast<double>(*series.durationMinutes) * 60;
    result.longerThanHistory =
        length * minimumCycles > history::UsageHistoryStore::visibleHistorySeconds;
    if (!rhythm) return result;
    const std::vector<UsageSample>& samples = series.samples;

    int inRange = 0;
    int rightVerdicts = 0;
    std::vector<double> errors;
    // The sample of the last transition before the one looked at: the window's reset time was
    // the same from there on until that transition.
    std::size_t since = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const auto& transition = samples[i].transition;
        if (!transition) continue;
        const std::size_t cycleFrom = since;
        since = i;
        // Only a reset known in advance is a reset the forecast was made for.
        if (transition->kind != UsageTransition::Kind::reset || transition->isEstimated) continue;
        const Date reset = transition->date;
        const Date start = reset - length;
        const UsageSample& last = samples[i - 1];
        if (!(last.date < reset) || reset - last.date > latestFinalObservation) continue;
        const double actual = std::clamp(100 - last.usedPercent, 0.0, 100.0);

        bool counted = false;
        std::optional<std::size_t> previous;
        for (const double share : sampledShares) {
            const Date target = start + length * share;
            // The last sample at or before the moment, after the cycle's last transition.
            const auto after = std::upper_bound(
                samples.begin() + static_cast<std::ptrdiff_t>(cycleFrom),
                samples.begin() + static_cast<std::ptrdiff_t>(i), target,
                [](Date date, const UsageSample& sample) { return date < sample.date; });
            if (after == samples.begin() + static_cast<std::ptrdiff_t>(cycleFrom)) continue;
            const auto m = static_cast<std::size_t>(after - samples.begin()) - 1;
            const Date now = samples[m].date;
            if (now < start || target - now > kFreshness || previous == m) continue;
            previous = m;

            // The panel's analytics at that moment; the hour before it is all they read.
            std::size_t first = m;
            while (first > 0 && samples[first].date > now - 3600) --first;
            history::UsageAnalytics analytics{
                .samples =
                    std::vector<UsageSample>(samples.begin() + static_cast<std::ptrdiff_t>(first),
                                             samples.begin() + static_cast<std::ptrdiff_t>(m) + 1),
                .now = now,
                .resetsAt = reset,
                .remainingPercent = std::clamp(100 - samples[m].usedPercent, 0.0, 100.0),
                .isUnavailable = false,
            };
            // The same forecast the panel made then, from what was known then.
            const auto forecast =
                WindowOutlook::forecastFor(analytics, rhythmKnownAt(*rhythm, now), reset, calendar);
            if (!forecast) continue;
            counted = true;
            const auto [lo, hi] = ForecastInsight::rangeBounds(*forecast);
            // The remainder as the panel showed it, in whole percents.
            const double shown = std::round(actual);
            if (static_cast<double>(lo) <= shown && shown <= static_cast<double>(hi)) ++inRange;
            errors.push_back(std::fabs(forecast->medianRemaining - actual));
            const bool ranOut = actual <= 0;
            if (ForecastInsight::warnsOfShortage(*forecast) == ranOut) ++rightVerdicts;
        }
        if (counted) ++result.cycles;
    }
    if (result.cycles < minimumCycles || errors.empty()) return result;
    const double count = static_cast<double>(errors.size());
    result.record = TrackRecord{
        .samples = static_cast<int>(errors.size()),
        .rangeHitShare = inRange / count,
        .medianErrorPoints = median(std::move(errors)),
        .verdictHitShare = rightVerdicts / count,
    };
    return result;
}

std::string cyclesText(int count) {
    const int lastTwo = std::abs(count) % 100;
    const int last = lastTwo % 10;
    const char* word = "циклов";
    if (lastTwo < 11 || lastTwo > 14) {
        if (last == 1) {
            word = "цикл";
        } else if (last >= 2 && last <= 4) {
            word = "цикла";
        }
    }
    return std::to_string(count) + kNoBreak + word;
}

std::string describe(const BacktestResult& result) {
    if (!result.record && result.longerThanHistory) {
        return "Прогноз этого лимита не с чем сверить: в 7" + std::string(kNoBreak) +
               "днях истории не помещаются " + std::to_string(minimumCycles) + kNoBreak +
               "его цикла";
    }
    if (!result.record) {
        return "Для оценки прогноза пока мало истории: " + std::to_string(result.cycles) + " из " +
               std::to_string(minimumCycles) + kNoBreak + "нужных циклов";
    }
    const TrackRecord& record = *result.record;
    const long long error = std::llround(record.medianErrorPoints);
    const std::string errorText = error < 1
                                      ? std::string("ошибка меньше 1") + kNoBreak + "п.п."
                                      : "ошибка ±" + std::to_string(error) + kNoBreak + "п.п.";
    // The dots stay with the figure before them when the line wraps.
    return "Прогноз на ваших данных: попадание в диапазон " + percentOf(record.rangeHitShare) +
           kNoBreak + "· " + errorText + kNoBreak + "· " + cyclesText(result.cycles);
}

}  // namespace kestrane::forecast::ForecastBacktest
