#pragma once

#include <QComboBox>

namespace kestrane::ui {

// The window pop-up: borderless, its title in the muted tint with a small chevron after it;
// the list itself is the toolkit's.
class WindowChooser : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static constexpr int chevronGap = 4;
    static constexpr int chevronSide = 8;
};

}  // namespace kestrane::ui
