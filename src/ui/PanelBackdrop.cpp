#include "ui/PanelBackdrop.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/PanelTheme.h"

namespace kestrane::ui {

PanelBackdrop::PanelBackdrop(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void PanelBackdrop::setCorners(Corners corners) {
    corners_ = corners;
    update();
}

void PanelBackdrop::setDrawsEdge(bool drawsEdge) {
    drawsEdge_ = drawsEdge;
    update();
}

QColor PanelBackdrop::materialColor() const {
    // The menu material: the background colour, a touch translucent so the desktop shows
    // through where a compositor blends it.
    QColor color = PanelTheme::background().resolve(*this);
    if (corners_ == Corners::rounded) color.setAlphaF(0.94f);
    return color;
}

void PanelBackdrop::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor edge = PanelTheme::separator().resolve(*this);
    if (corners_ == Corners::square) {
        painter.fillRect(rect(), materialColor());
        if (drawsEdge_) {
            painter.setPen(QPen(edge, 1));
            painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
        }
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(path, materialColor());
    if (drawsEdge_) painter.strokePath(path, QPen(edge, 1));
}

void PanelBackdrop::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
