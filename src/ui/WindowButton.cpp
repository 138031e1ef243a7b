#include "ui/WindowButton.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

WindowButton::WindowButton(int windowIndex, QString windowTitle, QString value, QWidget* parent)
    : HoverButton(parent),
      windowIndex_(windowIndex),
      windowTitle_(std::move(windowTitle)),
      value_(std::move(value)) {
    setFixedSize(408, 25);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(windowTitle_ + QStringLiteral(", осталось ") + value_);
    setToolTip(PanelWidgetKit::plainToolTip(QStringLiteral("Показать историю: ") + windowTitle_));
}

void WindowButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    if (isHovered() || isDown()) {
        // A faint wash shows the row is clickable; the layout itself never changes.
        QColor wash = PanelTheme::text().resolve(*this);
        wash.setAlphaF(isDown() ? 0.08 : 0.04);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(-4, 0, 4, 0), 5, 5);
        painter.fillPath(path, wash);
    }
    if (hasFocus()) PanelWidgetKit::paintFocusRing(painter, QRectF(rect()), 5, *this);

    QFont valueFont = font();
    valueFont.setPixelSize(11);
    valueFont.setWeight(QFont::Medium);
    const qreal valueWidth = QFontMetricsF(valueFont).horizontalAdvance(value_);
    painter.setFont(valueFont);
    painter.setPen(PanelTheme::text().resolve(*this));
    painter.drawText(QRectF(0, 5, width(), 16), Qt::AlignRight | Qt::AlignVCenter, value_);

    QFont titleFont = font();
    titleFont.setPixelSize(11);
    titleFont.setWeight(QFont::Normal);
    const qreal titleWidth = std::max<qreal>(0, width() - valueWidth - 20);
    painter.setFont(titleFont);
    painter.setPen(PanelTheme::muted().resolve(*this));
    painter.drawText(QRectF(0, 5, titleWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(titleFont).elidedText(windowTitle_, Qt::ElideRight, titleWidth));
}

}  // namespace kestrane::ui
