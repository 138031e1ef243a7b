#include "forecast/ForecastSimulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <unordered_map>

#include "forecast/ForecastRandom.h"

namespace kestrane::forecast::ForecastSimulator {
namespace {

using platform::Date;

constexpr double kMaximumHorizon = 2'764'800;  // 32 days
constexpr double kRecentTimeConstant = 1800;
constexpr double kRecencyTimeConstant = 2'419'200;  // 28 days
constexpr std::uint64_t kDaySalt = 0x517CC1B727220A95ULL;

// Local day and hour fields of many instants. Building calendar objects is costly, so the
// fields come from the zone's offset: local midnight is found from the offset and checked, and
// only a day whose midnight does not exist (a zone that changes its clocks at midnight) asks
// the calendar.
class LocalTime {
  public:
    struct Day {
        Date start;
        int weekday = 0;
    };

    explicit LocalTime(const platform::Calendar& calendar) : calendar_(calendar) {}

    // The calendar day and hour of day of `date`; nullopt when the calendar cannot tell.
    std::optional<std::pair<Day, int>> dayAndHour(Date date) {
        const auto fields = localFields(date);
        if (!fields) return std::nullopt;
        const auto [dayNumber, secondOfDay] = *fields;
        const int hour = std::clamp(static_cast<int>(secondOfDay / 3600), 0, 23);
        const auto cached = days_.find(dayNumber);
        if (cached != days_.end()) return std::pair{cached->second, hour};
        const auto start = startOfDay(date, dayNumber);
        if (!start) return std::nullopt;
        // Day 0 (1970-01-01) was a Thursday; 1 = Sunday ... 7 = Saturday.
        const Day day{*start, static_cast<int>(((dayNumber + 4) % 7 + 7) % 7) + 1};
        days_.emplace(dayNumber, day);
        return std::pair{day, hour};
    }

  private:
    // Local day number since 1970-01-01 and seconds into that local day.
    std::optional<std::pair<std::int64_t, double>> localFields(Date date) const {
        const auto offset = calendar_.secondsFromGMT(date);
        if (!offset) return std::nullopt;
        const double local = date.secondsSince1970 + *offset;
        const double dayNumber = std::floor(local / 86400);
        return std::pair{static_cast<std::int64_t>(dayNumber), local - dayNumber * 86400};
    }

    std::optional<Date> startOfDay(Date date, std::int64_t dayNumber) const {
        const double localMidnight = static_cast<double>(dayNumber) * 86400;
        for (const Date probe : {date, Date{localMidnight}}) {
            const auto offset = calendar_.secondsFromGMT(probe);
            if (!offset) break;
            const Date candidate{localMidnight - *offset};
            const auto fields = localFields(candidate);
            if (fields && fields->first == dayNumber && fields->second == 0) return candidate;
        }
        return calendar_.startOfDay(date);
    }

