#include "platform/Iso8601.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kestrane::platform {
namespace {

class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return position_ == text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[position_]; }

    bool digits(int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            const char c = peek();
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
            ++position_;
        }
        return true;
    }

    bool literal(char expected) {
        if (peek() != expected) return false;
        ++position_;
        return true;
    }

    bool oneOf(std::string_view accepted) {
        if (atEnd() || accepted.find(peek()) == std::string_view::npos) return false;
        ++position_;
        return true;
    }

    // Reads one or more digits as a fraction of a second.
    bool fraction(double& value) {
        value = 0;
        double scale = 0.1;
        std::size_t count = 0;
        while (peek() >= '0' && peek() <= '9') {
            value += (peek() - '0') * scale;
            scale /= 10;
            ++position_;
            ++count;
        }
        return count > 0;
    }

  private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::optional<Date> parseInternetDateTime(std::string_view text, bool fractionalSeconds) {
    Cursor cursor(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!cursor.digits(4, year) || !cursor.literal('-') || !cursor.digits(2, month) ||
        !cursor.literal('-') || !cursor.digits(2, day) || !cursor.oneOf("Tt") ||
        !cursor.digits(2, hour) || !cursor.literal(':') || !cursor.digits(2, minute) ||
        !cursor.literal(':') || !cursor.digits(2, second)) {
        return std::nullopt;
    }
    double fraction = 0;
    if (fractionalSeconds) {
        if (!cursor.literal('.') || !cursor.fraction(fraction)) return std::nullopt;
    } else if (cursor.peek() == '.') {
        return std::nullopt;
    }

    int offsetSeconds = 0;
    if (!cursor.oneOf("Zz")) {
        const char sign = cursor.peek();
        if (!cursor.oneOf("+-")) return std::nullopt;
        int offsetHours = 0, offsetMinutes = 0;
        if (!cursor.digits(2, offsetHours)) return std::nullopt;
        cursor.literal(':');
        if (!cursor.digits(2, offsetMinutes)) return std::nullopt;
        if (offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (sign == '-' ? -1 : 1);
    }
    if (!cursor.atEnd()) return std::nullopt;

    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year),
                              std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    // 23:59:60 is a leap second; it reads as the first instant of the next minute.
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    const std::int64_t days = sys_days(date).time_since_epoch().count();
    const double seconds = static_cast<double>(days) * 86400.0 + hour * 3600 + minute * 60 +
                           second - offsetSeconds + fraction;
    return Date{seconds};
}

std::optional<Date> parseInternetDateTime(std::string_view text) {
    if (auto date = parseInternetDateTime(text, true)) return date;
    return parseInternetDateTime(text, false);
}

}  // namespace kestrane::platform

namespace kestrane::platform {

std::string formatInternetDateTime(Date date) {
    using namespace std::chrono;
    const auto seconds = static_cast<std::int64_t>(std::floor(date.secondsSince1970));
    const sys_seconds instant{std::chrono::seconds(seconds)};
    const auto day = floor<days>(instant);
    const year_month_day calendarDay{day};
    const hh_mm_ss time{instant - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(calendarDay.year()), static_cast<unsigned>(calendarDay.month()),
                  static_cast<unsigned>(calendarDay.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace kestrane::platform
