#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Date.h"

namespace kestrane::model {

// One quota window of a provider.
struct LimitWindow {
    // Stable within its provider; with the provider it keys the usage history.
    std::string id;
    // Short Russian label as the client names it; may be empty.
    std::string name;
    // Percentage points used, 0...100 (clients clamp). Remaining is always derived.
    double usedPercent = 0;
    std::optional<std::int64_t> durationMinutes;
    std::optional<platform::Date> resetsAt;

    // Title for lists and probe output: "Сессия - 5 часов", "Месячный", "45 мин.".
    std::string periodTitle() const;

    bool operator==(const LimitWindow&) const = default;
};

// The word for a period of `minutes`: "5 часов", "Дневной", "2 дн.", "2 ч.", "90 мин.".
std::string periodWord(std::int64_t minutes);

}  // namespace kestrane::model
