#pragma once

#include <optional>
#include <string>

#include "model/LimitWindow.h"
#include "platform/Date.h"

namespace kestrane::forecast {

// How fast a window is being used against an even spread over its length: the used share
// against the elapsed share of the window.
struct WindowPace {
    // A difference this small (percentage points, rounded) reads as an even pace: the used
    // share moves in whole percents and refreshes come minutes apart.
    static constexpr long long evenBand = 2;

    double usedPercent = 0;
    double elapsedPercent = 0;

    // Absent without a known length and reset, or outside the window (before its start, at
    // or after its reset).
    static std::optional<WindowPace> make(const model::LimitWindow& window, platform::Date now);

    // Used minus elapsed, percentage points: positive is faster than even.
    double differencePoints() const { return usedPercent - elapsedPercent; }
    // The difference rounded to whole points, 0 inside the even band.
    long long roundedDifference() const;
    // "Темп: быстрее равномерного на 12 п.п.", "Темп: медленнее равномерного на 5 п.п.",
    // "Темп: равномерный".
    std::string text() const;

    bool operator==(const WindowPace&) const = default;
};

}  // namespace kestrane::forecast
