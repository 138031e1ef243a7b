#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "platform/Json.h"
#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

// The text the desktop program's settings file holds under `key`, its quoting undone.
std::optional<std::string> storedSetting(const std::filesystem::path& file, std::string_view key) {
    std::ifstream input(file);
    const std::string prefix = std::string(key) + "=";
    for (std::string line; std::getline(input, line);) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::string value = line.substr(prefix.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
        std::string unquoted;
        for (std::size_t i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == '\\' && i + 2 < value.size()) ++i;
            unquoted += value[i];
        }
        return unquoted;
    }
    return std::nullopt;
}

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
        {"a Wayland display that does not exist",
         {{"WAYLAND_DISPLAY", "wayland-nowhere"}},
         noPlatform},
        {"an X display that does not exist", {{"DISPLAY", ":999999"}}, noPlatform},
        {"a platform plugin that is not installed",
         {{"QT_QPA_PLATFORM", "nosuchplugin"}},
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
        const auto output = testing::runProcess(testing::kestraneExecutable(), {}, environment);
        EXPECT_EQ(output.exitStatus, 1);
        EXPECT_EQ(output.standardError, testCase.expected);
        EXPECT_EQ(output.standardOutput, "");
    }
}

// A first start with nothing stored switches on what the machine is signed in to: here only
// Claude, whose credentials file is all the home folder holds.
TEST(DesktopStartProcessTest, FirstStartSwitchesOnOnlyTheProvidersSignedInOnTheMachine) {
    const testing::TempDirectory home;
    home.write(".claude/.credentials.json",
               R"({"claudeAiOauth":{"accessToken":"test-token-not-secret"}})");
    const std::map<std::string, std::string> environment{
        {"PATH", "/usr/bin:/bin"},
        {"HOME", home.path().string()},
        {"XDG_RUNTIME_DIR", home.path().string()},
        {"LANG", "C.UTF-8"},
        {"QT_QPA_PLATFORM", "offscreen"},
        // Once Claude is on its quota is asked for: of a port nobody listens on.
        {"KESTRANE_CLAUDE_API_ORIGIN", "http://127.0.0.1:9"},
    };
    // Two starts: one becomes the program, the other hands over to it and ends. The program
    // answers the hand-over from its event loop, after the first start's choice is stored.
    testing::BackgroundProcess one(testing::kestraneExecutable(), {}, environment);
    testing::BackgroundProcess other(testing::kestraneExecutable(), {}, environment);
    ASSERT_TRUE(one.started() && other.started());
    if (!one.canWait() || !other.canWait()) GTEST_SKIP() << "no process descriptors (pidfd)";
    int status = -1;
    const auto handedOver =
        testing::BackgroundProcess::firstToEnd({&one, &other}, std::chrono::seconds(60), status);
    ASSERT_TRUE(handedOver) << "neither start ended: no hand-over";
    EXPECT_EQ(status, 0);
    one.stop();
    other.stop();

    const auto stored =
        storedSetting(home.path() / ".config/Kestrane/Kestrane.conf", "providerTogglesV1");
    ASSERT_TRUE(stored);
    EXPECT_EQ(platform::parseJson(*stored), platform::Json({{"Antigravity", false},
                                                            {"Claude", true},
                                                            {"Codex", false},
                                                            {"Cursor", false},
                                                            {"Gemini CLI", false},
                                                            {"GitHub Copilot", false},
                                                            {"Kimi", false},
                                                            {"MiniMax", false},
                                                            {"OpenRouter", false},
                                                            {"z.ai", false}}));
}

}  // namespace
}  // namespace kestrane
