#include "model/LimitWindow.h"

namespace kestrane::model {

std::string periodWord(std::int64_t minutes) {
    if (minutes == 300) return "5 часов";
    if (minutes == 1440) return "Дневной";
    if (minutes == 10080) return "Недельный";
    if (minutes >= 43200 && minutes <= 44640) return "Месячный";
    if (minutes % 1440 == 0) return std::to_string(minutes / 1440) + " дн.";
    if (minutes % 60 == 0) return std::to_string(minutes / 60) + " ч.";
    return std::to_string(minutes) + " мин.";
}

std::string LimitWindow::periodTitle() const {
    if (!durationMinutes) return name;
    const std::string word = periodWord(*durationMinutes);
    return name.empty() ? word : name + " - " + word;
}

}  // namespace kestrane::model
