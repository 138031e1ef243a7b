#include "platform/DatePatternParser.h"

#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <string>

namespace kestrane::platform {
namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

DatePatternParser::DatePatternParser(std::string_view pattern, std::string_view locale,
                                     const Calendar& calendar) {
    UErrorCode status = U_ZERO_ERROR;
    const std::string localeName(locale);
    formatter_ = std::make_unique<icu::SimpleDateFormat>(fromUtf8(pattern),
                                                         icu::Locale(localeName.c_str()), status);
    if (U_FAILURE(status)) {
        formatter_.reset();
        return;
    }
    formatter_->adoptTimeZone(
        icu::TimeZone::createTimeZone(fromUtf8(calendar.timeZoneIdentifier())));
    formatter_->setLenient(false);
}

DatePatternParser::~DatePatternParser() = default;

std::optional<Date> DatePatternParser::parse(std::string_view text) const {
    if (!formatter_ || text.empty()) return std::nullopt;
    const icu::UnicodeString input = fromUtf8(text);
    icu::ParsePosition position(0);
    const UDate millis = formatter_->parse(input, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) {
        return std::nullopt;
    }
    return Date{millis / 1000.0};
}

}  // namespace kestrane::platform
