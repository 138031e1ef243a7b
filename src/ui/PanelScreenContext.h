#pragma once

#include <QObject>
#include <QString>

#include "model/ProviderKind.h"
#include "platform/Calendar.h"
#include "platform/Date.h"

class QWidget;

namespace kestrane::ui {

// What the controls of the panel's screens ask for. Screens only emit these; the panel
// content acts on them, so a screen never holds a pointer back into its owner.
class PanelActions : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  signals:
    void toggleMode();
    void providerSelected(int segment);
    void windowSelected(int index);
    void otherWindowSelected(int index);
    void chartStyleSelected(int segment);
    void toggleAccountDetails();
    void refreshServices();
    void stopService(const QString& serviceID);
    void providerToggled(kestrane::model::ProviderKind provider, bool isOn);
    void notificationsToggled(bool isOn);
    void notifyBelowSelected(int percent);
    void notifyCriticalSelected(int percent);
    // Settings of the program on the desktop.
    void trayIconStyleSelected(int segment);
    void panelAppearanceSelected(int segment);
    void startAtLoginToggled(bool isOn);
};

// What a screen needs besides the state it shows. Screens only read; every change goes
// through the actions.
struct PanelScreenContext {
    // The widget screens are built in: fonts and colours come from it.
    QWidget& owner;
    const platform::Calendar& calendar;
    // The one instant a screen is built for.
    platform::Date now;
    PanelActions& actions;
};

}  // namespace kestrane::ui
