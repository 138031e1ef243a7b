#pragma once

#include <optional>

#include <QWidget>

#include "ui/PanelTheme.h"

namespace kestrane::ui {

// A rounded card: filled, optionally outlined with the stroke kept inside the bounds.
class PanelSurface : public QWidget {
    Q_OBJECT
  public:
    PanelSurface(NamedColor fill, std::optional<NamedColor> border, qreal radius,
                 QWidget* parent = nullptr);

    // Kept for views laid out from the top edge; Qt's coordinates always are.
    void setUsesFlippedCoordinates(bool flipped) { usesFlippedCoordinates_ = flipped; }
    bool isFlipped() const { return usesFlippedCoordinates_; }
    // The rounded rectangle that is filled and stroked.
    QRectF surfaceRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    NamedColor fill_;
    std::optional<NamedColor> border_;
    qreal radius_;
    bool usesFlippedCoordinates_ = false;
};

}  // namespace kestrane::ui
