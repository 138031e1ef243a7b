#include "app/board/TrackRecordCache.h"

#include <utility>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kestrane::app {
namespace {

// On Linux a nice value set for a thread id applies to that thread alone.
void lowerThisThreadsPriority() {
#ifdef __linux__
    const auto id = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, id, 19);
#endif
}

}  // namespace

TrackRecordCache::TrackRecordCache(bool inBackground, std::function<void()> finished)
    : finished_(std::move(finished)) {
    if (inBackground) thread_ = std::thread([this] { run(); });
}

TrackRecordCache::~TrackRecordCache() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

std::string TrackRecordCache::fingerprint(const history::UsageSeries& series,
                                          const std::optional<history::RhythmHistory>& rhythm) {
    std::size_t transitions = 0;
    std::optional<double> first;
    double last = 0;
    for (const history::UsageSample& sample : series.samples) {
        if (!sample.transition) continue;
        ++transitions;
        if (!first) first = sample.date.secondsSince1970;
        last = sample.date.secondsSince1970;
    }
    return std::to_string(series.durationMinutes.value_or(-1)) + "|" + series.accountDigest + "|" +
           (rhythm ? rhythm->timeZoneIdentifier : "-") + "|" + std::to_string(transitions) + "|" +
           std::to_string(first.value_or(0)) + "|" + std::to_string(last);
}

std::optional<forecast::BacktestResult> TrackRecordCache::read(
    const std::string& key, const history::UsageSeries& series,
    const std::optional<history::RhythmHistory>& rhythm, const platform::Calendar& calendar) {
    std::string made = fingerprint(series, rhythm);
    std::unique_lock lock(mutex_);
    Entry& entry = entries_[key];
    if (entry.requested != made) {
        entry.requested = made;
        if (!thread_.joinable()) {
            entry.result = forecast::ForecastBacktest::run(series, rhythm, calendar);
            ++runs_;
        } else {
            queue_.insert_or_assign(key, Job{std::move(made), series, rhythm, calendar});
            // Under the lock: what this read returns cannot be the record just asked for.
            wake_.notify_one();
        }
    }
    return entry.result;
}

void TrackRecordCache::wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return stopping_ || (queue_.empty() && !working_); });
}

std::size_t TrackRecordCache::runs() const {
    const std::lock_guard lock(mutex_);
    return runs_;
}

void TrackRecordCache::run() {
    lowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) break;
        auto node = queue_.extract(queue_.begin());
        working_ = true;
        lock.unlock();
        Job& job = node.mapped();
        forecast::BacktestResult result =
            forecast::ForecastBacktest::run(job.series, job.rhythm, job.calendar);
        lock.lock();
        ++runs_;
        // The newest finished record replaces the one before.
        entries_[node.key()].result = std::move(result);
        if (queue_.empty() && !stopping_ && finished_) {
            lock.unlock();
            finished_();
            lock.lock();
        }
        working_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
    idle_.notify_all();
}

}  // namespace kestrane::app
