#include "ui/PanelTheme.h"

#include <QWidget>

namespace kestrane::ui {

QColor NamedColor::resolve(const QPalette& palette) const {
    return resolve(PanelTheme::isDark(palette));
}

QColor NamedColor::resolve(const QWidget& widget) const { return resolve(widget.palette()); }

namespace PanelTheme {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

bool isDark(app::PanelAppearance choice, std::optional<bool> desktopPrefersDark,
            const QPalette& palette) {
    switch (choice) {
        case app::PanelAppearance::light:
            return false;
        case app::PanelAppearance::dark:
            return true;
        case app::PanelAppearance::system:
            break;
    }
    if (desktopPrefersDark) return *desktopPrefersDark;
    return isDark(palette);
}

QPalette palette(bool dark, QPalette base) {
    const auto set = [&base, dark](QPalette::ColorRole role, const NamedColor& color) {
        base.setColor(role, color.resolve(dark));
    };
    set(QPalette::Window, background());
    set(QPalette::WindowText, text());
    set(QPalette::Base, card());
    set(QPalette::AlternateBase, panel());
    set(QPalette::Text, text());
    set(QPalette::Button, panel());
    set(QPalette::ButtonText, text());
    set(QPalette::ToolTipBase, card());
    set(QPalette::ToolTipText, text());
    set(QPalette::PlaceholderText, muted());
    set(QPalette::Highlight, information());
    set(QPalette::HighlightedText, background());
    set(QPalette::Light, card());
    set(QPalette::Midlight, panel());
    set(QPalette::Mid, separator());
    set(QPalette::Dark, track());
    base.setColor(QPalette::Disabled, QPalette::WindowText, muted().resolve(dark));
    base.setColor(QPalette::Disabled, QPalette::Text, muted().resolve(dark));
    base.setColor(QPalette::Disabled, QPalette::ButtonText, muted().resolve(dark));
    return base;
}

NamedColor color(const QString& name, QRgb light, QRgb dark) {
    return NamedColor(QStringLiteral("Kestrane.") + name, light, dark);
}

#define KESTRANE_NAMED_COLOR(function, light, dark)                                    \
    const NamedColor& function() {                                                     \
        static const NamedColor value = color(QStringLiteral(#function), light, dark); \
        return value;                                                                  \
    }

KESTRANE_NAMED_COLOR(background, 0xF4F3EE, 0x222322)
KESTRANE_NAMED_COLOR(card, 0xFFFFFF, 0x414340)
KESTRANE_NAMED_COLOR(panel, 0xE4E5DF, 0x30332F)
KESTRANE_NAMED_COLOR(information, 0x376E67, 0x96C6BC)
KESTRANE_NAMED_COLOR(separator, 0xDADCD5, 0x454842)
KESTRANE_NAMED_COLOR(text, 0x19191B, 0xF6F5F3)
KESTRANE_NAMED_COLOR(muted, 0x62665F, 0xADB3AA)
KESTRANE_NAMED_COLOR(track, 0xDDE0D7, 0x454A42)
KESTRANE_NAMED_COLOR(warning, 0xA23B19, 0xF5A078)
KESTRANE_NAMED_COLOR(running, 0x37715A, 0x87C6A6)

#undef KESTRANE_NAMED_COLOR

}  // namespace PanelTheme

}  // namespace kestrane::ui
