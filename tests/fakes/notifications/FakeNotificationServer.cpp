// A stand-in for a desktop's notification server on a private session bus: it owns
// org.freedesktop.Notifications and appends every Notify call to a file, one line each:
// application name, icon, summary and body, separated by tabs. Prints "ready" once the name
// is owned.
//
// usage: fake_notification_server <record file>
#include <cstdio>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QStringList>
#include <QVariant>

namespace {

class Recorder final : public QDBusVirtualObject {
  public:
    explicit Recorder(QString path) : path_(std::move(path)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QStringLiteral("org.freedesktop.Notifications")) return false;
        const QString member = message.member();
        if (member == QStringLiteral("Notify")) {
            const QList<QVariant> arguments = message.arguments();
            if (arguments.size() != 8) {
                connection.send(message.createErrorReply(QDBusError::InvalidArgs, "8 arguments"));
                return true;
            }
            QFile file(path_);
            if (file.open(QIODevice::Append)) {
                const QStringList fields{arguments[0].toString(), arguments[2].toString(),
                                         arguments[3].toString(), arguments[4].toString()};
                file.write((fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
            }
            connection.send(message.createReply(QVariant::fromValue(++lastID_)));
            return true;
        }
        if (member == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(QStringList{QStringLiteral("body")}));
            return true;
        }
        if (member == QStringLiteral("GetServerInformation")) {
            connection.send(message.createReply(
                QList<QVariant>{QStringLiteral("fake"), QStringLiteral("kestrane-tests"),
                                QStringLiteral("1"), QStringLiteral("1.2")}));
            return true;
        }
        return false;
    }

  private:
    QString path_;
    uint lastID_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) return 2;
    QDBusConnection bus = QDBusConnection::sessionBus();
    Recorder recorder(QString::fromLocal8Bit(argv[1]));
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
