#pragma once

#include <QAbstractButton>

namespace kestrane::ui {

// The panel's on/off switch: a rounded track with a knob, drawn in the panel's colours.
// On/off is the checked state.
class PanelSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit PanelSwitch(const QString& accessibleName, QWidget* parent = nullptr);

    // Where the track and the knob are drawn for the current state.
    QRectF trackRect() const;
    QRectF knobRect() const;
    // 1 when enabled, 0.75 while pressed, 0.4 when disabled.
    qreal drawingOpacity() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace kestrane::ui
