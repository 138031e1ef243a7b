#include "platform/WallClockConverter.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <string>

namespace kestrane::platform {

WallClockConverter::WallClockConverter(const Calendar& calendar) {
    const std::string& identifier = calendar.timeZoneIdentifier();
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())))));
    UErrorCode status = U_ZERO_ERROR;
    calendar_ =
        std::make_unique<icu::GregorianCalendar>(zone.release(), icu::Locale::getRoot(), status);
    if (U_FAILURE(status)) {
        calendar_.reset();
        return;
    }
    calendar_->setLenient(false);
}

WallClockConverter::~WallClockConverter() = default;

std::optional<Date> WallClockConverter::date(int year, int month, int day, int hour, int minute,
                                             int second) {
    if (!calendar_) return std::nullopt;
    calendar_->clear();
    calendar_->set(year, month - 1, day, hour, minute, second);
    UErrorCode status = U_ZERO_ERROR;
    const UDate millis = calendar_->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return Date{millis / 1000.0};
}

}  // namespace kestrane::platform
