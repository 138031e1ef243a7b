#include "app/desktop/QSettingsStore.h"

#include <QSettings>

#include <gtest/gtest.h>

#include "app/settings/Settings.h"
#include "support/TempDirectory.h"

namespace kestrane::app {
namespace {

using model::ProviderKind;

// A settings file as earlier builds left it, every preference set to something other than
// its fallback.
constexpr const char* earlierFile = R"([General]
chartShowsBurn=true
notificationsEnabled=false
notifyBelowPercent=30
notifyCriticalPercent=10
providerTogglesV1="{\"Claude\":true,\"Codex\":false,\"Gemini\":true}"
selectedProvider="\"Kimi\""
trayIconStyle="\"dark\""
)";

TEST(QSettingsStoreTest, AFileOfAnEarlierBuildReadsAndIsWrittenTheSameWay) {
    const testing::TempDirectory folder;
    const auto earlier = folder.write("earlier/Kestrane.conf", earlierFile);
    const QSettingsStore stored(QString::fromStdString(earlier.string()));

    EXPECT_TRUE(read(stored, settings::chartShowsBurn));
    EXPECT_FALSE(read(stored, settings::notificationsEnabled));
    EXPECT_EQ(read(stored, settings::notifyBelowPercent), 30);
    EXPECT_EQ(read(stored, settings::notifyCriticalPercent), 10);
    EXPECT_EQ(read(stored, settings::providerToggles),
              (ProviderToggles{{"Claude", true}, {"Codex", false}, {"Gemini", true}}));
    EXPECT_EQ(read(stored, settings::selectedProvider), ProviderKind::kimi);
    EXPECT_EQ(read(stored, settings::trayIconStyle), TrayIconStyle::dark);

    // The same values written now give the same text under every key.
    const auto now = folder.path() / "now/Kestrane.conf";
    {
        QSettingsStore written(QString::fromStdString(now.string()));
        write(written, settings::chartShowsBurn, true);
        write(written, settings::notificationsEnabled, false);
        write(written, settings::notifyBelowPercent, 30);
        write(written, settings::notifyCriticalPercent, 10);
        write(written, settings::providerToggles,
              {{"Claude", true}, {"Codex", false}, {"Gemini", true}});
        write(written, settings::selectedProvider, ProviderKind::kimi);
        write(written, settings::trayIconStyle, TrayIconStyle::dark);
    }
    const QSettings earlierText(QString::fromStdString(earlier.string()), QSettings::IniFormat);
    const QSettings nowText(QString::fromStdString(now.string()), QSettings::IniFormat);
    for (const std::string_view key : settings::allKeys) {
        SCOPED_TRACE(key);
        const QString name = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
        EXPECT_EQ(nowText.value(name).toString().toStdString(),
                  earlierText.value(name).toString().toStdString());
    }
}

}  // namespace
}  // namespace kestrane::app
