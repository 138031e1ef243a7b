#include "app/settings/Settings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/settings/ProviderPreferences.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;
using platform::Json;

// One stored value (nothing when absent) and what a setting reads it as.
template <class T>
struct ReadCase {
    const char* name;
    std::optional<Json> stored;
    T expected;
};

template <class T>
void expectReads(const Setting<T>& setting, const std::vector<ReadCase<T>>& cases) {
    for (const auto& testCase : cases) {
        SCOPED_TRACE(std::string(setting.key) + ": " + testCase.name);
        platform::MemorySettingsStore store;
        if (testCase.stored) store.setValue(setting.key, *testCase.stored);
        EXPECT_EQ(read(store, setting), testCase.expected);
        EXPECT_EQ(isStored(store, setting), testCase.stored.has_value());
    }
}

// A value written, exactly as it lands in the store (the form earlier builds wrote and read),
// and read back as itself.
template <class T>
void expectWrites(const Setting<T>& setting, const std::vector<std::pair<T, Json>>& cases) {
    for (const auto& [value, stored] : cases) {
        SCOPED_TRACE(std::string(setting.key) + ": " + stored.dump());
        platform::MemorySettingsStore store;
        write(store, setting, value);
        EXPECT_EQ(store.value(setting.key), stored);
        EXPECT_EQ(read(store, setting), value);
    }
}

// Values of the wrong kind for every setting: each reads as the fallback. (The object is not a
// toggles dictionary either: its value is not a boolean.)
const std::vector<std::pair<const char*, Json>> foreignValues = {
    {"null", Json(nullptr)},
    {"array", Json::array({"Claude", true})},
    {"object", Json({{"value", 1}})},
    {"empty string", Json("")},
};

template <class T>
void expectForeignValuesReadAsFallback(const Setting<T>& setting) {
    for (const auto& [name, stored] : foreignValues) {
        SCOPED_TRACE(std::string(setting.key) + ": " + name);
        platform::MemorySettingsStore store;
        store.setValue(setting.key, stored);
        EXPECT_EQ(read(store, setting), setting.fallback());
    }
}

TEST(SettingsTest, KeysAreTheStoredNamesEarlierBuildsUsed) {
    const std::vector<std::string_view> expected = {
        "providerTogglesV1",
        "selectedProvider",
        "chartShowsBurn",
        "notificationsEnabled",
        "notifyBelowPercent",
        "notifyCriticalPercent",
        "trayIconStyle",
        "panelAppearance",
        // Added with accounts.
        "accountFolders",
        "hiddenAccounts",
        "accountLabels",
        "combinedAccountIcons",
    };
    EXPECT_EQ(std::vector<std::string_view>(settings::allKeys.begin(), settings::allKeys.end()),
              expected);
    EXPECT_EQ(std::set<std::string_view>(settings::allKeys.begin(), settings::allKeys.end()).size(),
              settings::allKeys.size());

    // The older names for the same keys still work.
    EXPECT_EQ(ProviderPreferences::togglesKey, "providerTogglesV1");
    EXPECT_EQ(ProviderPreferences::selectedProviderKey, "selectedProvider");
    EXPECT_EQ(ProviderPreferences::chartShowsBurnKey, "chartShowsBurn");
    EXPECT_EQ(ProviderPreferences::notificationsEnabledKey, "notificationsEnabled");
    EXPECT_EQ(ProviderPreferences::notifyBelowPercentKey, "notifyBelowPercent");
    EXPECT_EQ(ProviderPreferences::notifyCriticalPercentKey, "notifyCriticalPercent");
    EXPECT_EQ(ProviderPreferences::trayIconStyleKey, "trayIconStyle");
    EXPECT_EQ(ProviderPreferences::panelAppearanceKey, "panelAppearance");
}

TEST(SettingsTest, EverySettingFallsBackOnValuesOfAnotherKind) {
    expectForeignValuesReadAsFallback(settings::providerToggles);
    expectForeignValuesReadAsFallback(settings::selectedProvider);
    expectForeignValuesReadAsFallback(settings::chartShowsBurn);
    expectForeignValuesReadAsFallback(settings::notificationsEnabled);
    expectForeignValuesReadAsFallback(settings::notifyBelowPercent);
    expectForeignValuesReadAsFallback(settings::notifyCriticalPercent);
    expectForeignValuesReadAsFallback(settings::trayIconStyle);
    expectForeignValuesReadAsFallback(settings::panelAppearance);
}

