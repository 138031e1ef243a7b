#pragma once

#include <QString>

#include "ui/PanelButton.h"

namespace kestrane::ui {

// The stop button of one service card; it carries the id of the row it stops, so a click
// after the list changed finds the row afresh (or nothing).
class LocalServiceStopButton : public PanelButton {
    Q_OBJECT
  public:
    LocalServiceStopButton(const QString& title, QString serviceID, QWidget* parent = nullptr);

    const QString& serviceID() const { return serviceID_; }

  private:
    QString serviceID_;
};

}  // namespace kestrane::ui
