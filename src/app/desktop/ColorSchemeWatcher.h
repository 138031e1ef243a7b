#pragma once

#include <optional>

#include <QColor>
#include <QObject>
#include <QPalette>

#include "app/settings/Settings.h"

class QDBusMessage;

namespace kestrane::app {

// The desktop's light or dark preference, as far as anyone tells: the XDG desktop portal's
// `org.freedesktop.appearance` / `color-scheme` setting (read at start, then followed through
// its SettingChanged signal), else the application palette. Says `changed` whenever either
// moves, so the tray icons are drawn again. Without a session bus or a portal nothing fails;
// the palette is all there is.
class ColorSchemeWatcher final : public QObject {
    Q_OBJECT
  public:
    // The portal's values: 0 no preference, 1 prefers dark, 2 prefers light.
    enum class Scheme { noPreference = 0, dark = 1, light = 2 };

    explicit ColorSchemeWatcher(QObject* parent = nullptr);
    ~ColorSchemeWatcher() override;

    // What the portal said last; nothing before it answered or without a portal.
    std::optional<Scheme> portalScheme() const { return portalScheme_; }
    // Whether the portal asks for dark: nothing when it states no preference or is absent.
    std::optional<bool> prefersDark() const { return prefersDark(portalScheme_); }
    static std::optional<bool> prefersDark(std::optional<Scheme> scheme);

    // The icon colour for a panel described by the user's choice, then the portal, then the
    // palette: light icons on a dark panel and dark ones on a light panel.
    static QColor iconColor(TrayIconStyle style, std::optional<Scheme> portalScheme,
                            const QPalette& palette);
    static constexpr QRgb lightIcon = 0xFFFFFFFF;
    static constexpr QRgb darkIcon = 0xFF19191B;

    // A portal value as a scheme; nothing for a value that is not one.
    static std::optional<Scheme> schemeFromValue(const QVariant& value);

  signals:
    void changed();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private slots:
    // The signal's three arguments (group, key, value) read from the message itself: a slot
    // taking them typed does not connect for a variant argument.
    void settingChanged(const QDBusMessage& message);

  private:
    void read(const QString& method);
    void setScheme(std::optional<Scheme> scheme);

    std::optional<Scheme> portalScheme_;
};

}  // namespace kestrane::app