TEST(SettingsTest, PanelAppearanceIsOneOfThreeNames) {
    expectReads<PanelAppearance>(settings::panelAppearance,
                                 {
                                     {"never written", std::nullopt, PanelAppearance::system},
                                     {"system", Json("system"), PanelAppearance::system},
                                     {"light", Json("light"), PanelAppearance::light},
                                     {"dark", Json("dark"), PanelAppearance::dark},
                                     {"other case", Json("Light"), PanelAppearance::system},
                                     {"number", Json(2), PanelAppearance::system},
                                 });
    expectWrites<PanelAppearance>(settings::panelAppearance,
                                  {
                                      {PanelAppearance::system, Json("system")},
                                      {PanelAppearance::light, Json("light")},
                                      {PanelAppearance::dark, Json("dark")},
                                  });
}

TEST(SettingsTest, ProviderTogglesReadOnlyAWholeDictionaryOfBooleans) {
    expectReads<ProviderToggles>(
        settings::providerToggles,
        {
            {"never written", std::nullopt, {}},
            {"empty dictionary", Json::object(), {}},
            {"toggles",
             Json({{"Claude", true}, {"Codex", false}}),
             {{"Claude", true}, {"Codex", false}}},
            // Names are kept as stored, known or not.
            {"unknown names kept",
             Json({{"claude", true}, {"Gemini", false}}),
             {{"claude", true}, {"Gemini", false}}},
            {"string", Json("Claude"), {}},
            {"number", Json(1), {}},
            {"one value not a boolean", Json({{"Claude", true}, {"Codex", "no"}}), {}},
            {"one value a number", Json({{"Claude", true}, {"Codex", 0}}), {}},
        });
    expectWrites<ProviderToggles>(
        settings::providerToggles,
        {
            {{}, Json::object()},
            {{{"Claude", true}, {"Codex", false}, {"Gemini", true}},
             Json({{"Claude", true}, {"Codex", false}, {"Gemini", true}})},
        });
}

TEST(SettingsTest, SelectedProviderIsExactlyARawValue) {
    expectReads<std::optional<ProviderKind>>(
        settings::selectedProvider,
        {
            {"never written", std::nullopt, std::nullopt},
            {"Claude", Json("Claude"), ProviderKind::claude},
            {"Antigravity", Json("Antigravity"), ProviderKind::antigravity},
            {"other case", Json("claude"), std::nullopt},
            {"unknown provider", Json("Gemini"), std::nullopt},
            {"padded", Json(" Kimi"), std::nullopt},
            {"number", Json(2), std::nullopt},
        });
    std::vector<std::pair<std::optional<ProviderKind>, Json>> writes;
    for (const ProviderKind kind : model::allProviderKinds) {
        writes.emplace_back(kind, Json(std::string(model::rawValue(kind))));
    }
    writes.emplace_back(std::nullopt, Json(nullptr));
    expectWrites(settings::selectedProvider, writes);
}

TEST(SettingsTest, BooleansReadOnlyBooleans) {
    for (const auto* setting : {&settings::chartShowsBurn, &settings::notificationsEnabled}) {
        const bool fallback = setting->fallback();
        expectReads<bool>(
            *setting, {
                          {"never written", std::nullopt, fallback},
                          {"true", Json(true), true},
                          {"false", Json(false), false},
                          {"string of the opposite", Json(fallback ? "false" : "true"), fallback},
                          {"number", Json(fallback ? 0 : 1), fallback},
                      });
        expectWrites<bool>(*setting, {{true, Json(true)}, {false, Json(false)}});
    }
    EXPECT_FALSE(settings::chartShowsBurn.fallback());
    EXPECT_TRUE(settings::notificationsEnabled.fallback());
}

TEST(SettingsTest, PercentagesAreWholeNumbersFromOneToNinetyNine) {
    for (const auto* setting : {&settings::notifyBelowPercent, &settings::notifyCriticalPercent}) {
        const int fallback = setting->fallback();
        expectReads<int>(*setting, {
                                       {"never written", std::nullopt, fallback},
                                       {"1", Json(1), 1},
                                       {"30", Json(30), 30},
                                       {"99", Json(99), 99},
                                       {"unsigned", Json(42u), 42},
                                       {"0", Json(0), fallback},
                                       {"100", Json(100), fallback},
                                       {"negative", Json(-5), fallback},
                                       {"huge", Json(std::uint64_t{1} << 63), fallback},
                                       {"fraction", Json(12.5), fallback},
                                       {"whole float", Json(30.0), fallback},
                                       {"text", Json("30"), fallback},
                                       {"boolean", Json(true), fallback},
                                   });
        expectWrites<int>(*setting, {{1, Json(1)}, {30, Json(30)}, {99, Json(99)}});
    }
    EXPECT_EQ(settings::notifyBelowPercent.fallback(), 20);
    EXPECT_EQ(settings::notifyCriticalPercent.fallback(), 5);
}

