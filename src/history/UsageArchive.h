#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "history/RhythmHistory.h"
#include "history/UsageSeries.h"
#include "model/ProviderKind.h"

namespace kestrane::history {

// Everything the usage history persists: one series and one rhythm per provider window, both
// keyed by "<provider raw value>|<window id>".
struct UsageArchive {
    static constexpr std::int64_t currentVersion = 1;

    std::int64_t version = currentVersion;
    std::map<std::string, UsageSeries, std::less<>> series;
    std::map<std::string, RhythmHistory, std::less<>> rhythms;
    // The account digest of the last fetch per provider that named its account. A fetch that
    // names none is taken to be the same account, not another one. Optional in the file
    // ("lastKnownAccounts", provider raw value → digest); readers that do not know it skip it.
    std::map<model::ProviderKind, std::string> lastKnownAccounts;

    bool operator==(const UsageArchive&) const = default;
};

// The file form: one JSON object, dates as seconds since 2001-01-01T00:00:00Z, absent optional
// values omitted. Throws std::domain_error for a value JSON cannot hold (a non-finite number).
std::string encodeArchive(const UsageArchive& archive);

// Reads the file form of any writer of the same format: unknown keys are ignored, null equals
// absent, "rhythms" may be missing, of a repeated key only the last value counts. Throws
// platform::DecodingError for anything else: invalid JSON, a missing or mistyped member, an unknown
// provider or transition kind, a version other than 1. "lastKnownAccounts" is read leniently:
// entries that are not a known provider with a string are skipped.
UsageArchive decodeArchive(std::string_view text);

}  // namespace kestrane::history
