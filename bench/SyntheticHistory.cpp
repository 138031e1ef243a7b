#include "SyntheticHistory.h"

#include <algorithm>
#include <map>

#include "history/UsageHistoryStore.h"

namespace kestrane::bench {

double steady(int hour, int, Random& random) {
    return hour >= 9 && hour < 19 ? 2.0 * (0.8 + 0.4 * random.uniform()) : 0;
}

double bursty(int hour, int, Random& random) {
    static bool heavyDay = false;
    if (hour == 9) heavyDay = random.uniform() < 0.25;
    if (hour < 9 || hour >= 19) return 0;
    if (heavyDay) {
        if (random.uniform() < 0.8) return 18 + 10 * random.uniform();
    } else if (random.uniform() < 0.2) {
        return 12 + 8 * random.uniform();
    }
    return 0.5 + random.uniform();
}

double weekdays(int hour, int weekday, Random& random) {
    if (weekday == 1 || weekday == 7 || hour < 9 || hour >= 18) return 0;
    return 3.0 * (0.7 + 0.6 * random.uniform());
}

SyntheticHistory simulate(const Profile& profile, std::uint64_t seed,
                          const platform::Calendar& calendar, platform::Date end, double days,
                          model::ProviderUsage usage, const std::string& windowId,
                          const std::optional<std::filesystem::path>& file) {
    constexpr double kCycle = 5 * 3600;
    const platform::Date begin = end - days * 86400;
    std::optional<history::UsageHistoryStore::BackgroundSaving> saving;
    if (file) saving.emplace();
    history::UsageHistoryStore store(file, begin, calendar, saving);
    Random random(seed);
    std::map<double, double> hourRates;
    const auto rateAt = [&](platform::Date date) {
        const auto hour = *calendar.hourInterval(date);
        const auto found = hourRates.find(hour.start.secondsSince1970);
        if (found != hourRates.end()) return found->second;
        const double rate = profile(calendar.hour(date), calendar.weekday(date), random);
        hourRates.emplace(hour.start.secondsSince1970, rate);
        return rate;
    };
    const auto simulated =
        std::find_if(usage.windows.begin(), usage.windows.end(),
                     [&](const model::LimitWindow& w) { return w.id == windowId; });
    if (simulated == usage.windows.end()) return {};
    simulated->durationMinutes = 300;
    double used = 0;
    // The start of the running window, when one runs (a plain flag: GCC misreads an optional
    // here as maybe uninitialised).
    bool running = false;
    platform::Date windowStart;
    platform::Date t = begin;
    platform::Date lastPrune = t;
    while (t < end) {
        const double step = end - t > 7 * 86400 ? 300 : 61;
        const platform::Date next = t + step;
        const double rate = rateAt(t);
        if (rate > 0 && !running) {
            running = true;
            windowStart = t;
        }
        if (running) used = std::min(100.0, used + rate * step / 3600);
        if (running && next >= windowStart + kCycle) {
            used = 0;
            running = false;
        }
        simulated->usedPercent = used;
        simulated->resetsAt = running ? std::optional(windowStart + kCycle) : std::nullopt;
        usage.updatedAt = next;
        store.record(usage, next);
        if (next - lastPrune > 86400) {
            store.pruneExpired(next);
            lastPrune = next;
        }
        t = next;
    }
    if (file) store.finishWriting();
    return {*store.series(usage.provider, *simulated, end),
            store.rhythm(usage.provider, *simulated), *simulated};
}

}  // namespace kestrane::bench
