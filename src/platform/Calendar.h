#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Date.h"

namespace kestrane::platform {

// Gregorian calendar arithmetic and date texts in one time zone (backed by ICU).
// Immutable and safe to share between threads.
class Calendar {
  public:
    struct Interval {
        Date start;
        Date end;
        bool operator==(const Interval&) const = default;
    };

    // An unknown identifier falls back to GMT, as ICU does.
    explicit Calendar(std::string_view timeZoneIdentifier);
    // The system's current time zone; the application wires this in once per use.
    static Calendar current();
    // The identifier of the system's current time zone, read afresh (TZ, else /etc/localtime).
    static std::string currentTimeZoneIdentifier();

    const std::string& timeZoneIdentifier() const { return identifier_; }

    // The clock hour containing `date`, correct across daylight-saving changes and in
    // zones whose offset is not a whole number of hours.
    std::optional<Interval> hourInterval(Date date) const;
    std::optional<Date> startOfDay(Date date) const;
    std::optional<Date> addingDays(Date date, int days) const;
    // 1 = Sunday ... 7 = Saturday.
    int weekday(Date date) const;
    // 0...23 in this zone.
    int hour(Date date) const;
    bool isSameDay(Date a, Date b) const;
    // Offset of local time from UTC at `date`, daylight saving included. Cheap (no calendar
    // object), so loops over many hours can derive local fields from it.
    std::optional<double> secondsFromGMT(Date date) const;

    // Formats with an ICU date pattern ("d MMM, HH:mm") in this zone and the given locale.
    std::string format(Date date, std::string_view pattern,
                       std::string_view locale = "ru_RU") const;

    // Whether ICU's data (month names, time zones) can be read. Without it every date text
    // would come out blank and every zone would be GMT, so a program about to show dates
    // checks this first and ends with missingLocaleDataMessage() instead. Costs one date
    // format.
    static bool hasLocaleData();
    // Whether `monthName` is what a Russian month name looks like: Cyrillic letters only.
    static bool looksLikeRussianMonthName(std::string_view monthName);
    // The line a program prints on standard error before ending when the data is missing.
    static std::string missingLocaleDataMessage();

  private:
    // The ICU time zone and a prototype calendar in it, shared by every copy.
    struct Zone;
    std::shared_ptr<const Zone> zone_;
    std::string identifier_;
};

}  // namespace kestrane::platform
