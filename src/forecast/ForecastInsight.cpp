#include "forecast/ForecastInsight.h"

#include <cmath>
#include <string>

namespace kestrane::forecast {
namespace {

std::string whole(double value) { return std::to_string(static_cast<long long>(value)); }

std::string exhaustionText(platform::Date date, platform::Date now,
                           const platform::Calendar& calendar) {
    const char* pattern =
        calendar.isSameDay(date, now) ? "'сегодня в' HH:mm" : "EEE, d MMM 'в' HH:mm";
    return calendar.format(date, pattern, "ru_RU");
}

std::string shortageGuidance(double remaining, double medianDemand) {
    if (medianDemand > 0) {
        const double cut = (1 - remaining / medianDemand) * 100;
        if (cut >= 5) {
            const double percent = std::ceil(cut / 5) * 5;
            if (percent > 99) return "Почти весь привычный расход стоит перенести за сброс.";
            return "До сброса стоит сократить привычный расход примерно на " + whole(percent) +
                   "%.";
        }
    }
    return "Немного снизьте нагрузку или перенесите часть задач за сброс.";
}

}  // namespace

std::pair<long long, long long> ForecastInsight::rangeBounds(const QuotaForecast& forecast) {
    return {static_cast<long long>(std::floor(forecast.lowerRemaining)),
            static_cast<long long>(std::ceil(forecast.upperRemaining))};
}

ForecastInsight ForecastInsight::make(const QuotaForecast& forecast, double remaining,
                                      platform::Date now, const platform::Calendar& calendar) {
    const double lower = forecast.lowerRemaining;
    const double median = forecast.medianRemaining;
    const auto [lo, hi] = rangeBounds(forecast);
    const long long n = std::llround(median);  // halves away from zero
    const std::string expected =
        "К сбросу останется около " + std::to_string(n) + "% при привычной нагрузке.";

    ForecastInsight insight;
    if (lo < hi && hi >= 1) {
        insight.range = "Возможный остаток: " + std::to_string(lo) + "-" + std::to_string(hi) + "%";
    }
    if (warnsOfShortage(forecast)) {
        insight.tone = Tone::shortage;
        insight.title = "Лимит может закончиться раньше";
        insight.outcome = "При привычной нагрузке - примерно " +
                          exhaustionText(*forecast.medianExhaustionDate, now, calendar) + ".";
        insight.guidance = shortageGuidance(remaining, forecast.medianDemand);
    } else if (lower < 5 || forecast.exhaustionFraction >= 0.1) {
        insight.tone = Tone::caution;
        insight.title = "Запас небольшой";
        insight.outcome = n < 1 ? "При привычной нагрузке лимита хватит почти впритык." : expected;
        insight.guidance = "При более активной работе лимит может закончиться до сброса.";
    } else if (lower >= 10 && median >= 20 && forecast.medianDemand >= 1) {
        insight.tone = Tone::spare;
        insight.title = "Есть запас для экспериментов";
        insight.outcome = expected;
        insight.guidance = "Можно увеличить нагрузку, следя за остатком.";
    } else {
        insight.tone = Tone::steady;
        insight.title = "Лимита должно хватить";
        insight.outcome = expected;
        insight.guidance = "Можно продолжать в привычном ритме.";
    }
    return insight;
}

}  // namespace kestrane::forecast
