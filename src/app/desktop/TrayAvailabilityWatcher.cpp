#include "app/desktop/TrayAvailabilityWatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace kestrane::app {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

}  // namespace

TrayAvailabilityWatcher::TrayAvailabilityWatcher(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        serviceWatcher_ = new QDBusServiceWatcher(watcherService, bus,
                                                  QDBusServiceWatcher::WatchForRegistration, this);
        connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
                &TrayAvailabilityWatcher::check);
        // A host registers with the watcher a moment after the watcher appears.
        bus.connect(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(check()));
    }
    poll_.setInterval(pollInterval);
    poll_.setTimerType(Qt::CoarseTimer);
    connect(&poll_, &QTimer::timeout, this, &TrayAvailabilityWatcher::check);
    check();
    if (!available_) poll_.start();
}

TrayAvailabilityWatcher::~TrayAvailabilityWatcher() = default;

bool TrayAvailabilityWatcher::statusNotifierHostRegistered() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(watcherService).value()) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void TrayAvailabilityWatcher::check() {
    if (available_) return;
    bool found = false;
    if (statusNotifierHostRegistered()) {
        found = QSystemTrayIcon::isSystemTrayAvailable();
    } else if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        // On X11 an XEmbed tray will do; asking Qt settles on it for this process.
        found = QSystemTrayIcon::isSystemTrayAvailable();
    }
    if (!found) return;
    available_ = true;
    poll_.stop();
    emit appeared();
}

}  // namespace kestrane::app
