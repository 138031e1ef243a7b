#pragma once

#include <compare>

namespace kestrane::platform {

// An instant in time: seconds since 1970-01-01T00:00:00Z, fractional seconds allowed.
struct Date {
    // Seconds from 1970-01-01 to 2001-01-01, the epoch the history archive counts from.
    static constexpr double referenceDateOffset = 978'307'200.0;

    double secondsSince1970 = 0;

    static constexpr Date fromSecondsSinceReferenceDate(double seconds) {
        return Date{seconds + referenceDateOffset};
    }
    constexpr double secondsSinceReferenceDate() const {
        return secondsSince1970 - referenceDateOffset;
    }

    auto operator<=>(const Date&) const = default;
};

constexpr Date operator+(Date date, double seconds) {
    return Date{date.secondsSince1970 + seconds};
}
constexpr Date operator-(Date date, double seconds) {
    return Date{date.secondsSince1970 - seconds};
}
constexpr double operator-(Date later, Date earlier) {
    return later.secondsSince1970 - earlier.secondsSince1970;
}

}  // namespace kestrane::platform
