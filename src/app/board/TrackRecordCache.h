#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "forecast/ForecastBacktest.h"
#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "platform/Calendar.h"

namespace kestrane::app {

// The track record of each window's forecast (ForecastBacktest), kept until the window's
// finished cycles change. Replaying a full archive takes seconds, so in the application it
// runs on a thread of its own at the lowest priority: a refresh reads the last finished
// result and never waits for one. The thread gets copies of the series and rhythm.
class TrackRecordCache {
  public:
    // `inBackground` false works each record out at once inside `read` (tests). `finished`,
    // when given, runs on the cache's thread each time the records asked for are all worked
    // out, so the owner can show them without waiting for its next refresh.
    explicit TrackRecordCache(bool inBackground, std::function<void()> finished = {});
    // Drops what is queued and waits for the record being worked out.
    ~TrackRecordCache();
    TrackRecordCache(const TrackRecordCache&) = delete;
    TrackRecordCache& operator=(const TrackRecordCache&) = delete;

    // The last finished record of the window `key` (nothing before the first). Asks for a new
    // one when the series' finished cycles, the rhythm's zone or the account changed since the
    // last one was asked for.
    std::optional<forecast::BacktestResult> read(
        const std::string& key, const history::UsageSeries& series,
        const std::optional<history::RhythmHistory>& rhythm, const platform::Calendar& calendar);
    // Blocks until every record asked for is finished.
    void wait();
    // Records worked out so far.
    std::size_t runs() const;

    // What a record depends on: the series' past cycles (its first and last transition and
    // their number), the window's length, the account and the rhythm's zone. New samples inside the
    // running cycle leave it unchanged.
    static std::string fingerprint(const history::UsageSeries& series,
                                   const std::optional<history::RhythmHistory>& rhythm);

  private:
    struct Job {
        std::string fingerprint;
        history::UsageSeries series;
        std::optional<history::RhythmHistory> rhythm;
        platform::Calendar calendar;
    };
    struct Entry {
        std::string requested;
        std::optional<forecast::BacktestResult> result;
    };

    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::map<std::string, Entry> entries_;
    // At most one waiting job per window: a newer request replaces it.
    std::map<std::string, Job> queue_;
    bool working_ = false;
    bool stopping_ = false;
    std::size_t runs_ = 0;
    std::function<void()> finished_;
    std::thread thread_;
};

}  // namespace kestrane::app
