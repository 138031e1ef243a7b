#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ProviderKind.h"
#include "platform/Date.h"

namespace kestrane::history {

// What happened between two consecutive observations of a window.
struct UsageTransition {
    enum class Kind { reset, correction, periodChange };

    platform::Date date;
    Kind kind = Kind::reset;
    // True when `date` is the observation time rather than a reset time known in advance.
    bool isEstimated = false;

    bool operator==(const UsageTransition&) const = default;
};

std::string_view rawValue(UsageTransition::Kind kind);
std::optional<UsageTransition::Kind> transitionKindFromRawValue(std::string_view text);

// One observation of a window: the used share at the provider snapshot's time.
struct UsageSample {
    platform::Date date;
    double usedPercent = 0;
    // Not joined to the previous sample by a continuous line (first sample, a gap, a transition).
    bool startsSegment = false;
    std::optional<UsageTransition> transition;

    bool operator==(const UsageSample&) const = default;
};

// The observations of one quota window of one account, oldest first, strictly increasing dates.
struct UsageSeries {
    model::ProviderKind provider = model::ProviderKind::codex;
    std::string windowID;
    // 64 lowercase hex digits; see accountDigest().
    std::string accountDigest;
    std::optional<std::int64_t> durationMinutes;
    std::optional<platform::Date> resetsAt;
    std::vector<UsageSample> samples;

    bool operator==(const UsageSeries&) const = default;
};

}  // namespace kestrane::history
