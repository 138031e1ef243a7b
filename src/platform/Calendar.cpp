#include "platform/Calendar.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/utf8.h>
#include <unicode/uvernum.h>

#include <cmath>
#include <memory>

namespace kestrane::platform {
namespace {

constexpr double kMillis = 1000.0;

std::unique_ptr<icu::Calendar> makeCalendar(const icu::Calendar* prototype, Date date) {
    if (!prototype) return nullptr;
    std::unique_ptr<icu::Calendar> calendar(prototype->clone());
    if (!calendar) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(date.secondsSince1970 * kMillis, status);
    if (U_FAILURE(status)) return nullptr;
    return calendar;
}

std::optional<Date> timeOf(icu::Calendar& calendar) {
    UErrorCode status = U_ZERO_ERROR;
    const UDate millis = calendar.getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return Date{millis / kMillis};
}

int field(const icu::Calendar* prototype, Date date, UCalendarDateFields which) {
    auto calendar = makeCalendar(prototype, date);
    if (!calendar) return 0;
    UErrorCode status = U_ZERO_ERROR;
    const int value = calendar->get(which, status);
    return U_FAILURE(status) ? 0 : value;
}

// Total offset from UTC in milliseconds at the instant, daylight saving included.
std::optional<double> offsetAt(const icu::TimeZone& zone, double millis) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t raw = 0;
    int32_t dst = 0;
    zone.getOffset(millis, false, raw, dst, status);
    if (U_FAILURE(status)) return std::nullopt;
    return static_cast<double>(raw) + dst;
}

}  // namespace

struct Calendar::Zone {
    std::unique_ptr<const icu::TimeZone> timeZone;
    // Building an ICU calendar looks up locale week data, which costs far more than the
    // arithmetic itself; every operation clones this one instead. Null when ICU could not
    // build it.
    std::unique_ptr<const icu::Calendar> prototype;
};

Calendar::Calendar(std::string_view timeZoneIdentifier) {
    const auto id = icu::UnicodeString::fromUTF8(icu::StringPiece(
        timeZoneIdentifier.data(), static_cast<int32_t>(timeZoneIdentifier.size())));
    auto zone = std::make_shared<Zone>();
    zone->timeZone.reset(icu::TimeZone::createTimeZone(id));
    icu::UnicodeString resolved;
    zone->timeZone->getID(resolved);
    resolved.toUTF8String(identifier_);
    UErrorCode status = U_ZERO_ERROR;
    auto prototype =
        std::make_unique<icu::GregorianCalendar>(*zone->timeZone, icu::Locale::getRoot(), status);
    if (U_SUCCESS(status)) zone->prototype = std::move(prototype);
    zone_ = std::move(zone);
}

Calendar Calendar::current() { return Calendar(currentTimeZoneIdentifier()); }

std::string Calendar::currentTimeZoneIdentifier() {
    // Detection reads the system's setting again each time, unlike ICU's cached default zone.
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    zone->getID(id);
    std::string identifier;
    id.toUTF8String(identifier);
    return identifier;
}

std::optional<Calendar::Interval> Calendar::hourInterval(Date date) const {
    if (!std::isfinite(date.secondsSince1970)) return std::nullopt;
    constexpr double hour = 3'600'000.0;
    const double millis = date.secondsSince1970 * kMillis;
    const auto offset = offsetAt(*zone_->timeZone, millis);
    if (!offset) return std::nullopt;
    // Wall-clock hours start where local time is a whole hour; map that back to an instant.
    const double start = std::floor((millis + *offset) / hour) * hour - *offset;
    return Interval{Date{start / kMillis}, Date{(start + hour) / kMillis}};
}

std::optional<Date> Calendar::startOfDay(Date date) const {
    if (!std::isfinite(date.secondsSince1970)) return std::nullopt;
    auto calendar = makeCalendar(zone_->prototype.get(), date);
    if (!calendar) return std::nullopt;
    calendar->set(UCAL_HOUR_OF_DAY, 0);
    calendar->set(UCAL_MINUTE, 0);
    calendar->set(UCAL_SECOND, 0);
    calendar->set(UCAL_MILLISECOND, 0);
    return timeOf(*calendar);
}

std::optional<Date> Calendar::addingDays(Date date, int days) const {
    if (!std::isfinite(date.secondsSince1970)) return std::nullopt;
    auto calendar = makeCalendar(zone_->prototype.get(), date);
    if (!calendar) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    calendar->add(UCAL_DATE, days, status);
    if (U_FAILURE(status)) return std::nullopt;
    return timeOf(*calendar);
}

int Calendar::weekday(Date date) const {
    return field(zone_->prototype.get(), date, UCAL_DAY_OF_WEEK);
}

int Calendar::hour(Date date) const {
    return field(zone_->prototype.get(), date, UCAL_HOUR_OF_DAY);
}

bool Calendar::isSameDay(Date a, Date b) const {
    const auto dayA = startOfDay(a);
    const auto dayB = startOfDay(b);
    return dayA && dayB && *dayA == *dayB;
}

std::optional<double> Calendar::secondsFromGMT(Date date) const {
    if (!std::isfinite(date.secondsSince1970)) return std::nullopt;
    const auto offset = offsetAt(*zone_->timeZone, date.secondsSince1970 * kMillis);
    if (!offset) return std::nullopt;
    return *offset / kMillis;
}

std::string Calendar::format(Date date, std::string_view pattern, std::string_view locale) const {
    UErrorCode status = U_ZERO_ERROR;
    const auto icuPattern = icu::UnicodeString::fromUTF8(
        icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    const std::string localeName(locale);
    icu::SimpleDateFormat formatter(icuPattern, icu::Locale(localeName.c_str()), status);
    if (U_FAILURE(status)) return {};
    formatter.setTimeZone(*zone_->timeZone);
    icu::UnicodeString text;
    formatter.format(date.secondsSince1970 * kMillis, text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

bool Calendar::hasLocaleData() {
    // January in the nominative; the pattern needs both the Russian names and the calendar
    // data under them.
    return looksLikeRussianMonthName(Calendar("GMT").format(Date{0}, "LLLL", "ru_RU"));
}

bool Calendar::looksLikeRussianMonthName(std::string_view monthName) {
    if (monthName.empty()) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(monthName.data());
    const auto length = static_cast<int32_t>(monthName.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        // Without Russian data ICU falls back to other names ("January", "M01") or to none.
        if (c < 0x0400 || c > 0x04FF) return false;
    }
    return true;
}

std::string Calendar::missingLocaleDataMessage() {
#ifdef __APPLE__
    const std::string package = "icu4c";
#else
    // The data comes with the ICU library this program was built against.
    const std::string package = "libicu" + std::to_string(U_ICU_VERSION_MAJOR_NUM);
#endif
    return "Kestrane: данные ICU недоступны (libicudata): даты и время показать нельзя. "
           "Переустановите пакет " +
           package + ".";
}

}  // namespace kestrane::platform
