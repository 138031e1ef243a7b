#include "ui/PanelSwitch.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

PanelSwitch::PanelSwitch(const QString& accessibleName, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFixedSize(44, 32);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(accessibleName);
}

QRectF PanelSwitch::trackRect() const {
    return {(width() - 36) / 2.0, (height() - 20) / 2.0, 36, 20};
}

QRectF PanelSwitch::knobRect() const {
    const QRectF track = trackRect();
    const qreal x = isChecked() ? track.right() - 17 : track.left() + 3;
    return {x, track.top() + 3, 14, 14};
}

qreal PanelSwitch::drawingOpacity() const {
    if (!isEnabled()) return 0.4;
    if (isDown()) return 0.75;
    return 1.0;
}

void PanelSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal a = drawingOpacity();
    const auto withAlpha = [](QColor color, qreal alpha) {
        color.setAlphaF(alpha);
        return color;
    };
    const QColor muted = PanelTheme::muted().resolve(*this);
    QPainterPath track;
    track.addRoundedRect(trackRect(), 10, 10);
    if (isChecked()) {
        painter.fillPath(track, withAlpha(PanelTheme::information().resolve(*this), a));
    } else {
        painter.fillPath(track, withAlpha(muted, a * 0.18));
        painter.strokePath(track, QPen(withAlpha(muted, a * 0.22), 0.5));
    }
    QPainterPath knob;
    knob.addEllipse(knobRect());
    painter.fillPath(knob, isChecked() ? withAlpha(PanelTheme::background().resolve(*this), a)
                                       : withAlpha(muted, a));
    if (hasFocus()) {
        // The focus ring follows the track.
        PanelWidgetKit::paintFocusRing(painter, trackRect().adjusted(-3, -3, 3, 3), 13, *this);
    }
}

void PanelSwitch::keyPressEvent(QKeyEvent* event) {
    if (PanelWidgetKit::isEnterKey(event->key()) && isEnabled()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void PanelSwitch::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
        update();
    }
    QAbstractButton::changeEvent(event);
}

}  // namespace kestrane::ui
