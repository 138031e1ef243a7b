#pragma once

#include <QWidget>

namespace kestrane::ui {

// The panel's background and the only thing that gives it its colour: a rounded (radius 18)
// sheet of the menu material over whatever lies behind the window, with a thin edge line.
// Rounded corners need a window with a translucent background on a compositing window
// system; elsewhere the sheet is square and opaque, so no corner shows black.
class PanelBackdrop : public QWidget {
    Q_OBJECT
  public:
    enum class Corners { rounded, square };

    static constexpr qreal cornerRadius = 18;
    explicit PanelBackdrop(QWidget* parent = nullptr);

    Corners corners() const { return corners_; }
    void setCorners(Corners corners);
    // The edge line; off inside a window that has a frame of its own.
    void setDrawsEdge(bool drawsEdge);

    // The material colour for the current palette: slightly see-through when rounded (a
    // compositor blends it), opaque when square.
    QColor materialColor() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Corners corners_ = Corners::rounded;
    bool drawsEdge_ = true;
};

}  // namespace kestrane::ui
