#include <gtest/gtest.h>

#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

// A start that cannot reach a display ends at once with status 1 and one Russian line on
// standard error, never Qt's English text or an abort.
TEST(DesktopStartProcessTest, StartWithoutAUsableDisplayEndsWithOneRussianLine) {
    const std::string noDisplay =
        "Нет графического сеанса: Kestrane работает в области уведомлений. "
        "Для разовой проверки запустите kestrane --probe.\n";
    const std::string noPlatform =
        "Kestrane не удалось запустить: графический сеанс недоступен (нет связи с дисплеем "
        "или нет модуля платформы Qt; для Wayland нужен пакет qt6-wayland).\n";
    const struct {
        const char* name;
        std::map<std::string, std::string> display;
        std::string expected;
    } cases[] = {
        {"no display at all", {}, noDisplay},
        {"a Wayland display that does not exist", {{"WAYLAND_DISPLAY", "wayland-nowhere"}},
         noPlatform},
        {"an X display that does not exist", {{"DISPLAY", ":999999"}}, noPlatform},
        {"a platform plugin that is not installed", {{"QT_QPA_PLATFORM", "nosuchplugin"}},
         noPlatform},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const testing::TempDirectory home;
        std::map<std::string, std::string> environment{{"PATH", "/usr/bin:/bin"},
                                                       {"HOME", home.path().string()},
                                                       {"XDG_RUNTIME_DIR", home.path().string()},
                                                       {"LANG", "C.UTF-8"}};
        environment.insert(testCase.display.begin(), testCase.display.end());
        const auto output =
            testing::runProcess(testing::kestraneExecutable(), {}, environment);
        EXPECT_EQ(output.exitStatus, 1);
        EXPECT_EQ(output.standardError, testCase.expected);
        EXPECT_EQ(output.standardOutput, "");
    }
}

}  // namespace
}  // namespace kestrane
