#include "ui/QuotaBackdropView.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/QuotaTheme.h"

namespace kestrane::ui {

QuotaBackdropView::QuotaBackdropView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void QuotaBackdropView::setCorners(Corners corners) {
    corners_ = corners;
    update();
}

void QuotaBackdropView::setDrawsEdge(bool drawsEdge) {
    drawsEdge_ = drawsEdge;
    update();
}

QColor QuotaBackdropView::materialColor() const {
    // The menu material: the background colour, a touch translucent so the desktop shows
    // through where a compositor blends it.
    QColor color = QuotaTheme::background().resolve(*this);
    if (corners_ == Corners::rounded) color.setAlphaF(0.94f);
    return color;
}

void QuotaBackdropView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor edge = QuotaTheme::separator().resolve(*this);
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

void QuotaBackdropView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