    const platform::Calendar& calendar_;
    std::unordered_map<std::int64_t, Day> days_;
};

struct Day {
    Date date;
    int weekday = 0;
    std::array<double, 24> rates{};
    std::array<bool, 24> hasRate{};
};

struct Step {
    Date date;
    Date day;
    int hour = 0;
    double duration = 0;
    double recentWeight = 0;
};

bool usableHour(const history::RhythmHour& hour) {
    return std::isfinite(hour.usedPercent) && hour.usedPercent >= 0 &&
           hour.observedSeconds >= 2880 && hour.observedSeconds <= 3601;
}

std::vector<Day> trainingDays(const history::RhythmHistory& history, Date todayStart,
                              const platform::Calendar& calendar, LocalTime& local) {
    const Date earliest = calendar.addingDays(todayStart, -89).value_or(todayStart - 7'689'600);
    struct Sum {
        int weekday = 0;
        std::array<double, 24> used{};
        std::array<double, 24> seconds{};
        std::array<bool, 24> present{};
    };
    std::map<double, Sum> byDay;
    for (const auto& hour : history.hours) {
        if (!(hour.start >= earliest && hour.start < todayStart) || !usableHour(hour)) continue;
        const auto fields = local.dayAndHour(hour.start);
        if (!fields) continue;
        Sum& sum = byDay[fields->first.start.secondsSince1970];
        sum.weekday = fields->first.weekday;
        const auto h = static_cast<std::size_t>(fields->second);
        sum.used[h] += hour.usedPercent;
        sum.seconds[h] += hour.observedSeconds;
        sum.present[h] = true;
    }
    std::vector<Day> days;
    days.reserve(byDay.size());
    for (const auto& [start, sum] : byDay) {
        Day day{Date{start}, sum.weekday, {}, {}};
        for (std::size_t h = 0; h < 24; ++h) {
            if (!sum.present[h]) continue;
            day.rates[h] = sum.used[h] / sum.seconds[h] * 3600;
            day.hasRate[h] = true;
        }
        days.push_back(day);
    }
    return days;
}

// `total` is the sum of `weights` in order, passed in when the caller already has it.
std::size_t draw(std::span<const double> weights, double total, ForecastRandom random) {
    double target = random.next() * total;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        target -= weights[i];
        if (target <= 0) return i;
    }
    return weights.empty() ? 0 : weights.size() - 1;
}

std::size_t draw(std::span<const double> weights, ForecastRandom random) {
    double total = 0;
    for (const double w : weights) total += w;
    return draw(weights, total, random);
}

std::uint64_t wholeSeconds(Date date) {
    const double seconds = date.secondsSince1970;
    if (!(seconds > 0)) return 0;
    return static_cast<std::uint64_t>(seconds);
}

std::uint64_t stableSeed(const history::RhythmHistory& history, Date todayStart) {
    const std::string text = history.accountDigest + ":" +
                             std::to_string(history.durationMinutes.value_or(0)) + ":" +
                             history.timeZoneIdentifier;
    return fnv1a64(text) ^ wholeSeconds(todayStart);
}

// The analogue day has no rate for this hour: borrow it from the days that have one, drawn with
// the same weights.
double borrowedRate(const std::vector<Day>& days, std::span<const double> weights, std::size_t hour,
                    ForecastRandom random) {
    std::vector<double> candidates;
    std::vector<std::size_t> indexes;
    for (std::size_t j = 0; j < days.size(); ++j) {
        if (!days[j].hasRate[hour]) continue;
        candidates.push_back(weights[j]);
        indexes.push_back(j);
    }
    if (indexes.empty()) return 0;
    return days[indexes[draw(candidates, random)]].rates[hour];
}

// Seconds into `step` at which the remaining `target` points are used up.
double exhaustionOffset(const Step& step, Date now, double rate, bool hasRecentRate, double recent,
                        double target) {
    if (!hasRecentRate) return target / rate * 3600;
    // Consumption inside the step is the integral of the fading blend of the two rates.
    const double fade = std::exp(-(step.date - now) / kRecentTimeConstant);
    const auto consumed = [&](double offset) {
        return (rate * offset - (recent - rate) * 0.5 * kRecentTimeConstant * fade *
                                    (std::exp(-offset / kRecentTimeConstant) - 1)) /
               3600;
    };
    double low = 0;
    double high = step.duration;
    for (int iteration = 0; iteration < 30; ++iteration) {
        const double mid = (low + high) / 2;
        if (consumed(mid) < target) {
            low = mid;
        } else {
            high = mid;
        }
    }
    return high;
}

// What the steps of a scenario share: the start, the reset and what is left at the start, and
// the recent rate when there is one.
struct Blend {
    Date now;
    Date reset;
    double remaining = 0;
    bool hasRecentRate = false;
    double recentRate = 0;
};

// Adds the demand of one future day's steps, rates taken from `analogue`, to `cumulative` and
// notes the moment the quota runs out. Kept out of line: inlined into the large forecast
// function its loop variables end up on the stack instead of in registers.
[[gnu::noinline]] void simulateDay(std::span<const Step> steps, const Day& analogue,
                                   const std::vector<Day>& days, std::span<const double> weights,
                                   std::uint64_t borrowState, const Blend& blend,
                                   double& cumulative, std::optional<Date>& exhaustion) {
    double total = cumulative;
    bool exhausted = exhaustion.has_value();
    for (const Step& step : steps) {
        const auto h = static_cast<std::size_t>(step.hour);
        const double rate =
            analogue.hasRate[h]
                ? analogue.rates[h]
                : borrowedRate(days, weights, h,
                               ForecastRandom{borrowState ^ static_cast<std::uint64_t>(step.hour)});
        const double effective = blend.hasRecentRate ? step.recentWeight * blend.recentRate +
                                                           rate * (1 - step.recentWeight)
                                                     : rate;
        const double demand = effective * step.duration / 3600;
        if (!exhausted && demand > 0 && total + demand >= blend.remaining) {
            const double x = exhaustionOffset(step, blend.now, rate, blend.hasRecentRate,
                                              blend.recentRate, blend.remaining - total);
            if (step.date + x < blend.reset) {
                exhaustion = step.date + x;
                exhausted = true;
            }
        }
        total += demand;
    }
    cumulative = total;
}

}  // namespace

