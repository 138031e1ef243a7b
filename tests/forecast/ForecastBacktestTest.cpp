#include "forecast/ForecastBacktest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "forecast/WindowPace.h"

namespace kestrane::forecast {
namespace {

using history::RhythmHistory;
using history::UsageSample;
using history::UsageSeries;
using history::UsageTransition;
using platform::Calendar;
using platform::Date;

// 2025-03-03 00:00 in Moscow (a Monday).
constexpr Date kStart{1'740'949'200};
constexpr double kCycle = 5 * 3600;

struct History {
    UsageSeries series;
    RhythmHistory rhythm;
};

struct Shape {
    int cycles = 0;
    // Percentage points per hour in cycle `c`.
    std::function<double(int)> rate;
    bool estimatedResets = false;
    // Nothing is observed in the last this many seconds of every cycle.
    double blindEnd = 0;
};

// A 5-hour window used at a steady rate inside each cycle, cycles back to back from kStart,
// observed every 5 minutes; the rhythm is learned from the same samples as the store does.
History make(const Calendar& calendar, const Shape& shape) {
    History made;
    made.series.windowID = "five-hour";
    made.series.durationMinutes = 300;
    made.rhythm = RhythmHistory{"digest", 300, calendar.timeZoneIdentifier(), {}};
    int previousCycle = -1;
    for (Date date = kStart + 60; date < kStart + shape.cycles * kCycle; date = date + 300) {
        const int cycle = static_cast<int>((date - kStart) / kCycle);
        const Date cycleStart = kStart + cycle * kCycle;
        if (cycleStart + kCycle - date < shape.blindEnd) continue;
        UsageSample sample{date, std::min(100.0, shape.rate(cycle) * (date - cycleStart) / 3600),
                           false, std::nullopt};
        if (previousCycle >= 0 && cycle != previousCycle) {
            sample.startsSegment = true;
            sample.transition =
                UsageTransition{shape.estimatedResets ? date : cycleStart,
                                UsageTransition::Kind::reset, shape.estimatedResets};
        }
        if (!made.series.samples.empty()) {
            made.rhythm.observe(made.series.samples.back(), sample, cycleStart + kCycle, calendar);
        }
        made.series.samples.push_back(sample);
        made.series.resetsAt = cycleStart + kCycle;
        previousCycle = cycle;
    }
    return made;
}

double flat(int) { return 2; }

TEST(ForecastBacktestTest, KnownHistories) {
    const Calendar moscow("Europe/Moscow");
    constexpr int kEightDays = 38;
    struct Case {
        const char* name;
        Shape shape;
        bool withRhythm;
        int minCycles;
        int maxCycles;
        bool hasRecord;
        // Bounds on the figures when there is a record.
        double minRangeHit;
        double maxRangeHit;
        double minError;
        double maxError;
        double minVerdict;
        double maxVerdict;
    };
    const Case cases[] = {
        // Every cycle the same: the forecast must call each one exactly (the error is the
        // 0.13 points used in the last 4 minutes before a reset, which go unobserved).
        {"flat", {kEightDays, flat}, true, 20, 25, true, 1, 1, 0, 0.2, 1, 1},
        // Four times the use from the middle on: the forecast lags behind the change, but no
        // cycle runs out, so the verdict stays right.
        {"quadrupled halfway",
         {kEightDays, [](int c) { return c < kEightDays / 2 ? 2.0 : 8.0; }},
         true,
         20,
         25,
         true,
         0,
         0.9,
         0.3,
         100,
         1,
         1},
        // From the middle on every cycle runs out: the forecast learnt on calm days first
        // says there is enough.
        {"runs out from halfway",
         {kEightDays, [](int c) { return c < kEightDays / 2 ? 2.0 : 30.0; }},
         true,
         15,
         25,
         true,
         0,
         0.9,
         1,
         100,
         0,
         0.9},
        // The forecast needs three past days: only two cycles after them.
        {"too little history", {17, flat}, true, 2, 2, false, 0, 0, 0, 0, 0, 0},
        {"resets not known in advance",
         {kEightDays, flat, true},
         true,
         0,
         0,
         false,
         0,
         0,
         0,
         0,
         0,
         0},
        {"end of each cycle unobserved",
         {kEightDays, flat, false, 5400},
         true,
         0,
         0,
         false,
         0,
         0,
         0,
         0,
         0,
         0},
        {"no rhythm", {kEightDays, flat}, false, 0, 0, false, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const History history = make(moscow, c.shape);
        const std::optional<RhythmHistory> rhythm =
            c.withRhythm ? std::optional(history.rhythm) : std::nullopt;
        const BacktestResult result = ForecastBacktest::run(history.series, rhythm, moscow);
        EXPECT_GE(result.cycles, c.minCycles);
        EXPECT_LE(result.cycles, c.maxCycles);
        ASSERT_EQ(result.record.has_value(), c.hasRecord);
        EXPECT_EQ(ForecastBacktest::run(history.series, rhythm, moscow), result);
        EXPECT_FALSE(result.longerThanHistory);
        if (!result.record) continue;
        const TrackRecord& record = *result.record;
        EXPECT_GE(record.samples, result.cycles);
        EXPECT_LE(record.samples, 3 * result.cycles);
        EXPECT_GE(record.rangeHitShare, c.minRangeHit);
        EXPECT_LE(record.rangeHitShare, c.maxRangeHit);
        EXPECT_GE(record.medianErrorPoints, c.minError);
        EXPECT_LE(record.medianErrorPoints, c.maxError);
        EXPECT_GE(record.verdictHitShare, c.minVerdict);
        EXPECT_LE(record.verdictHitShare, c.maxVerdict);
    }
}

TEST(ForecastBacktestTest, LearnsNothingFromTheFuture) {
    const Calendar moscow("Europe/Moscow");
    // The same past with a wildly different future after it: the early cycles' forecasts
    // must not change, so the figures over the shared cycles are the same.
    const History calm = make(moscow, {25, flat});
    History disturbed = make(moscow, {25, flat});
    const History future = make(moscow, {38, [](int c) { return c < 25 ? 2.0 : 15.0; }});
    disturbed.rhythm = future.rhythm;
    EXPECT_EQ(ForecastBacktest::run(disturbed.series, disturbed.rhythm, moscow),
              ForecastBacktest::run(calm.series, calm.rhythm, moscow));
}

TEST(ForecastBacktestTest, WindowsTooLongForTheKeptHistory) {
    const Calendar moscow("Europe/Moscow");
    History history = make(moscow, {10, flat});
    for (const auto& [minutes, tooLong] : std::initializer_list<std::pair<std::int64_t, bool>>{
             {300, false}, {1440, false}, {3360, false}, {3361, true}, {10080, true}}) {
        SCOPED_TRACE(minutes);
        history.series.durationMinutes = minutes;
        EXPECT_EQ(ForecastBacktest::run(history.series, history.rhythm, moscow).longerThanHistory,
                  tooLong);
    }
}

TEST(ForecastBacktestTest, Texts) {
    struct Case {
        BacktestResult result;
        std::string text;
    };
    const Case cases[] = {
        {{9, TrackRecord{27, 0.84, 6.4, 0.9}},
         "Прогноз на ваших данных: попадание в диапазон 84%\u00a0· ошибка ±6\u00a0п.п.\u00a0· "
         "9\u00a0циклов"},
        {{21, TrackRecord{60, 1, 0.2, 1}},
         "Прогноз на ваших данных: попадание в диапазон 100%\u00a0· ошибка меньше "
         "1\u00a0п.п.\u00a0· "
         "21\u00a0цикл"},
        {{3, TrackRecord{3, 0.335, 12.5, 0}},
         "Прогноз на ваших данных: попадание в диапазон 34%\u00a0· ошибка ±13\u00a0п.п.\u00a0· "
         "3\u00a0цикла"},
        {{2, std::nullopt}, "Для оценки прогноза пока мало истории: 2 из 3\u00a0нужных циклов"},
        {{0, std::nullopt}, "Для оценки прогноза пока мало истории: 0 из 3\u00a0нужных циклов"},
        {{0, std::nullopt, true},
         "Прогноз этого лимита не с чем сверить: в 7\u00a0днях истории не помещаются "
         "3\u00a0его цикла"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ForecastBacktest::describe(c.result), c.text);
    }
    for (const auto& [count, text] :
         std::initializer_list<std::pair<int, const char*>>{{1, "1\u00a0цикл"},
                                                            {4, "4\u00a0цикла"},
                                                            {5, "5\u00a0циклов"},
                                                            {11, "11\u00a0циклов"},
                                                            {14, "14\u00a0циклов"},
                                                            {22, "22\u00a0цикла"},
                                                            {111, "111\u00a0циклов"}}) {
        EXPECT_EQ(ForecastBacktest::cyclesText(count), text);
    }
}

TEST(WindowPaceTest, UsedAgainstElapsed) {
    const Date reset = kStart + kCycle;
    struct Case {
        const char* name;
        model::LimitWindow window;
        Date now;
        std::optional<std::string> text;
    };
    const auto window = [&](double used, std::optional<std::int64_t> minutes = 300,
                            std::optional<Date> resetsAt = kStart + kCycle) {
        return model::LimitWindow{"five-hour", "", used, minutes, resetsAt};
    };
    const Case cases[] = {
        {"faster", window(62), kStart + kCycle / 2, "Темп: быстрее равномерного на 12\u00a0п.п."},
        {"slower", window(10), kStart + kCycle / 4, "Темп: медленнее равномерного на 15\u00a0п.п."},
        {"inside the even band", window(52.4), kStart + kCycle / 2, "Темп: равномерный"},
        {"just outside it", window(47.4), kStart + kCycle / 2,
         "Темп: медленнее равномерного на 3\u00a0п.п."},
        {"at the start", window(0), kStart, "Темп: равномерный"},
        {"at the reset", window(90), reset, std::nullopt},
        {"before the start", window(0), kStart - 60, std::nullopt},
        {"length unknown", window(50, std::nullopt), kStart + kCycle / 2, std::nullopt},
        {"reset unknown", window(50, 300, std::nullopt), kStart + kCycle / 2, std::nullopt},
        {"zero length", window(50, 0), kStart + kCycle / 2, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pace = WindowPace::make(c.window, c.now);
        ASSERT_EQ(pace.has_value(), c.text.has_value());
        if (pace) {
            EXPECT_EQ(pace->text(), *c.text);
        }
    }
}

}  // namespace
}  // namespace kestrane::forecast
