#pragma once

#include <optional>

#include <QObject>
#include <QRect>

#include "ui/TrayIconRenderer.h"

namespace kestrane::app {

// The status item as the coordinator sees it: something that shows the badge, reports where
// it is, and tells about clicks.
class TrayIcons : public QObject {
    Q_OBJECT
  public:
    ~TrayIcons() override = default;

    // Draws the badge and sets the tool tip and accessibility label.
    virtual void show(const ui::TrayIconRenderer::Content& content) = 0;
    // Where the item is on screen (global coordinates), when the system tells.
    virtual std::optional<QRect> geometry() const = 0;
    // Whether a tray exists; it may turn up later, and then shows what was last given.
    virtual bool isAvailable() const = 0;

    // The screens of the panel the menu opens.
    enum class Screen { overview, services, settings };

  signals:
    // A left click.
    void clicked();
    // A tray turned up after the start (isAvailable is true from now on).
    void becameAvailable();
    // The context menu (right click) is about to show.
    void menuWillShow();
    // The menu asked for a screen of the panel ("Показать лимиты", "Локальные сервисы",
    // "Настройки").
    void screenRequested(kestrane::app::TrayIcons::Screen screen);
    // "Обновить" in the menu, or a middle click.
    void refreshRequested();
    // "Выйти из Kestrane" was chosen.
    void quitRequested();
};

}  // namespace kestrane::app