QuotaForecast summarizeScenarios(std::vector<double> demands, std::vector<Date> exhaustionDates,
                                 double remaining) {
    QuotaForecast result;
    const std::size_t count = demands.size();
    if (count == 0) return result;
    std::sort(demands.begin(), demands.end());
    const auto quantile = [&](double q) {
        return demands[static_cast<std::size_t>(static_cast<double>(count - 1) * q)];
    };
    result.medianDemand = quantile(0.5);
    result.lowerDemand = quantile(0.1);
    result.upperDemand = quantile(0.9);
    result.medianRemaining = std::max(0.0, remaining - result.medianDemand);
    result.lowerRemaining = std::max(0.0, remaining - result.upperDemand);
    result.upperRemaining = std::max(0.0, remaining - result.lowerDemand);
    result.exhaustionFraction =
        static_cast<double>(exhaustionDates.size()) / static_cast<double>(count);
    std::sort(exhaustionDates.begin(), exhaustionDates.end());
    if (exhaustionDates.size() > count / 2)
        result.medianExhaustionDate = exhaustionDates[count / 2];
    return result;
}

std::optional<QuotaForecast> forecast(const std::optional<history::RhythmHistory>& history,
                                      Date now, std::optional<Date> reset, double remaining,
                                      std::optional<double> recentRate,
                                      const platform::Calendar& calendar, int scenarioCount) {
    if (!history || history->timeZoneIdentifier != calendar.timeZoneIdentifier()) return {};
    if (!std::isfinite(now.secondsSince1970)) return {};
    if (!reset || !(*reset > now) || !(*reset - now <= kMaximumHorizon)) return {};
    if (!std::isfinite(remaining) || remaining < 0 || remaining > 100) return {};
    if (scenarioCount < 32) return {};
    // A recent rate that is not a usable number counts as none.
    const bool hasRecentRate = recentRate && std::isfinite(*recentRate) && *recentRate >= 0;
    const double recent = hasRecentRate ? *recentRate : 0;

    const double horizon = *reset - now;
    const int minObs = horizon <= 21'600 ? 3 : horizon <= 86'400 ? 5 : 7;

    LocalTime local(calendar);
    std::vector<Step> steps;
    steps.reserve(static_cast<std::size_t>(horizon / 3600) + 2);
    for (Date cursor = now; cursor < *reset;) {
        const auto hour = calendar.hourInterval(cursor);
        if (!hour) return {};
        const auto fields = local.dayAndHour(cursor);
        if (!fields) return {};
        const Date stepEnd = std::min(*reset, hour->end);
        const double duration = stepEnd - cursor;
        if (!(duration > 0)) return {};
        const double a = cursor - now;
        // Half the mean of e^(-t/1800) over the step: the recent rate fades with a 30-minute
        // time constant and never counts more than half.
        const double recentWeight =
            900 / duration *
            (std::exp(-a / kRecentTimeConstant) - std::exp(-(a + duration) / kRecentTimeConstant));
        steps.push_back(Step{cursor, fields->first.start, fields->second, duration, recentWeight});
        cursor = stepEnd;
    }

    std::array<bool, 24> needed{};
    for (const Step& step : steps) needed[static_cast<std::size_t>(step.hour)] = true;
    const int neededCount = static_cast<int>(std::count(needed.begin(), needed.end(), true));

    const auto todayFields = local.dayAndHour(now);
    if (!todayFields) return {};
    const Date todayStart = todayFields->first.start;

    std::vector<Day> eligible;
    for (const Day& day : trainingDays(*history, todayStart, calendar, local)) {
        int rated = 0;
        for (std::size_t h = 0; h < 24; ++h) {
            if (day.hasRate[h] && (horizon <= 21'600 ? needed[h] : true)) ++rated;
        }
        const bool isEligible = horizon <= 21'600 ? rated >= 0.75 * neededCount : rated >= 18;
        if (isEligible) eligible.push_back(day);
    }
    const auto dayCount = eligible.size();
    if (static_cast<int>(dayCount) < minObs) return {};
    const auto activeDays = std::count_if(eligible.begin(), eligible.end(), [](const Day& day) {
        for (std::size_t h = 0; h < 24; ++h) {
            if (day.hasRate[h] && day.rates[h] > 0) return true;
        }
        return false;
    });
    if (activeDays < 2) return {};

    int coverage = static_cast<int>(dayCount);
    for (std::size_t h = 0; h < 24; ++h) {
        if (!needed[h]) continue;
        const auto observed = std::count_if(eligible.begin(), eligible.end(),
                                            [&](const Day& day) { return day.hasRate[h]; });
        coverage = std::min(coverage, static_cast<int>(observed));
    }
    if (coverage < minObs) return {};

    // One entry per future day: its start, weekday and the weight of same-weekday days.
    struct FutureDay {
        Date start;
        int weekday = 0;
        double alpha = 0;
        bool isToday = false;
        // Future days alike in weekday, share and being today weigh past days alike.
        std::size_t weightSet = 0;
        // Its steps.
        std::size_t firstStep = 0;
        std::size_t endStep = 0;
    };
    std::vector<FutureDay> futureDays;
    std::vector<std::size_t> stepFutureDay(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (futureDays.empty() || futureDays.back().start != steps[i].day) {
            const auto fields = local.dayAndHour(steps[i].day);
            futureDays.push_back(FutureDay{steps[i].day, fields ? fields->first.weekday : 0, 0,
                                           steps[i].day == todayStart, 0, i, i});
        }
        futureDays.back().endStep = i + 1;
        stepFutureDay[i] = futureDays.size() - 1;
    }
    bool usesWeekdayPattern = false;
    if (dayCount >= 14) {
        for (std::size_t d = 0; d < futureDays.size(); ++d) {
            FutureDay& future = futureDays[d];
            std::optional<int> k;
            for (std::size_t i = 0; i < steps.size(); ++i) {
                if (stepFutureDay[i] != d) continue;
                const auto h = static_cast<std::size_t>(steps[i].hour);
                const auto count =
                    std::count_if(eligible.begin(), eligible.end(), [&](const Day& day) {
                        return day.weekday == future.weekday && day.hasRate[h];
                    });
                k = std::min(k.value_or(static_cast<int>(count)), static_cast<int>(count));
            }
            if (k && *k >= 3) future.alpha = std::min(*k / (*k + 1.0), 0.95);
            usesWeekdayPattern = usesWeekdayPattern || future.alpha > 0;
        }
    }

    std::vector<const FutureDay*> weightSetOwners;
    for (FutureDay& future : futureDays) {
        const auto same = std::find_if(
            weightSetOwners.begin(), weightSetOwners.end(), [&](const FutureDay* other) {
                return other->weekday == future.weekday && other->alpha == future.alpha &&
                       other->isToday == future.isToday;
            });
        future.weightSet = static_cast<std::size_t>(same - weightSetOwners.begin());
        if (same == weightSetOwners.end()) weightSetOwners.push_back(&future);
    }

    // How much each past day resembles what has been observed so far today.
    struct TodayHour {
        int hour;
        double rate;
    };
    std::vector<TodayHour> todayHours;
    for (const auto& hour : history->hours) {
        if (!(hour.start >= todayStart && hour.start + 3600 <= now) || !usableHour(hour)) continue;
        const auto fields = local.dayAndHour(hour.start);
        if (!fields) continue;
        todayHours.push_back(
            TodayHour{fields->second, hour.usedPercent / hour.observedSeconds * 3600});
    }
    std::vector<double> similarity(dayCount, 1.0);
    std::vector<double> recency(dayCount);
    for (std::size_t j = 0; j < dayCount; ++j) {
        recency[j] = std::exp(-(todayStart - eligible[j].date) / kRecencyTimeConstant);
        int pairs = 0;
        double positiveSum = 0;
        int positiveCount = 0;
        for (const TodayHour& today : todayHours) {
            const auto h = static_cast<std::size_t>(today.hour);
            if (!eligible[j].hasRate[h]) continue;
            ++pairs;
            for (const double value : {eligible[j].rates[h], today.rate}) {
                if (value > 0) {
                    positiveSum += value;
                    ++positiveCount;
                }
            }
        }
        if (pairs < 2) continue;
        double scale = positiveCount > 0 ? positiveSum / positiveCount : 0;
        if (scale <= 0.1) scale = 0.1;
        double distance = 0;
        for (const TodayHour& today : todayHours) {
            const auto h = static_cast<std::size_t>(today.hour);
            if (eligible[j].hasRate[h]) distance += std::fabs(eligible[j].rates[h] - today.rate);
        }
        distance /= scale;
        similarity[j] = distance >= 8 ? std::exp(-8.0) : std::exp(-distance);
    }

    const std::uint64_t base = stableSeed(*history, todayStart);
    // Scenario s weighs day j with the generator state of index s + 1 + j, so consecutive
    // scenarios share all but one of their draws: compute each -ln(u) once.
    std::vector<double> exponential(static_cast<std::size_t>(scenarioCount) + dayCount + 1);
    for (std::size_t m = 1; m < exponential.size(); ++m) {
        const std::uint64_t state = base + ForecastRandom::increment * m;
        exponential[m] =
            -std::log(std::max(ForecastRandom::uniform(ForecastRandom::mix(state)), 0.000001));
    }
    // Flat copies of what the scenario loop reads per day, so its inner loops stay in cache.
    std::vector<int> weekdays(dayCount);
    for (std::size_t j = 0; j < dayCount; ++j) weekdays[j] = eligible[j].weekday;
    std::vector<double> bootstrap(dayCount);
    std::vector<double> weightSets(weightSetOwners.size() * dayCount);
    std::vector<double> weightTotals(weightSetOwners.size());
    // The scenario (plus one) each weight set was last computed for.
    std::vector<std::uint64_t> weightSetScenario(weightSetOwners.size(), 0);
    std::vector<double> demands;
    demands.reserve(static_cast<std::size_t>(scenarioCount));
    std::vector<Date> exhaustionDates;
    const Blend blend{now, *reset, remaining, hasRecentRate, recent};
    for (int s = 0; s < scenarioCount; ++s) {
        const auto scenario = static_cast<std::uint64_t>(s);
        double bootstrapTotal = 0;
        // Per weekday, summed in day order exactly as a sum over that weekday's days would be.
        std::array<double, 8> weekdayTotals{};
        for (std::size_t j = 0; j < dayCount; ++j) {
            bootstrap[j] = exponential[scenario + 1 + j] * recency[j];
            bootstrapTotal += bootstrap[j];
            weekdayTotals[static_cast<std::size_t>(weekdays[j]) & 7] += bootstrap[j];
        }
        double cumulative = 0;
        std::optional<Date> exhaustion;
        if (remaining == 0) exhaustion = now;
        const std::uint64_t scenarioState = base + ForecastRandom::increment * scenario;
        for (const FutureDay& future : futureDays) {
            const std::uint64_t daySeconds = wholeSeconds(future.start);
            // One analogue past day for the whole future day: any day, weighted by its bootstrap
            // weight, with a share reserved for days of the same weekday and, for today, scaled
            // by how much the day resembles today so far.
            double* setWeights = &weightSets[future.weightSet * dayCount];
            if (weightSetScenario[future.weightSet] != scenario + 1) {
                weightSetScenario[future.weightSet] = scenario + 1;
                const double sameWeekday =
                    weekdayTotals[static_cast<std::size_t>(future.weekday) & 7];
                const double anyDay = (1 - future.alpha) / bootstrapTotal;
                const double weekdayDay =
                    sameWeekday > 0 ? anyDay + future.alpha / sameWeekday : anyDay;
                double total = 0;
                for (std::size_t j = 0; j < dayCount; ++j) {
                    double weight =
                        bootstrap[j] * (weekdays[j] == future.weekday ? weekdayDay : anyDay);
                    if (future.isToday) weight *= similarity[j];
                    setWeights[j] = weight;
                    total += weight;
                }
                weightTotals[future.weightSet] = total;
            }
            const std::span<const double> weights(setWeights, dayCount);
            const Day& analogue =
                eligible[draw(weights, weightTotals[future.weightSet],
                              ForecastRandom{daySeconds ^ scenarioState ^ kDaySalt})];

            simulateDay(std::span<const Step>(steps).subspan(future.firstStep,
                                                             future.endStep - future.firstStep),
                        analogue, eligible, weights, scenarioState ^ daySeconds, blend, cumulative,
                        exhaustion);
        }
        demands.push_back(cumulative);
        if (exhaustion) exhaustionDates.push_back(*exhaustion);
    }
    QuotaForecast result =
        summarizeScenarios(std::move(demands), std::move(exhaustionDates), remaining);
    result.historyDays = static_cast<int>(dayCount);
    result.usesWeekdayPattern = usesWeekdayPattern;
    result.historyUpdatedAt = todayStart;
    result.minimumHourObservations = coverage;
    return result;
}

}  // namespace kestrane::forecast::ForecastSimulator
