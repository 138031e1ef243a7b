#include "ui/WindowChooser.h"

#include <algorithm>

#include <QPainter>

#include "ui/PanelButton.h"
#include "ui/QuotaTheme.h"

namespace kestrane::ui {

QSize WindowChooser::sizeHint() const {
    const int textWidth = fontMetrics().horizontalAdvance(currentText());
    return {std::min(maximumWidth(), textWidth + chevronGap + chevronSide + 2), 22};
}

QSize WindowChooser::minimumSizeHint() const { return {chevronSide + 20, 22}; }

void WindowChooser::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const QColor color = QuotaTheme::muted().resolve(*this);
    const qreal textRoom = width() - chevronGap - chevronSide;
    const QString title =
        fontMetrics().elidedText(currentText(), Qt::ElideRight, static_cast<int>(textRoom));
    const int titleWidth = fontMetrics().horizontalAdvance(title);
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(QRectF(0, 0, titleWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    const QImage chevron = PanelButton::symbolImage(QStringLiteral("chevron.down"), color,
                                                    chevronSide, devicePixelRatioF());
    painter.drawImage(
        QRectF(titleWidth + chevronGap, (height() - chevronSide) / 2.0, chevronSide, chevronSide),
        chevron);
}

}  // namespace kestrane::ui
