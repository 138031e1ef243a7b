#pragma once

#include <QWidget>

namespace kestrane::ui {

// The panel's translucent background: a rounded (radius 18) sheet of the menu material over
// whatever lies behind the window. Needs a window with a translucent background.
class QuotaBackdropView : public QWidget {
    Q_OBJECT
  public:
    static constexpr qreal cornerRadius = 18;
    explicit QuotaBackdropView(QWidget* parent = nullptr);

    // The material colour for the current palette (slightly see-through).
    QColor materialColor() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace kestrane::ui
