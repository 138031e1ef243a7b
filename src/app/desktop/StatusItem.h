#pragma once

#include <functional>
#include <optional>

#include <QRect>

#include "ui/MenuBarBadgeRenderer.h"

namespace kestrane::app {

// The status item as the coordinator sees it: something that shows the badge, reports where
// it is, and tells about clicks.
class StatusItem {
  public:
    virtual ~StatusItem() = default;

    // Draws the badge and sets the tool tip and accessibility label.
    virtual void show(const ui::MenuBarBadgeRenderer::Content& content) = 0;
    // Where the item is on screen (global coordinates), when the system tells.
    virtual std::optional<QRect> geometry() const = 0;
    // Whether a tray exists; it may turn up later, and then shows what was last given.
    virtual bool isAvailable() const = 0;

    // A left click.
    std::function<void()> onClick;
    // The context menu (right click) is about to show.
    std::function<void()> onMenuWillShow;
    // "Выйти из Kestrane" was chosen.
    std::function<void()> onQuit;
};

}  // namespace kestrane::app
