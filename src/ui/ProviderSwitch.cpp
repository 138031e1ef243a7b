#include "ui/ProviderSwitch.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/QuotaTheme.h"

namespace kestrane::ui {

ProviderSwitch::ProviderSwitch(model::ProviderKind provider, QWidget* parent)
    : QAbstractButton(parent), provider_(provider) {
    setCheckable(true);
    setFixedSize(44, 32);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    const std::string_view name = model::rawValue(provider);
    const QString displayName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    setAccessibleName(QStringLiteral("Показывать ") + displayName +
                      QStringLiteral(" в строке меню"));
    setObjectName(QStringLiteral("provider-toggle-") + displayName);
}

ProviderSwitch::ProviderSwitch(const QString& accessibleName, const QString& objectName,
                               QWidget* parent)
    : QAbstractButton(parent), provider_(model::ProviderKind::codex) {
    setCheckable(true);
    setFixedSize(44, 32);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(accessibleName);
    setObjectName(objectName);
}

QRectF ProviderSwitch::trackRect() const {
    return {(width() - 36) / 2.0, (height() - 20) / 2.0, 36, 20};
}

QRectF ProviderSwitch::knobRect() const {
    const QRectF track = trackRect();
    const qreal x = isChecked() ? track.right() - 17 : track.left() + 3;
    return {x, track.top() + 3, 14, 14};
}

qreal ProviderSwitch::drawingOpacity() const {
    if (!isEnabled()) return 0.4;
    if (isDown()) return 0.75;
    return 1.0;
}

void ProviderSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal a = drawingOpacity();
    const auto withAlpha = [](QColor color, qreal alpha) {
        color.setAlphaF(alpha);
        return color;
    };
    const QColor muted = QuotaTheme::muted().resolve(*this);
    QPainterPath track;
    track.addRoundedRect(trackRect(), 10, 10);
    if (isChecked()) {
        painter.fillPath(track, withAlpha(QuotaTheme::information().resolve(*this), a));
    } else {
        painter.fillPath(track, withAlpha(muted, a * 0.18));
        painter.strokePath(track, QPen(withAlpha(muted, a * 0.22), 0.5));
    }
    QPainterPath knob;
    knob.addEllipse(knobRect());
    painter.fillPath(knob, isChecked() ? withAlpha(QuotaTheme::background().resolve(*this), a)
                                       : withAlpha(muted, a));
    if (hasFocus()) {
        // The focus ring follows the track.
        QPainterPath ring;
        ring.addRoundedRect(trackRect().adjusted(-2, -2, 2, 2), 12, 12);
        painter.strokePath(ring, QPen(withAlpha(QuotaTheme::information().resolve(*this), 0.6), 2));
    }
}

void ProviderSwitch::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
        update();
    }
    QAbstractButton::changeEvent(event);
}

}  // namespace kestrane::ui
