#include "platform/WallClockConverter.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <string>

namespace kestrane::platform {

struct WallClockConverter::Strict {
    icu::GregorianCalendar calendar;
};

WallClockConverter::WallClockConverter(const Calendar& calendar) {
    const std::string& identifier = calendar.timeZoneIdentifier();
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())))));
    UErrorCode status = U_ZERO_ERROR;
    auto strict = std::make_unique<Strict>(
        Strict{icu::GregorianCalendar(zone.release(), icu::Locale::getRoot(), status)});
    if (U_FAILURE(status)) return;
    strict->calendar.setLenient(false);
    calendar_ = std::move(strict);
}

WallClockConverter::~WallClockConverter() = default;

std::optional<Date> WallClockConverter::date(int year, int month, int day, int hour, int minute,
                                             int second) {
    if (!calendar_) return std::nullopt;
    icu::GregorianCalendar& wallClock = calendar_->calendar;
    wallClock.clear();
    wallClock.set(year, month - 1, day, hour, minute, second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate millis = wallClock.getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return Date{millis / 1000.0};
}

}  // namespace kestrane::platform
