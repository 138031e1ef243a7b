#include "app/settings/TrayIconPreference.h"

#include <gtest/gtest.h>

namespace kestrane::app {
namespace {

TEST(TrayIconPreferenceTest, OnlyTheTwoFixedTintsAreReadAsSuch) {
    const struct {
        const char* name;
        std::optional<platform::Json> stored;
        TrayIconStyle expected;
    } cases[] = {
        {"never set", std::nullopt, TrayIconStyle::automatic},
        {"light", platform::Json("light"), TrayIconStyle::light},
        {"dark", platform::Json("dark"), TrayIconStyle::dark},
        {"automatic", platform::Json("automatic"), TrayIconStyle::automatic},
        {"other case", platform::Json("Dark"), TrayIconStyle::automatic},
        {"not a string", platform::Json(1), TrayIconStyle::automatic},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        platform::MemorySettingsStore settingsStore;
        if (testCase.stored) settingsStore.setValue(TrayIconPreference::key, *testCase.stored);
        EXPECT_EQ(TrayIconPreference::read(settingsStore), testCase.expected);
    }
}

TEST(TrayIconPreferenceTest, WrittenChoiceReadsBack) {
    platform::MemorySettingsStore settingsStore;
    for (const TrayIconStyle style :
         {TrayIconStyle::dark, TrayIconStyle::light, TrayIconStyle::automatic}) {
        TrayIconPreference::write(settingsStore, style);
        EXPECT_EQ(TrayIconPreference::read(settingsStore), style);
    }
    EXPECT_EQ(settingsStore.value("trayIconStyle"), platform::Json("automatic"));
}

}  // namespace
}  // namespace kestrane::app
