#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "history/UsageArchive.h"
#include "model/ProviderKind.h"
#include "platform/Date.h"

namespace kestrane::history {

// One step the store took on its archive, in a form that repeats it exactly on the archive as it
// was before: the journal beside the archive file is a list of these. Keys are the archive's
// ("<provider>|<window id>"). Whole series and rhythms are written as a header followed by one
// step per sample or hour.
namespace change {

// A series with this header and no samples, replacing any series of that key.
struct NewSeries {
    std::string key;
    UsageSeries header;
};
struct RemoveSeries {
    std::string key;
};
struct SeriesAccount {
    std::string key;
    std::string digest;
};
struct SeriesReset {
    std::string key;
    std::optional<platform::Date> resetsAt;
};
struct DropFirstSamples {
    std::string key;
    std::size_t count = 0;
};
struct DropLastSample {
    std::string key;
};
struct AppendSample {
    std::string key;
    UsageSample sample;
};
// UsageHistoryStore::thinned applied to the series' samples.
struct ThinSamples {
    std::string key;
};
// Every sample dated after `limit` removed.
struct DropSamplesAfter {
    std::string key;
    platform::Date limit;
};
// A rhythm with this header and no hours, replacing any rhythm of that key.
struct NewRhythm {
    std::string key;
    RhythmHistory header;
};
struct RemoveRhythm {
    std::string key;
};
struct RhythmAccount {
    std::string key;
    std::string digest;
};
// The hour at `index`, or a new last hour when `index` is the number of hours.
struct SetHour {
    std::string key;
    std::size_t index = 0;
    RhythmHour hour;
};
// Every hour starting before `cutoff` removed.
struct DropHoursBefore {
    std::string key;
    platform::Date cutoff;
};
// Every hour starting after `limit` removed.
struct DropHoursAfter {
    std::string key;
    platform::Date limit;
};
struct LastKnownAccount {
    model::ProviderKind provider = model::ProviderKind::codex;
    std::string digest;
};

}  // namespace change

using ArchiveChange =
    std::variant<change::NewSeries, change::RemoveSeries, change::SeriesAccount,
                 change::SeriesReset, change::DropFirstSamples, change::DropLastSample,
                 change::AppendSample, change::ThinSamples, change::DropSamplesAfter,
                 change::NewRhythm, change::RemoveRhythm, change::RhythmAccount, change::SetHour,
                 change::DropHoursBefore, change::DropHoursAfter, change::LastKnownAccount>;

// Applies one change. False, leaving the archive as it was, when the change does not fit it (a
// key it does not hold, more samples than there are, an hour beyond the end): the journal then
// does not belong to this archive.
bool applyChange(UsageArchive& archive, const ArchiveChange& change);

}  // namespace kestrane::history