TEST(SettingsTest, TrayIconStyleIsOneOfThreeNames) {
    expectReads<TrayIconStyle>(settings::trayIconStyle,
                               {
                                   {"never written", std::nullopt, TrayIconStyle::automatic},
                                   {"automatic", Json("automatic"), TrayIconStyle::automatic},
                                   {"light", Json("light"), TrayIconStyle::light},
                                   {"dark", Json("dark"), TrayIconStyle::dark},
                                   {"other case", Json("Dark"), TrayIconStyle::automatic},
                                   {"number", Json(1), TrayIconStyle::automatic},
                               });
    expectWrites<TrayIconStyle>(settings::trayIconStyle,
                                {
                                    {TrayIconStyle::automatic, Json("automatic")},
                                    {TrayIconStyle::light, Json("light")},
                                    {TrayIconStyle::dark, Json("dark")},
                                });
}

TEST(SettingsTest, WritingOneSettingLeavesTheOthersAlone) {
    platform::MemorySettingsStore store;
    write(store, settings::notifyBelowPercent, 40);
    write(store, settings::chartShowsBurn, true);
    write(store, settings::selectedProvider, ProviderKind::kimi);
    EXPECT_EQ(read(store, settings::notifyBelowPercent), 40);
    EXPECT_EQ(read(store, settings::notifyCriticalPercent), 5);
    EXPECT_TRUE(read(store, settings::chartShowsBurn));
    EXPECT_TRUE(read(store, settings::notificationsEnabled));
    EXPECT_EQ(read(store, settings::selectedProvider), ProviderKind::kimi);
    EXPECT_FALSE(isStored(store, settings::providerToggles));
    EXPECT_FALSE(isStored(store, settings::trayIconStyle));
}

// The account settings keep what is readable of a list edited by hand or written by a later
// build, and round-trip what they wrote.
TEST(SettingsTest, AccountSettingsKeepTheirReadableEntries) {
    platform::MemorySettingsStore store;
    store.setValue(settings::accountFolders.key,
                   platform::parseJson(R"([{"provider":"Claude","path":"/home/u/.claude-work"},
                       {"provider":"Nobody","path":"/x"}, {"provider":"Codex"}, 7,
                       {"provider":"Codex","path":""},
                       {"provider":"Codex","path":"/home/u/.codex-2"}])"));
    EXPECT_EQ(read(store, settings::accountFolders),
              (AccountFolders{{model::ProviderKind::claude, "/home/u/.claude-work"},
                              {model::ProviderKind::codex, "/home/u/.codex-2"}}));
    store.setValue(settings::hiddenAccounts.key,
                   platform::parseJson(R"(["Claude#0123456789abcdef", 3, "", "Codex"])"));
    EXPECT_EQ(read(store, settings::hiddenAccounts),
              (AccountNames{"Claude#0123456789abcdef", "Codex"}));
    store.setValue(settings::accountLabels.key,
                   platform::parseJson(R"({"Claude":"личный","Codex":5,"":"x"})"));
    EXPECT_EQ(read(store, settings::accountLabels), (AccountLabels{{"Claude", "личный"}}));

    // Never more than the bound, however long the list.
    platform::Json many = platform::Json::array();
    for (int i = 0; i < 100; ++i) many.push_back("Codex#" + std::to_string(i));
    store.setValue(settings::hiddenAccounts.key, many);
    EXPECT_EQ(read(store, settings::hiddenAccounts).size(), settings::maximumAccountEntries);

    const AccountFolders folders{{model::ProviderKind::codex, "/srv/codex home"}};
    write(store, settings::accountFolders, folders);
    EXPECT_EQ(read(store, settings::accountFolders), folders);
    write(store, settings::accountLabels, AccountLabels{{"Codex#ab", "work"}});
    EXPECT_EQ(read(store, settings::accountLabels), (AccountLabels{{"Codex#ab", "work"}}));
}

}  // namespace
}  // namespace kestrane::app
