#include "history/RhythmHistory.h"

#include <algorithm>

namespace kestrane::history {
namespace {

// A gap between consecutive samples can never be longer than the visible history: a series
// whose last sample is older than that is dropped before the next observation is added. A
// longer gap can only come from a damaged or hand-edited file, and walking it hour by hour
// would take unbounded time and memory.
constexpr double kLongestPossibleGap = 604'800;

}  // namespace

void RhythmHistory::observe(const UsageSample& from, const UsageSample& to,
                            std::optional<platform::Date> knownReset,
                            const platform::Calendar& calendar, std::vector<std::size_t>* changed) {
    if (to.transition) return;
    const double span = to.date - from.date;
    const double delta = to.usedPercent - from.usedPercent;
    // Observations that reach 100 % say nothing about demand: the user was stopped.
    if (!(span > 0) || !(to.usedPercent < 100) || !(delta >= 0)) return;
    if (span > 900) {
        // A long gap with growth cannot be placed in time; a long idle stretch before a known
        // reset can.
        if (!(delta == 0 && knownReset && to.date < *knownReset)) return;
        if (span > kLongestPossibleGap) return;
    }
    platform::Date cursor = from.date;
    while (cursor < to.date) {
        const auto hour = calendar.hourInterval(cursor);
        if (!hour) return;
        const platform::Date pieceEnd = std::min(to.date, hour->end);
        const double seconds = pieceEnd - cursor;
        const double used = delta * seconds / span;
        const auto existing = std::find_if(hours.rbegin(), hours.rend(), [&](const RhythmHour& h) {
            return h.start == hour->start;
        });
        if (existing != hours.rend()) {
            existing->usedPercent += used;
            existing->observedSeconds += seconds;
            if (changed) changed->push_back(static_cast<std::size_t>(hours.rend() - existing) - 1);
        } else {
            if (changed) changed->push_back(hours.size());
            hours.push_back(RhythmHour{hour->start, used, seconds});
        }
        if (!(pieceEnd > cursor)) return;  // never loop in place on a malformed interval
        cursor = pieceEnd;
    }
}

}  // namespace kestrane::history
