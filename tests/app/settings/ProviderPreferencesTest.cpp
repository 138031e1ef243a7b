#include "app/settings/ProviderPreferences.h"

#include <gtest/gtest.h>

#include "platform/SettingsStore.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;
using platform::Json;

TEST(ProviderPreferencesTest, FreshUserHasCodexAndCursorEnabled) {
    platform::MemorySettingsStore store;
    const ProviderPreferences preferences(store);
    EXPECT_EQ(preferences.enabledProviders(),
              (std::vector{ProviderKind::codex, ProviderKind::cursor}));
    EXPECT_FALSE(preferences.isEnabled(ProviderKind::claude));
    EXPECT_FALSE(preferences.isEnabled(ProviderKind::kimi));
    EXPECT_FALSE(preferences.isEnabled(ProviderKind::antigravity));
    EXPECT_FALSE(store.value("providerTogglesV1"));
}

TEST(ProviderPreferencesTest, TogglesPersistOnlyTheirEntriesAndKeepCanonicalOrder) {
    platform::MemorySettingsStore store;
    ProviderPreferences writer(store);
    writer.setEnabled(true, ProviderKind::claude);
    writer.setEnabled(false, ProviderKind::codex);

    EXPECT_EQ(store.value("providerTogglesV1"), Json({{"Claude", true}, {"Codex", false}}));
    // A second value over the same store sees the change at once.
    const ProviderPreferences reader(store);
    EXPECT_EQ(reader.enabledProviders(), (std::vector{ProviderKind::cursor, ProviderKind::claude}));

    writer.setEnabled(true, ProviderKind::antigravity);
    writer.setEnabled(true, ProviderKind::kimi);
    EXPECT_EQ(reader.enabledProviders(),
              (std::vector{ProviderKind::cursor, ProviderKind::claude, ProviderKind::kimi,
                           ProviderKind::antigravity}));
}

TEST(ProviderPreferencesTest, EveryProviderDisabledGivesAnEmptyList) {
    platform::MemorySettingsStore store;
    ProviderPreferences preferences(store);
    for (const ProviderKind kind : model::allProviderKinds) preferences.setEnabled(false, kind);
    EXPECT_TRUE(preferences.enabledProviders().empty());
}

TEST(ProviderPreferencesTest, UnreadableStoredValueBehavesAsAbsent) {
    const struct {
        const char* name;
        Json stored;
    } cases[] = {
        {"string", Json("Claude")},
        {"array", Json::array({"Claude", true})},
        {"number", Json(1)},
        {"one value not a boolean", Json({{"Claude", true}, {"Codex", "no"}})},
        {"one value a number", Json({{"Claude", true}, {"Codex", 0}})},
        {"null", Json(nullptr)},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        platform::MemorySettingsStore store;
        store.setValue("providerTogglesV1", testCase.stored);
        ProviderPreferences preferences(store);
        EXPECT_EQ(preferences.enabledProviders(),
                  (std::vector{ProviderKind::codex, ProviderKind::cursor}));
        EXPECT_FALSE(preferences.isEnabled(ProviderKind::claude));

        // The first toggle replaces the unreadable value with just that entry.
        preferences.setEnabled(false, ProviderKind::cursor);
        EXPECT_EQ(store.value("providerTogglesV1"), Json({{"Cursor", false}}));
        EXPECT_EQ(preferences.enabledProviders(), (std::vector{ProviderKind::codex}));
    }
}

TEST(ProviderPreferencesTest, UnknownKeysInTheDictionaryAreKeptAndIgnored) {
    platform::MemorySettingsStore store;
    store.setValue("providerTogglesV1", Json({{"claude", true}, {"Gemini", true}}));
    ProviderPreferences preferences(store);
    // Keys are raw values, matched exactly: "claude" is not Claude.
    EXPECT_FALSE(preferences.isEnabled(ProviderKind::claude));
    preferences.setEnabled(true, ProviderKind::kimi);
    EXPECT_EQ(store.value("providerTogglesV1"),
              Json({{"claude", true}, {"Gemini", true}, {"Kimi", true}}));
}

TEST(ProviderPreferencesTest, NotificationsAreOnWithTwentyAndFivePercentUntilChanged) {
    platform::MemorySettingsStore store;
    ProviderPreferences preferences(store);
    EXPECT_TRUE(preferences.notificationsEnabled());
    EXPECT_EQ(preferences.notificationThresholds(), (NotificationThresholds{20, 5}));

    preferences.setNotificationsEnabled(false);
    preferences.setNotifyBelowPercent(30);
    preferences.setNotifyCriticalPercent(10);
    EXPECT_FALSE(preferences.notificationsEnabled());
    EXPECT_EQ(preferences.notificationThresholds(), (NotificationThresholds{30, 10}));
    EXPECT_EQ(store.value("notificationsEnabled"), Json(false));
    EXPECT_EQ(store.value("notifyBelowPercent"), Json(30));

    // Values that are not whole percentages from 1 to 99 read as the defaults.
    for (const Json& foreign : {Json("30"), Json(0), Json(100), Json(12.5), Json::array()}) {
        SCOPED_TRACE(foreign.dump());
        store.setValue("notifyBelowPercent", foreign);
        store.setValue("notificationsEnabled", foreign);
        EXPECT_EQ(preferences.notificationThresholds().low, 20);
        EXPECT_TRUE(preferences.notificationsEnabled());
    }
}

}  // namespace
}  // namespace kestrane::app
