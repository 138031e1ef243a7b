#include "model/DateFormatting.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrane::model::DateFormatting {

std::string reset(platform::Date date, const platform::Calendar& calendar) {
    return calendar.format(date, "d MMM, HH:mm", "ru_RU");
}

std::string updated(platform::Date date, const platform::Calendar& calendar) {
    return calendar.format(date, "HH:mm", "ru_RU");
}

std::string relativeReset(platform::Date date, platform::Date now) {
    double difference = date - now;
    if (!(difference > 0)) difference = 0;  // also maps NaN to 0
    // Far beyond any real window, but keeps the conversion defined.
    difference = std::min(difference, 1e15);
    const auto s = static_cast<std::int64_t>(difference);
    const auto text = [](std::int64_t value) { return std::to_string(value); };
    if (s < 3600) return "через " + text(std::max<std::int64_t>(1, s / 60)) + " мин.";
    if (s < 86400) return "через " + text(s / 3600) + " ч. " + text(s % 3600 / 60) + " мин.";
    return "через " + text(s / 86400) + " дн. " + text(s % 86400 / 3600) + " ч.";
}

}  // namespace kestrane::model::DateFormatting
