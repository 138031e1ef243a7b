#include "app/settings/FirstStartToggles.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/settings/ProviderPreferences.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;
using platform::Json;

TEST(FirstStartTogglesTest, SwitchesOnExactlyTheSignedInProvidersElseTheDefaults) {
    const struct {
        const char* name;
        std::vector<ProviderKind> signedIn;
        std::vector<ProviderKind> enabled;
    } cases[] = {
        {"none found: the defaults", {}, {ProviderKind::codex, ProviderKind::cursor}},
        {"only Claude", {ProviderKind::claude}, {ProviderKind::claude}},
        {"Kimi and Antigravity",
         {ProviderKind::kimi, ProviderKind::antigravity},
         {ProviderKind::kimi, ProviderKind::antigravity}},
        {"a default one among them",
         {ProviderKind::cursor, ProviderKind::claude},
         {ProviderKind::cursor, ProviderKind::claude}},
        {"all of them",
         {model::allProviderKinds.begin(), model::allProviderKinds.end()},
         {model::allProviderKinds.begin(), model::allProviderKinds.end()}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        platform::MemorySettingsStore store;
        std::vector<ProviderKind> asked;
        EXPECT_TRUE(storeFirstStartToggles(store, [&](ProviderKind kind) {
            asked.push_back(kind);
            return std::find(testCase.signedIn.begin(), testCase.signedIn.end(), kind) !=
                   testCase.signedIn.end();
        }));
        EXPECT_EQ(asked,
                  std::vector(model::allProviderKinds.begin(), model::allProviderKinds.end()));
        EXPECT_EQ(ProviderPreferences(store).enabledProviders(), testCase.enabled);

        // Every provider has its entry, so a later change of the defaults changes nothing.
        Json expected = Json::object();
        for (const ProviderKind kind : model::allProviderKinds) {
            expected[std::string(model::rawValue(kind))] =
                std::find(testCase.enabled.begin(), testCase.enabled.end(), kind) !=
                testCase.enabled.end();
        }
        EXPECT_EQ(store.value("providerTogglesV1"), expected);
        EXPECT_EQ(settings::encodeToggles(firstStartToggles(testCase.signedIn)), expected);
    }
}

TEST(FirstStartTogglesTest, AStoredChoiceIsNeverChangedNorAreSignInsLookedFor) {
    const struct {
        const char* name;
        Json stored;
    } cases[] = {
        {"toggles", Json({{"Kimi", true}})},
        {"every provider off", Json({{"Codex", false}, {"Cursor", false}})},
        {"empty dictionary", Json::object()},
        // Unreadable, but still the user's file: it reads as the defaults and stays as it is.
        {"not a dictionary", Json("Claude")},
        {"null", Json(nullptr)},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        platform::MemorySettingsStore store;
        store.setValue("providerTogglesV1", testCase.stored);
        bool asked = false;
        EXPECT_FALSE(storeFirstStartToggles(store, [&](ProviderKind) {
            asked = true;
            return true;
        }));
        EXPECT_FALSE(asked);
        EXPECT_EQ(store.value("providerTogglesV1"), testCase.stored);
    }
}

TEST(FirstStartTogglesTest, OnlyTheFirstStartDecides) {
    platform::MemorySettingsStore store;
    EXPECT_TRUE(storeFirstStartToggles(
        store, [](ProviderKind kind) { return kind == ProviderKind::claude; }));
    // The user switches Codex on; a later start finds Kimi signed in as well and keeps both.
    ProviderPreferences(store).setEnabled(true, ProviderKind::codex);
    EXPECT_FALSE(storeFirstStartToggles(store, [](ProviderKind) { return true; }));
    EXPECT_EQ(ProviderPreferences(store).enabledProviders(),
              (std::vector{ProviderKind::codex, ProviderKind::claude}));
}

}  // namespace
}  // namespace kestrane::app
