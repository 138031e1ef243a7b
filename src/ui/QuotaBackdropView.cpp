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

QColor QuotaBackdropView::materialColor() const {
    // The menu material: the background colour, a touch translucent so the desktop shows
    // through where a compositor blends it.
    QColor color = QuotaTheme::background().resolve(*this);
    color.setAlphaF(0.94);
    return color;
}

void QuotaBackdropView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(path, materialColor());
    painter.strokePath(path, QPen(QuotaTheme::separator().resolve(*this), 1));
}

void QuotaBackdropView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
