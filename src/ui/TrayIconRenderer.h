#pragma once

#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <QRectF>

#include "model/ProviderKind.h"
#include "ui/ProviderArtwork.h"

namespace kestrane::ui {

// Draws the status item: for every enabled provider its mark and the remaining share of its
// primary window, side by side, or the app mark when no provider is enabled. Images are
// templates: drawn in black on transparent, to be tinted for the bar they sit in.
namespace TrayIconRenderer {

struct Entry {
    model::ProviderKind provider = model::ProviderKind::codex;
    // "37%", "!" or "--", as the coordinator decides.
    std::string value;
    // What the provider's own tray icon says on hover; empty for the accessibility wording.
    std::string toolTip;
    bool operator==(const Entry&) const = default;
};

struct Content {
    // Left to right.
    std::vector<Entry> entries;

    // Tool tip and accessibility label of the status item.
    std::string accessibilityText() const;
    bool operator==(const Content&) const = default;
};

// Geometry in points (device-independent pixels).
inline constexpr double height = 18;
inline constexpr double slotWidth = 39;
inline constexpr double fontSize = 9;

// Where one slot draws, in the image's own coordinates (origin top left, y downwards).
struct SlotLayout {
    QRectF markRect;
    // Left end of the value text's baseline.
    QPointF textBaseline;
};
SlotLayout slotLayout(int index);
QSizeF size(const Content& content);

// The whole badge as one wide image, as shown where a status item may be as wide as it
// needs. Crisp at `devicePixelRatio` (the image carries that ratio).
QImage make(const Content& content, qreal devicePixelRatio = 1,
            const ProviderArtwork::Set& artwork = ProviderArtwork::shared());

// One square tray icon of `pixelSize` pixels for one entry: the mark above, the value below,
// both as large as the square allows inside an empty margin of trayIconMargin columns at
// each side. Trays that give every icon a square slot show one of
// these per entry instead of squeezing the wide badge.
int trayIconMargin(int pixelSize);
QImage makeTrayIcon(const Entry& entry, int pixelSize,
                    const ProviderArtwork::Set& artwork = ProviderArtwork::shared());
// The square sizes, in device pixels, the tray icons are drawn at on a screen of that scale
// (device pixels per point), smallest first: every usual tray height from 16 to 64 points at
// that scale, so that whatever height the tray has, one icon is at least as tall and at most a
// third taller: the tray shrinks it a little to fill its height, never enlarges a smaller one.
// Each is handed over with `scale` as its pixel ratio, so a tray asking for 22 points at 1.5
// gets the icon drawn at 33 pixels, not one drawn at 32 and stretched.
std::vector<int> trayIconPixelSizes(qreal scale);
// The square icon shown when no provider is enabled: the app mark alone.
QImage makeAppTrayIcon(int pixelSize,
                       const ProviderArtwork::Set& artwork = ProviderArtwork::shared());

// A template image recoloured: every pixel takes `color`, keeping its coverage.
QImage tinted(const QImage& templateImage, const QColor& color);

}  // namespace TrayIconRenderer

}  // namespace kestrane::ui
