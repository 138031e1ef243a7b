#pragma once

#include <memory>
#include <vector>

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/desktop/TrayAvailabilityWatcher.h"
#include "app/desktop/TrayIcons.h"

namespace kestrane::app {

// The status item on Linux trays. A tray gives every icon a square slot and squeezes a wide
// image into it, so each badge entry gets its own icon (mark above, value below), in badge
// order; every icon has the same clicks and the same menu, and its own provider's tool tip.
// The menu is the whole program for hosts that open it on a left click (GNOME's AppIndicator
// extension): the limits first, a refresh, the services, the settings, and quitting; a middle
// click refreshes.
//
// On StatusNotifierItem hosts Qt gives every icon the application's name as its Id and Title
// and offers no way to change either; the provider shows in the tool tip's title, which is
// the icon's own.
// Icons are made only once a tray exists (see TrayAvailabilityWatcher); until then the
// content is kept, and shown when one appears.
class SystemTrayIcons final : public TrayIcons {
    Q_OBJECT
  public:
    // `iconColor` is asked on every drawing: the colour that stands out on the panel.
    explicit SystemTrayIcons(std::function<QColor()> iconColor);
    ~SystemTrayIcons() override;

    void show(const ui::TrayIconRenderer::Content& content) override;
    std::optional<QRect> geometry() const override;
    bool isAvailable() const override;
    // Draws the icons again, for a new colour.
    void redraw();

    // The icon images for one content, one per tray icon, at `pixelSize` (for tests).
    static std::vector<QImage> iconImages(const ui::TrayIconRenderer::Content& content,
                                          int pixelSize, const QColor& color);

  private:
    void setIconCount(std::size_t count);
    void apply();
    // Trays differ in where a new icon goes (trayer puts it first, others last): once the
    // tray has placed the icons, entries are handed out by the icons' actual positions.
    void matchEntriesToPositions(int attemptsLeft);
    void trayAppeared();
    // XEmbed trays: Qt asks for a 22-point square window per icon and the tray gives it the
    // tray's height but keeps the width asked for, so a square icon was drawn as tall as that
    // width (33 pixels in a 46-pixel tray at a scale of 1.5). The icon windows ask to be as
    // wide as they are tall once the tray has sized them.
    void squareXEmbedIcons();
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::function<QColor()> iconColor_;
    TrayAvailabilityWatcher tray_;
    QMenu menu_;
    std::vector<std::unique_ptr<QSystemTrayIcon>> icons_;
    std::optional<ui::TrayIconRenderer::Content> content_;
    // Entry i is shown by icons_[iconForEntry_[i]].
    std::vector<std::size_t> iconForEntry_;
};

}  // namespace kestrane::app
