#pragma once

#include <memory>
#include <optional>

#include "platform/Calendar.h"
#include "platform/Date.h"

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
    struct Strict;  // ICU's calendar in the zone, not lenient
    std::unique_ptr<Strict> calendar_;
};

}  // namespace kestrane::platform
