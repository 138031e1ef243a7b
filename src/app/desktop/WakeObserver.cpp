#include "app/desktop/WakeObserver.h"

#include <QDBusConnection>

namespace kestrane::app {

namespace {

const QString service = QStringLiteral("org.freedesktop.login1");
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString interface = QStringLiteral("org.freedesktop.login1.Manager");
const QString signalName = QStringLiteral("PrepareForSleep");

}  // namespace

WakeObserver::WakeObserver() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    connected_ =
        bus.connect(service, path, interface, signalName, this, SLOT(prepareForSleep(bool)));
}

WakeObserver::~WakeObserver() {
    if (connected_) {
        QDBusConnection::systemBus().disconnect(service, path, interface, signalName, this,
                                                SLOT(prepareForSleep(bool)));
    }
}

void WakeObserver::prepareForSleep(bool sleeping) {
    if (!sleeping) emit woke();
}

}  // namespace kestrane::app
