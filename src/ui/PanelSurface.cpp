#include "ui/PanelSurface.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace kestrane::ui {

PanelSurface::PanelSurface(NamedColor fill, std::optional<NamedColor> border, qreal radius,
                           QWidget* parent)
    : QWidget(parent), fill_(std::move(fill)), border_(std::move(border)), radius_(radius) {}

QRectF PanelSurface::surfaceRect() const {
    const QRectF bounds = rect();
    // Half the line width inwards, so a 1-point stroke stays within the bounds.
    return border_ ? bounds.adjusted(0.5, 0.5, -0.5, -0.5) : bounds;
}

void PanelSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(surfaceRect(), radius_, radius_);
    painter.fillPath(path, fill_.resolve(*this));
    if (border_) painter.strokePath(path, QPen(border_->resolve(*this), 1));
}

void PanelSurface::changeEvent(QEvent* event) {
    // Colours are resolved at paint time; a new palette only needs a repaint.
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
