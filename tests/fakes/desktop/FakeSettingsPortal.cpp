// A stand-in for the XDG desktop portal's Settings interface on a private session bus, for the
// whole-application tray tests: answers Read and ReadOne for org.freedesktop.appearance /
// color-scheme with the value given on the command line, and changes it (sending
// SettingChanged) when its test-only SetColorScheme(u) method is called.
//
// usage: fake_settings_portal <0|1|2>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settings = QStringLiteral("org.freedesktop.portal.Settings");
const QString control = QStringLiteral("io.github.kestrane.FakePortal");

class Portal final : public QDBusVirtualObject {
  public:
    explicit Portal(uint scheme) : scheme_(scheme) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QList<QVariant> arguments = message.arguments();
        QDBusConnection bus(connection);
        if (message.interface() == control &&
            message.member() == QStringLiteral("SetColorScheme") && arguments.size() == 1) {
            scheme_ = arguments[0].toUInt();
            QDBusMessage changed =
                QDBusMessage::createSignal(path, settings, QStringLiteral("SettingChanged"));
            changed << QStringLiteral("org.freedesktop.appearance")
                    << QStringLiteral("color-scheme")
                    << QVariant::fromValue(QDBusVariant(QVariant::fromValue(scheme_)));
            bus.send(changed);
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() != settings || arguments.size() != 2) return false;
        const bool known =
            arguments[0].toString() == QStringLiteral("org.freedesktop.appearance") &&
            arguments[1].toString() == QStringLiteral("color-scheme");
        if (!known) {
            bus.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                         QStringLiteral("no such setting")));
            return true;
        }
        const QDBusVariant value(QVariant::fromValue(scheme_));
        if (message.member() == QStringLiteral("ReadOne")) {
            bus.send(message.createReply(QVariant::fromValue(value)));
            return true;
        }
        if (message.member() == QStringLiteral("Read")) {
            // The first version of the interface wraps the value in one more variant.
            bus.send(
                message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(value)))));
            return true;
        }
        return false;
    }

  private:
    uint scheme_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    Portal portal(argc > 1 ? QString::fromLocal8Bit(argv[1]).toUInt() : 0);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerVirtualObject(path, &portal) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fputs("fake portal: no session bus\n", stderr);
        return 1;
    }
    return QCoreApplication::exec();
}
