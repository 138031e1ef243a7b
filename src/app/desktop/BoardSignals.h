#pragma once

#include <memory>

#include <QObject>

#include "app/board/ProviderBoard.h"

namespace kestrane::app {

// The board's announcements as a Qt signal, for the readers on the desktop (tray icons,
// panel): each new snapshot once, as soon as the board made it.
class BoardSignals final : public QObject, public BoardObserver {
    Q_OBJECT
  public:
    using QObject::QObject;

    void boardChanged(const std::shared_ptr<const BoardSnapshot>& snapshot) override {
        emit changed(snapshot);
    }

  signals:
    void changed(const std::shared_ptr<const kestrane::app::BoardSnapshot>& snapshot);
};

}  // namespace kestrane::app
