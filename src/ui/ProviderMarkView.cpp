#include "ui/ProviderMarkView.h"

#include <cmath>

#include <QEvent>
#include <QPainter>

#include "ui/ProviderArtwork.h"
#include "ui/TrayIconRenderer.h"

namespace kestrane::ui {

ProviderMarkView::ProviderMarkView(model::ProviderKind provider, int side, NamedColor tint,
                                   QWidget* parent)
    : QWidget(parent), provider_(provider), tint_(std::move(tint)) {
    setFixedSize(side, side);
}

void ProviderMarkView::paintEvent(QPaintEvent*) {
    const ProviderArtwork::Image* mark = ProviderArtwork::image(provider_);
    if (!mark) return;
    const qreal ratio = devicePixelRatioF();
    QImage canvas(QSize(static_cast<int>(std::ceil(width() * ratio)),
                        static_cast<int>(std::ceil(height() * ratio))),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        mark->paint(painter, QRectF(QPointF(), QSizeF(canvas.size())));
    }
    QImage tinted = TrayIconRenderer::tinted(canvas, tint_.resolve(*this));
    tinted.setDevicePixelRatio(ratio);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), tinted);
}

void ProviderMarkView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
