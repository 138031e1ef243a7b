#include "app/desktop/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace kestrane::app {

void DesktopNotifications::send(const UsageNotification& notification) const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    // Lets the server group the notifications under the application.
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(iconName));
    call << QStringLiteral("Kestrane") << 0u << QString::fromLatin1(iconName)
         << QString::fromStdString(notification.title) << QString::fromStdString(notification.body)
         << QStringList() << hints << -1;  // the server's own display time
    // No reply is awaited: a missing server answers with an error nobody needs to see.
    call.setAutoStartService(true);
    bus.send(call);
}

}  // namespace kestrane::app
