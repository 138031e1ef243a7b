// The relative reset text is plain arithmetic; it lives apart from the ICU formatters so that
// `kestrane --status`, which needs only this one, does not load ICU.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "model/DateFormatting.h"

namespace kestrane::model::DateFormatting {

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
