#include "app/desktop/ColorSchemeWatcher.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QPointer>

namespace kestrane::app {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// Read (the portal's first version) wraps the value in one more variant than ReadOne.
QVariant unwrapped(QVariant value) {
    for (int depth = 0; depth < 4 && value.canConvert<QDBusVariant>(); ++depth) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

}  // namespace

ColorSchemeWatcher::ColorSchemeWatcher(QObject* parent) : QObject(parent) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QDBusMessage)));
    read(QStringLiteral("ReadOne"));
}

ColorSchemeWatcher::~ColorSchemeWatcher() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

void ColorSchemeWatcher::read(const QString& method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, method);
    call << appearanceGroup << colorSchemeKey;
    // A portal that is not running must not hold anything up: the answer comes when it comes.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusMessage reply = finished->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    setScheme(schemeFromValue(reply.arguments().constFirst()));
                } else if (method == QStringLiteral("ReadOne") &&
                           reply.errorName() ==
                               QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
                    // Portals before version 2 know only Read.
                    read(QStringLiteral("Read"));
                }
            });
}

void ColorSchemeWatcher::settingChanged(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 3 || arguments[0].toString() != appearanceGroup ||
        arguments[1].toString() != colorSchemeKey) {
        return;
    }
    setScheme(schemeFromValue(arguments[2]));
}

void ColorSchemeWatcher::setScheme(std::optional<Scheme> scheme) {
    if (scheme == portalScheme_) return;
    portalScheme_ = scheme;
    emit changed();
}

bool ColorSchemeWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange) {
        emit changed();
    }
    return QObject::eventFilter(watched, event);
}

std::optional<ColorSchemeWatcher::Scheme> ColorSchemeWatcher::schemeFromValue(
    const QVariant& value) {
    const QVariant plain = unwrapped(value);
    // The portal sends an unsigned 32-bit number; anything else is not a scheme.
    switch (plain.metaType().id()) {
        case QMetaType::UInt:
        case QMetaType::Int:
        case QMetaType::UChar:
        case QMetaType::UShort:
        case QMetaType::Short:
            break;
        default:
            return std::nullopt;
    }
    bool ok = false;
    const uint number = plain.toUInt(&ok);
    if (!ok || number > 2) return std::nullopt;
    return static_cast<Scheme>(number);
}

std::optional<bool> ColorSchemeWatcher::prefersDark(std::optional<Scheme> scheme) {
    if (scheme == Scheme::dark) return true;
    if (scheme == Scheme::light) return false;
    return std::nullopt;
}

QColor ColorSchemeWatcher::iconColor(TrayIconStyle style, std::optional<Scheme> portalScheme,
                                     const QPalette& palette) {
    switch (style) {
        case TrayIconStyle::light:
            return QColor::fromRgba(lightIcon);
        case TrayIconStyle::dark:
            return QColor::fromRgba(darkIcon);
        case TrayIconStyle::automatic:
            break;
    }
    if (portalScheme == Scheme::dark) return QColor::fromRgba(lightIcon);
    if (portalScheme == Scheme::light) return QColor::fromRgba(darkIcon);
    // Panels follow the desktop's palette: a dark window colour means a dark panel.
    const bool darkPanel = palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
    return QColor::fromRgba(darkPanel ? lightIcon : darkIcon);
}

}  // namespace kestrane::app
