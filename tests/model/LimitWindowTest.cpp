#include "model/LimitWindow.h"

#include <gtest/gtest.h>

namespace kestrane::model {
namespace {

TEST(LimitWindowTest, PeriodTitleFollowsTheDurationRules) {
    struct Case {
        const char* name;
        std::optional<std::int64_t> minutes;
        const char* title;
    };
    const Case cases[] = {
        {"Сессия", 300, "Сессия - 5 часов"},
        {"", 300, "5 часов"},
        {"", 1440, "Дневной"},
        {"Все модели", 10080, "Все модели - Недельный"},
        {"", 43200, "Месячный"},
        {"", 44640, "Месячный"},
        {"", 43199, "43199 мин."},
        {"", 44641, "44641 мин."},
        {"", 2880, "2 дн."},
        {"", 0, "0 дн."},
        {"", 120, "2 ч."},
        {"", 90, "90 мин."},
        {"", 45, "45 мин."},
        {"Opus", std::nullopt, "Opus"},
        {"", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const LimitWindow window{.id = "x", .name = c.name, .durationMinutes = c.minutes};
        EXPECT_EQ(window.periodTitle(), c.title);
    }
}

}  // namespace
}  // namespace kestrane::model
