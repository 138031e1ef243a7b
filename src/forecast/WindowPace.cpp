#include "forecast/WindowPace.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrane::forecast {

std::optional<WindowPace> WindowPace::make(const model::LimitWindow& window, platform::Date now) {
    if (!window.durationMinutes || *window.durationMinutes <= 0 || !window.resetsAt) {
        return std::nullopt;
    }
    const double length = static_cast<double>(*window.durationMinutes) * 60;
    const platform::Date start = *window.resetsAt - length;
    if (!(now >= start) || !(now < *window.resetsAt)) return std::nullopt;
    if (!std::isfinite(window.usedPercent)) return std::nullopt;
    return WindowPace{std::clamp(window.usedPercent, 0.0, 100.0), (now - start) / length * 100};
}

long long WindowPace::roundedDifference() const {
    const long long rounded = std::llround(differencePoints());
    return std::llabs(rounded) <= evenBand ? 0 : rounded;
}

std::string WindowPace::text() const {
    const long long difference = roundedDifference();
    if (difference == 0) return "Темп: равномерный";
    return std::string("Темп: ") + (difference > 0 ? "быстрее" : "медленнее") +
           " равномерного на " + std::to_string(std::llabs(difference)) + "\u00a0п.п.";
}

}  // namespace kestrane::forecast
