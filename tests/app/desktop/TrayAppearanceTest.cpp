#include <QDBusVariant>
#include <QPalette>

#include <gtest/gtest.h>

#include "app/desktop/ColorSchemeWatcher.h"
#include "app/desktop/TrayToolTip.h"
#include "model/ProviderUsage.h"

namespace kestrane::app {
namespace {

using Scheme = ColorSchemeWatcher::Scheme;

QPalette paletteWithWindow(QColor window) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    return palette;
}

TEST(TrayAppearanceTest, IconsTakeTheUsersTintThenThePortalsSchemeThenThePalette) {
    const QColor light = QColor::fromRgba(ColorSchemeWatcher::lightIcon);
    const QColor dark = QColor::fromRgba(ColorSchemeWatcher::darkIcon);
    const QPalette lightPalette = paletteWithWindow(QColor(0xef, 0xef, 0xef));
    const QPalette darkPalette = paletteWithWindow(QColor(0x2a, 0x2a, 0x2a));
    const struct {
        const char* name;
        TrayIconStyle style;
        std::optional<Scheme> portal;
        const QPalette& palette;
        QColor expected;
    } cases[] = {
        {"user light beats a light portal", TrayIconStyle::light, Scheme::light, lightPalette,
         light},
        {"user dark beats a dark portal", TrayIconStyle::dark, Scheme::dark, darkPalette, dark},
        {"portal dark on a light palette", TrayIconStyle::automatic, Scheme::dark, lightPalette,
         light},
        {"portal light on a dark palette", TrayIconStyle::automatic, Scheme::light, darkPalette,
         dark},
        {"portal without preference: dark palette", TrayIconStyle::automatic, Scheme::noPreference,
         darkPalette, light},
        {"no portal: light palette", TrayIconStyle::automatic, std::nullopt, lightPalette, dark},
        {"no portal: dark palette", TrayIconStyle::automatic, std::nullopt, darkPalette, light},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(ColorSchemeWatcher::iconColor(testCase.style, testCase.portal, testCase.palette),
                  testCase.expected);
    }
}

TEST(TrayAppearanceTest, PortalValuesAreReadThroughAnyWrappingAndOthersRefused) {
    const QVariant once = QVariant::fromValue(QDBusVariant(QVariant::fromValue(1u)));
    const QVariant twice = QVariant::fromValue(QDBusVariant(once));
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(QVariant::fromValue(2u)), Scheme::light);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(once), Scheme::dark);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(twice), Scheme::dark);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(QVariant::fromValue(0u)), Scheme::noPreference);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(QVariant::fromValue(3u)), std::nullopt);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(QVariant(QStringLiteral("1"))), std::nullopt);
    EXPECT_EQ(ColorSchemeWatcher::schemeFromValue(QVariant()), std::nullopt);
}

TEST(TrayAppearanceTest, ToolTipSpeaksForItsOwnProvider) {
    const platform::Calendar moscow("Europe/Moscow");
    model::ProviderUsage usage;
    usage.provider = model::ProviderKind::claude;
    usage.windows.push_back({.id = "claude-session",
                             .name = "Сессия",
                             .usedPercent = 63,
                             .durationMinutes = 300,
                             .resetsAt = platform::Date{1'765'368'000}});
    model::ProviderUsage noReset = usage;
    noReset.windows.front().resetsAt.reset();
    model::ProviderUsage noWindows = usage;
    noWindows.windows.clear();
    const std::string failure = "Claude отвечает 429: слишком много запросов.";
    const struct {
        const char* name;
        std::string value;
        std::optional<model::ProviderUsage> usage;
        std::optional<std::string> error;
        std::string expected;
    } cases[] = {
        {"usage", "37%", usage, std::nullopt,
         "Claude: осталось 37% (Сессия - 5 часов)\nСброс 10 дек., 15:00"},
        {"usage without reset", "37%", noReset, std::nullopt,
         "Claude: осталось 37% (Сессия - 5 часов)\nВремя сброса не указано сервисом"},
        {"kept usage and a failure", "37%", usage, failure,
         "Claude: осталось 37% (Сессия - 5 часов)\nСброс 10 дек., 15:00\n" + failure},
        {"only a failure", "!", std::nullopt, failure, "Claude: " + failure},
        {"nothing yet", "--", std::nullopt, std::nullopt, "Claude: нет данных"},
        {"no windows", "--", noWindows, std::nullopt, "Claude: нет данных"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(trayToolTip(model::ProviderKind::claude, testCase.value, testCase.usage,
                              testCase.error, moscow),
                  testCase.expected);
    }
}

}  // namespace
}  // namespace kestrane::app
