#pragma once

#include <string>

#include "platform/Calendar.h"
#include "platform/Date.h"

namespace kestrane::model::DateFormatting {

// Absolute reset moment, "d MMM, HH:mm" in ru_RU ("10 дек., 14:30").
std::string reset(platform::Date date, const platform::Calendar& calendar);
// Time of the last update, "HH:mm".
std::string updated(platform::Date date, const platform::Calendar& calendar);
// "через 5 мин.", "через 2 ч. 0 мин.", "через 3 дн. 4 ч."; past dates read "через 1 мин.".
std::string relativeReset(platform::Date date, platform::Date now);

}  // namespace kestrane::model::DateFormatting
