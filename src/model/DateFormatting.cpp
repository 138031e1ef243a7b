#include "model/DateFormatting.h"

namespace kestrane::model::DateFormatting {

std::string reset(platform::Date date, const platform::Calendar& calendar) {
    return calendar.format(date, "d MMM, HH:mm", "ru_RU");
}

std::string updated(platform::Date date, const platform::Calendar& calendar) {
    return calendar.format(date, "HH:mm", "ru_RU");
}

}  // namespace kestrane::model::DateFormatting
