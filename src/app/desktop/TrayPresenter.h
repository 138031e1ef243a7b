#pragma once

#include <memory>
#include <optional>

#include <QObject>

#include "app/board/ProviderBoard.h"
#include "app/desktop/TrayIcons.h"
#include "ui/TrayIconRenderer.h"

namespace kestrane::app {

// The board on the tray icons: one entry per enabled provider with the figure of the window
// its icon shows ("37%", "!", "--") and its tool tip, handed to the icons only when that
// changed. While held (the floating panel is open beside the icons) nothing is redrawn; the
// last board is drawn once the hold ends.
class TrayPresenter final : public QObject {
    Q_OBJECT
  public:
    explicit TrayPresenter(TrayIcons& icons, QObject* parent = nullptr);

    // A new board.
    void show(const std::shared_ptr<const BoardSnapshot>& snapshot);
    void setHeld(bool held);
    // Draws the last board again, unless the icons already show it.
    void redraw();

    const std::optional<ui::TrayIconRenderer::Content>& lastContent() const { return shown_; }

    // What the icons show for a board.
    static ui::TrayIconRenderer::Content contentOf(const BoardSnapshot& snapshot);

  private:
    TrayIcons& icons_;
    std::shared_ptr<const BoardSnapshot> snapshot_;
    std::optional<ui::TrayIconRenderer::Content> shown_;
    bool held_ = false;
    bool pending_ = false;
};

}  // namespace kestrane::app
