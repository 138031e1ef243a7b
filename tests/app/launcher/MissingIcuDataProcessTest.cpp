// The programs that show dates, run against an ICU data library without data: they say so in
// one Russian line and end with status 1 instead of showing blank dates.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/ProcessRun.h"
#include "support/TempDirectory.h"

namespace kestrane {
namespace {

#ifdef KESTRANE_EMPTY_ICU_DATA_DIR

TEST(MissingIcuDataProcessTest, ServicesAndTheDesktopStartEndWithOneRussianLine) {
    const std::string expected =
        "Kestrane: данные ICU недоступны (libicudata): даты и время показать нельзя. "
        "Переустановите пакет libicu" KESTRANE_ICU_MAJOR ".\n";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
    } cases[] = {
        {"services", {"--services"}},
        {"services as JSON", {"--services", "--json"}},
        // Before anything else: no display is needed to get this message.
        {"desktop", {}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const testing::TempDirectory home;
        const std::map<std::string, std::string> environment{
            {"PATH", "/usr/bin:/bin"},
            {"HOME", home.path().string()},
            {"XDG_RUNTIME_DIR", home.path().string()},
            {"LANG", "C.UTF-8"},
            {"LD_LIBRARY_PATH", KESTRANE_EMPTY_ICU_DATA_DIR},
            // Nor may ICU find a data file of its own instead.
            {"ICU_DATA", home.path().string()},
        };
        const auto output =
            testing::runProcess(testing::kestraneExecutable(), testCase.arguments, environment);
        EXPECT_EQ(output.exitStatus, 1);
        EXPECT_EQ(output.standardError, expected);
        EXPECT_EQ(output.standardOutput, "");
    }
}

#endif

}  // namespace
}  // namespace kestrane
