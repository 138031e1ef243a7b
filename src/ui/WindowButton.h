#pragma once

#include "ui/HoverButton.h"

namespace kestrane::ui {

// One of the provider's other quota windows under the chart: its period on the left, what is
// left of it on the right. Clicking shows that window's history.
class WindowButton : public HoverButton {
    Q_OBJECT
  public:
    WindowButton(int windowIndex, QString windowTitle, QString value, QWidget* parent = nullptr);

    int windowIndex() const { return windowIndex_; }
    const QString& windowTitle() const { return windowTitle_; }
    const QString& value() const { return value_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int windowIndex_;
    QString windowTitle_;
    QString value_;
};

}  // namespace kestrane::ui
