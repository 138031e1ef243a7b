#pragma once

// Synthetic users of a five-hour window, recorded through the real history store so that
// series, transitions and rhythm are exactly what the application keeps. Shared by the
// forecast's track-record benchmark and by DemoArchive, which writes one to a history file.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderUsage.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::bench {

// A fixed generator (splitmix64), so the histories are the same on every library.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    double uniform() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
    }

  private:
    std::uint64_t state_;
};

// Percentage points per hour in one clock hour: local hour 0...23, weekday 1 = Sunday ... 7.
// Called once per hour in order, with a generator of its own.
using Profile = std::function<double(int hour, int weekday, Random& random)>;

// Works every day from 9 to 19 at about 2 points an hour (±20 %).
double steady(int hour, int weekday, Random& random);
// Works every day from 9 to 19, mostly lightly (0.5-1.5 points an hour) with bursts of 12-20
// points an hour in one hour of five; on one day in four the bursts (18-28 points an hour) come
// in four hours of five and a session can run out.
double bursty(int hour, int weekday, Random& random);
// Monday to Friday from 9 to 18 at about 3 points an hour (±30 %), nothing at weekends.
double weekdays(int hour, int weekday, Random& random);

struct SyntheticHistory {
    history::UsageSeries series;
    std::optional<history::RhythmHistory> rhythm;
    // The simulated window as last recorded.
    model::LimitWindow last;
};

// `days` of fetches ending at `end` (one every 5 minutes, every 61 s in the last 7 days: the
// store merges fetches less than a minute apart) of `usage`, whose window `windowId` is a
// five-hour window that starts with the first use after its last reset, as the services'
// session windows do; usage stops at 100 %. The other windows keep their figures. With a
// `file` the history is also written there, as the application would.
SyntheticHistory simulate(const Profile& profile, std::uint64_t seed,
                          const platform::Calendar& calendar, platform::Date end, double days,
                          model::ProviderUsage usage, const std::string& windowId,
                          const std::optional<std::filesystem::path>& file = std::nullopt);

}  // namespace kestrane::bench
