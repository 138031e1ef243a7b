#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include <unicode/uversion.h>

#include "platform/Calendar.h"
#include "platform/Date.h"

U_NAMESPACE_BEGIN
class SimpleDateFormat;
U_NAMESPACE_END

namespace kestrane::platform {

// Reads date texts written by other programs with a fixed ICU pattern ("EEE MMM d HH:mm:ss
// yyyy"), in a locale and the time zone of a calendar. Strict: the whole text must match and
// impossible dates are refused. Build one per batch of texts; not for use by several
// threads at once.
class DatePatternParser {
  public:
    DatePatternParser(std::string_view pattern, std::string_view locale, const Calendar& calendar);
    ~DatePatternParser();
    DatePatternParser(const DatePatternParser&) = delete;
    DatePatternParser& operator=(const DatePatternParser&) = delete;

    std::optional<Date> parse(std::string_view text) const;

  private:
    std::unique_ptr<icu::SimpleDateFormat> formatter_;
};

}  // namespace kestrane::platform
