#pragma once

#include <memory>
#include <optional>

#include <unicode/uversion.h>

#include "platform/Calendar.h"
#include "platform/Date.h"

U_NAMESPACE_BEGIN
class GregorianCalendar;
U_NAMESPACE_END

namespace kestrane::platform {

// Turns wall-clock readings of one time zone (as other programs print them) into instants.
// Strict: impossible dates and times that a daylight-saving change skips give nothing; a
// reading repeated by a change back means its later occurrence (after the change, in standard
// time). Keeps one calendar for a whole batch of readings; not for use by several threads at
// once.
class WallClockConverter {
  public:
    explicit WallClockConverter(const Calendar& calendar);
    ~WallClockConverter();
    WallClockConverter(const WallClockConverter&) = delete;
    WallClockConverter& operator=(const WallClockConverter&) = delete;

    // `month` 1...12.
    std::optional<Date> date(int year, int month, int day, int hour, int minute, int second);

  private:
    std::unique_ptr<icu::GregorianCalendar> calendar_;
};

}  // namespace kestrane::platform
