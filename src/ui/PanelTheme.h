#pragma once

#include <optional>

#include <QColor>
#include <QPalette>
#include <QString>

#include "app/settings/Settings.h"

class QWidget;

namespace kestrane::ui {

// A colour with one value for light and one for dark surroundings, resolved when drawing
// from the palette in effect, so a change of the system palette recolours without rebuilding.
class NamedColor {
  public:
    NamedColor(QString name, QRgb light, QRgb dark)
        : name_(std::move(name)), light_(light), dark_(dark) {}

    const QString& name() const { return name_; }
    QColor resolve(bool dark) const { return QColor::fromRgb(dark ? dark_ : light_); }
    QColor resolve(const QPalette& palette) const;
    QColor resolve(const QWidget& widget) const;

  private:
    QString name_;
    QRgb light_;
    QRgb dark_;
};

// The panel's palette of named colours.
namespace PanelTheme {

// Dark when the palette's window background is darker than its text, which is how a dark
// system palette shows itself on every toolkit theme we meet.
bool isDark(const QPalette& palette);

// Whether the panel is dark: the user's choice, else the desktop's stated preference (the
// portal's colour scheme; nothing when it states none), else the palette.
bool isDark(app::PanelAppearance choice, std::optional<bool> desktopPrefersDark,
            const QPalette& palette);

// A palette of the panel's own colours, light or dark, over `base`. Set on the panel's window,
// every surface below it resolves its colours for that appearance and is told by a
// PaletteChange, so a change recolours the open panel without building it again.
QPalette palette(bool dark, QPalette base = QPalette());

// A colour named "Kestrane." + `name`.
NamedColor color(const QString& name, QRgb light, QRgb dark);

const NamedColor& background();
const NamedColor& card();
const NamedColor& panel();
const NamedColor& information();
const NamedColor& separator();
const NamedColor& text();
const NamedColor& muted();
const NamedColor& track();
const NamedColor& warning();
const NamedColor& running();
// Further names for the same colour objects.
inline const NamedColor& lightText() { return text(); }
inline const NamedColor& darkText() { return text(); }
inline const NamedColor& darkMuted() { return muted(); }

}  // namespace PanelTheme

}  // namespace kestrane::ui
