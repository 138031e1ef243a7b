#include "ui/QuotaSegmentedControl.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/QuotaTheme.h"

namespace kestrane::ui {

QuotaSegmentedControl::QuotaSegmentedControl(QStringList labels, int width,
                                             std::function<void(int)> action, QWidget* parent)
    : QWidget(parent), labels_(std::move(labels)), action_(std::move(action)) {
    setFixedSize(width, controlHeight);
    setCursor(Qt::PointingHandCursor);
}

void QuotaSegmentedControl::setSelectedSegment(int index) {
    if (index < -1 || index >= segmentCount() || index == selected_) return;
    selected_ = index;
    update();
}

QRectF QuotaSegmentedControl::segmentRect(int index) const {
    const qreal segmentWidth = (width() - 4.0) / std::max(1, segmentCount());
    return {2 + index * segmentWidth, 2, segmentWidth, height() - 4.0};
}

QRectF QuotaSegmentedControl::labelRect(int index) const {
    const QRectF segment = segmentRect(index);
    const qreal vertical = (segment.height() - 14) / 2;
    return segment.adjusted(5, vertical, -5, -vertical);
}

QFont QuotaSegmentedControl::labelFont(bool selected) const {
    QFont font = this->font();
    font.setPixelSize(11);
    font.setWeight(selected ? QFont::Medium : QFont::Normal);
    return font;
}

QString QuotaSegmentedControl::displayedLabel(int index) const {
    const QFontMetricsF metrics(labelFont(index == selected_));
    return metrics.elidedText(labels_.value(index), Qt::ElideRight, labelRect(index).width());
}

void QuotaSegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QColor background = QuotaTheme::panel().resolve(*this);
    background.setAlphaF(0.6);
    QPainterPath whole;
    whole.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(whole, background);

    for (int i = 0; i < segmentCount(); ++i) {
        const bool selected = i == selected_;
        if (selected) {
            QColor card = QuotaTheme::card().resolve(*this);
            card.setAlphaF(0.95);
            QPainterPath segment;
            segment.addRoundedRect(segmentRect(i), 6, 6);
            painter.fillPath(segment, card);
        }
        painter.setFont(labelFont(selected));
        painter.setPen(selected ? QuotaTheme::text().resolve(*this)
                                : QuotaTheme::muted().resolve(*this));
        painter.drawText(labelRect(i), Qt::AlignCenter, displayedLabel(i));
    }
}

void QuotaSegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    for (int i = 0; i < segmentCount(); ++i) {
        if (segmentRect(i).contains(event->position())) {
            setSelectedSegment(i);
            if (action_) action_(i);
            return;
        }
    }
}

void QuotaSegmentedControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

}  // namespace kestrane::ui
