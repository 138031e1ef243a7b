#include "ui/UsageBarView.h"

#include <algorithm>
#include <cmath>

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "model/ProviderUsage.h"
#include "ui/PanelTheme.h"

namespace kestrane::ui {

UsageBarView::UsageBarView(double remainingPercent, QWidget* parent)
    : QWidget(parent),
      remainingPercent_(std::isnan(remainingPercent) ? 0
                                                     : std::clamp(remainingPercent, 0.0, 100.0)) {
    setAccessibleName(
        QStringLiteral("Осталось %1% лимита").arg(model::roundedPercent(remainingPercent_)));
}

double UsageBarView::filledFraction(int index) const {
    return std::clamp(remainingPercent_ / 100 * segmentCount - index, 0.0, 1.0);
}

QRectF UsageBarView::segmentRect(int index) const {
    const qreal segmentWidth = (width() - gap * (segmentCount - 1)) / segmentCount;
    return {index * (segmentWidth + gap), 0.5, segmentWidth, height() - 1.0};
}

void UsageBarView::paintEvent(QPaintEvent*) {
    const QRectF first = segmentRect(0);
    if (first.width() <= 0 || height() <= 1) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor track = PanelTheme::track().resolve(*this);
    track.setAlphaF(0.7);
    const QColor information = PanelTheme::information().resolve(*this);
    // The light end: 12 % of the way toward white.
    const QColor light = QColor::fromRgbF(information.redF() + (1 - information.redF()) * 0.12,
                                          information.greenF() + (1 - information.greenF()) * 0.12,
                                          information.blueF() + (1 - information.blueF()) * 0.12);
    QColor outline = PanelTheme::text().resolve(*this);
    outline.setAlphaF(0.04);

    for (int i = 0; i < segmentCount; ++i) {
        const QRectF segment = segmentRect(i);
        QPainterPath path;
        path.addRoundedRect(segment, 2, 2);
        painter.fillPath(path, track);
        if (const double fill = filledFraction(i); fill > 0) {
            // Upwards from the bottom edge, as the bar reads in light from below.
            QLinearGradient gradient(segment.bottomLeft(), segment.topLeft());
            gradient.setColorAt(0, information);
            gradient.setColorAt(1, light);
            painter.save();
            painter.setClipRect(
                QRectF(segment.x(), segment.y(), segment.width() * fill, segment.height()));
            painter.fillPath(path, gradient);
            painter.restore();
        }
        painter.strokePath(path, QPen(outline, 0.5));
    }
}

void UsageBarView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
