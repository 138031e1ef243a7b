#pragma once

#include <optional>
#include <string>

#include "history/UsageAnalytics.h"

namespace kestrane::history {

// The one-line Russian summary of the last hour under the usage card.
struct RecentUsageInsight {
    std::string text;

    // Absent unless at least 15 minutes of the last hour were observed.
    static std::optional<RecentUsageInsight> make(const UsageAnalytics& analytics);

    bool operator==(const RecentUsageInsight&) const = default;
};

}  // namespace kestrane::history
