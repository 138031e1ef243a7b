#pragma once

#include <QAbstractButton>

namespace kestrane::ui {

// What every flat button of the panel shares: it knows whether the pointer is over it and
// repaints when that, its palette or its enabled state changes, and Enter or Return presses
// it as Space does. Subclasses only paint.
class HoverButton : public QAbstractButton {
    Q_OBJECT
  public:
    using QAbstractButton::QAbstractButton;

    bool isHovered() const { return hovered_; }

  protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    bool hovered_ = false;
};

}  // namespace kestrane::ui
