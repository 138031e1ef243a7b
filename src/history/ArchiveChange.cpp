#include "history/ArchiveChange.h"

#include <algorithm>

#include "history/UsageHistoryStore.h"

namespace kestrane::history {
namespace {

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

template <typename Map>
auto* find(Map& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

}  // namespace

bool applyChange(UsageArchive& archive, const ArchiveChange& change) {
    using namespace change;
    return std::visit(
        Overloaded{
            [&](const NewSeries& c) {
                UsageSeries series = c.header;
                series.samples.clear();
                archive.series.insert_or_assign(c.key, std::move(series));
                return true;
            },
            [&](const RemoveSeries& c) { return archive.series.erase(c.key) == 1; },
            [&](const SeriesAccount& c) {
                auto* series = find(archive.series, c.key);
                if (!series) return false;
                series->accountDigest = c.digest;
                return true;
            },
            [&](const SeriesReset& c) {
                auto* series = find(archive.series, c.key);
                if (!series) return false;
                series->resetsAt = c.resetsAt;
                return true;
            },
            [&](const DropFirstSamples& c) {
                auto* series = find(archive.series, c.key);
                if (!series || c.count > series->samples.size()) return false;
                series->samples.erase(
                    series->samples.begin(),
                    series->samples.begin() + static_cast<std::ptrdiff_t>(c.count));
                return true;
            },
            [&](const DropLastSample& c) {
                auto* series = find(archive.series, c.key);
                if (!series || series->samples.empty()) return false;
                series->samples.pop_back();
                return true;
            },
            [&](const AppendSample& c) {
                auto* series = find(archive.series, c.key);
                if (!series) return false;
                series->samples.push_back(c.sample);
                return true;
            },
            [&](const ThinSamples& c) {
                auto* series = find(archive.series, c.key);
                if (!series) return false;
                series->samples = UsageHistoryStore::thinned(series->samples);
                return true;
            },
            [&](const DropSamplesAfter& c) {
                auto* series = find(archive.series, c.key);
                if (!series) return false;
                std::erase_if(series->samples,
                              [&](const UsageSample& sample) { return sample.date > c.limit; });
                return true;
            },
            [&](const NewRhythm& c) {
                RhythmHistory rhythm = c.header;
                rhythm.hours.clear();
                archive.rhythms.insert_or_assign(c.key, std::move(rhythm));
                return true;
            },
            [&](const RemoveRhythm& c) { return archive.rhythms.erase(c.key) == 1; },
            [&](const RhythmAccount& c) {
                auto* rhythm = find(archive.rhythms, c.key);
                if (!rhythm) return false;
                rhythm->accountDigest = c.digest;
                return true;
            },
            [&](const SetHour& c) {
                auto* rhythm = find(archive.rhythms, c.key);
                if (!rhythm || c.index > rhythm->hours.size()) return false;
                if (c.index == rhythm->hours.size()) {
                    rhythm->hours.push_back(c.hour);
                } else {
                    rhythm->hours[c.index] = c.hour;
                }
                return true;
            },
            [&](const DropHoursBefore& c) {
                auto* rhythm = find(archive.rhythms, c.key);
                if (!rhythm) return false;
                std::erase_if(rhythm->hours,
                              [&](const RhythmHour& hour) { return hour.start < c.cutoff; });
                return true;
            },
            [&](const DropHoursAfter& c) {
                auto* rhythm = find(archive.rhythms, c.key);
                if (!rhythm) return false;
                std::erase_if(rhythm->hours,
                              [&](const RhythmHour& hour) { return hour.start > c.limit; });
                return true;
            },
            [&](const LastKnownAccount& c) {
                archive.lastKnownAccounts.insert_or_assign(c.provider, c.digest);
                return true;
            },
        },
        change);
}

}  // namespace kestrane::history
