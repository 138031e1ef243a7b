#include "app/settings/ProviderPreferences.h"

#include <gtest/gtest.h>

namespace kestrane::app {
namespace {

TEST(DesktopPreferencesTest, OnlyTheTwoFixedTintsAreReadAsSuch) {
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
        if (testCase.stored) {
            settingsStore.setValue(ProviderPreferences::trayIconStyleKey, *testCase.stored);
        }
        EXPECT_EQ(ProviderPreferences(settingsStore).trayIconStyle(), testCase.expected);
    }
}

TEST(DesktopPreferencesTest, WrittenChoiceReadsBack) {
    platform::MemorySettingsStore settingsStore;
    for (const TrayIconStyle style :
         {TrayIconStyle::dark, TrayIconStyle::light, TrayIconStyle::automatic}) {
        ProviderPreferences(settingsStore).setTrayIconStyle(style);
        EXPECT_EQ(ProviderPreferences(settingsStore).trayIconStyle(), style);
    }
    EXPECT_EQ(settingsStore.value("trayIconStyle"), platform::Json("automatic"));
}

}  // namespace
}  // namespace kestrane::app
