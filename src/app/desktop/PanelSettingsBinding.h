#pragma once

#include <optional>
#include <string>

#include <QObject>

#include "app/settings/ProviderPreferences.h"
#include "app/settings/StartAtLogin.h"
#include "platform/SettingsStore.h"
#include "ui/PanelContent.h"

namespace kestrane::app {

// Keeps an open panel and the stored settings in step: hands the panel what the store holds
// (and whether the program starts at login) and stores what the user chooses on it. The
// tray icons' tint and the panel's look are told on, since others draw with them. A child
// of the panel, so it goes with it.
class PanelSettingsBinding final : public QObject {
    Q_OBJECT
  public:
    // Without `startAtLogin` the settings offer no such switch.
    PanelSettingsBinding(ui::PanelContent& panel, platform::SettingsStore& store,
                         const StartAtLogin* startAtLogin);

    // What the store holds, as the panel shows it.
    ui::PanelSettings current() const;

  signals:
    void trayIconStyleChanged();
    void panelAppearanceChanged();

  private:
    void startAtLoginChosen(bool isOn);
    void update();

    ui::PanelContent& panel_;
    ProviderPreferences preferences_;
    const StartAtLogin* startAtLogin_;
    // Why the last change of starting at login failed.
    std::optional<std::string> startAtLoginError_;
};

}  // namespace kestrane::app
