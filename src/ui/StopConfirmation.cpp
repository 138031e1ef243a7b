#include "ui/StopConfirmation.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/PanelButton.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

namespace {

using Kit = PanelWidgetKit;

// Assistive tools meet the overlay as a dialog named by its question.
QAccessibleInterface* confirmationFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("kestrane::ui::StopConfirmation") && object &&
        object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Dialog);
    }
    return nullptr;
}

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(confirmationFactory);
        return true;
    }();
    (void)installed;
}

constexpr int padding = 16;
constexpr int markSide = 22;

}  // namespace

StopConfirmation::StopConfirmation(const localservices::LocalService& service, QWidget& window)
    : QWidget(&window) {
    installAccessibility();
    setObjectName(QStringLiteral("stopConfirmation"));
    setAccessibleName(message(service));
    setAccessibleDescription(informativeText(service));
    // The panel behind stays in view, dimmed; clicks there do not reach it.
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();

    card_ = new QWidget(this);
    card_->setObjectName(QStringLiteral("stopConfirmationCard"));
    card_->setFixedWidth(cardWidth);
    auto* stack = new QVBoxLayout(card_);
    stack->setContentsMargins(padding + markSide + 10, padding, padding, padding);
    stack->setSpacing(6);
    const int textWidth = cardWidth - 2 * padding - markSide - 10;
    QLabel* title = Kit::makeWrappingLabel(message(service), 13, QFont::Bold, PanelTheme::text(),
                                           textWidth, card_);
    title->setObjectName(QStringLiteral("stopConfirmationMessage"));
    stack->addWidget(title);
    QLabel* details = Kit::makeWrappingLabel(informativeText(service), 10, QFont::Normal,
                                             PanelTheme::muted(), textWidth, card_);
    details->setObjectName(QStringLiteral("stopConfirmationDetails"));
    stack->addWidget(details);
    stack->addSpacing(6);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(8);
    buttons->addStretch();
    // Made in Tab order: the default first.
    stop_ = new PanelButton(QStringLiteral("Остановить"), QString(), PanelTheme::warning(), card_);
    stop_->setObjectName(QStringLiteral("confirmStop"));
    cancel_ = new PanelButton(QStringLiteral("Отмена"), QString(), PanelTheme::text(), card_);
    cancel_->setObjectName(QStringLiteral("cancelStop"));
    for (PanelButton* button : {stop_, cancel_}) {
        button->setBezel(PanelButton::Bezel::rounded);
        button->setFontPixelSize(11);
        button->setFixedHeight(24);
        button->setAccessibleName(button->text());
        buttons->addWidget(button);
    }
    stack->addLayout(buttons);
    connect(stop_, &QAbstractButton::clicked, this, [this] { finish(true); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { finish(false); });
    window.installEventFilter(this);
}

QString StopConfirmation::message(const localservices::LocalService& service) {
    return QStringLiteral("Остановить ") + Kit::toQString(service.name) + QStringLiteral("?");
}

QString StopConfirmation::informativeText(const localservices::LocalService& service) {
    QString text = QStringLiteral("Kestrane повторно проверит PID ") +
                   QString::number(service.pid) + QStringLiteral(" и отправит только SIGTERM.");
    if (!service.project) {
        text +=
            QStringLiteral(" Проект не определен - проверьте команду и процесс перед остановкой.");
    }
    return text;
}

void StopConfirmation::open() {
    QWidget* host = parentWidget();
    previousFocus_ = host->focusWidget();
    place();
    show();
    raise();
    stop_->setFocus(Qt::PopupFocusReason);
}

QRect StopConfirmation::cardRect() const { return card_->geometry().translated(pos()); }

void StopConfirmation::place() {
    const QWidget* host = parentWidget();
    setGeometry(host->rect());
    const int width = std::min(cardWidth, std::max(0, host->width() - 2 * margin));
    card_->setFixedWidth(width);
    const int height = card_->layout()->hasHeightForWidth()
                           ? card_->layout()->totalHeightForWidth(width)
                           : card_->sizeHint().height();
    card_->setGeometry((host->width() - width) / 2, std::max(margin, (host->height() - height) / 2),
                       width, height);
}

void StopConfirmation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing);
    QColor scrim = PanelTheme::background().resolve(*this);
    scrim.setAlphaF(0.7);
    painter.fillRect(rect(), scrim);
    const QRectF card = QRectF(card_->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath cardPath;
    cardPath.addRoundedRect(card, 10, 10);
    painter.fillPath(cardPath, PanelTheme::card().resolve(*this));
    painter.strokePath(cardPath, QPen(PanelTheme::separator().resolve(*this), 1));

    // The warning mark: a rounded triangle with an exclamation mark, in the warning tint.
    const QColor warning = PanelTheme::warning().resolve(*this);
    const QRectF mark(card.left() + padding, card.top() + padding, markSide, markSide);
    QPainterPath triangle;
    triangle.moveTo(mark.center().x(), mark.top() + 1);
    triangle.lineTo(mark.right() - 1, mark.bottom() - 2);
    triangle.lineTo(mark.left() + 1, mark.bottom() - 2);
    triangle.closeSubpath();
    painter.setPen(QPen(warning, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(warning);
    painter.drawPath(triangle);
    painter.setPen(QPen(PanelTheme::card().resolve(*this), 2, Qt::SolidLine, Qt::RoundCap));
    const qreal x = mark.center().x();
    painter.drawLine(QPointF(x, mark.top() + 8), QPointF(x, mark.bottom() - 9));
    painter.drawPoint(QPointF(x, mark.bottom() - 5.5));
}

void StopConfirmation::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        finish(false);
        return;
    }
    // Nothing reaches the panel behind while the question is open.
    event->accept();
}

void StopConfirmation::mousePressEvent(QMouseEvent* event) {
    if (!card_->geometry().contains(event->position().toPoint())) finish(false);
}

bool StopConfirmation::focusNextPrevChild(bool next) {
    (void)next;
    // Two buttons: either way Tab goes to the other one, never out to the panel behind.
    (stop_->hasFocus() ? static_cast<QWidget*>(cancel_) : stop_)->setFocus(Qt::TabFocusReason);
    return true;
}

bool StopConfirmation::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && isVisible()) {
        if (event->type() == QEvent::Resize) place();
        // A panel closed with the question open has not been answered.
        if (event->type() == QEvent::Hide) finish(false);
    }
    return QWidget::eventFilter(watched, event);
}

void StopConfirmation::finish(bool confirmed) {
    if (finished_) return;
    finished_ = true;
    const QPointer<QWidget> back = previousFocus_;
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    deleteLater();
    if (hadFocus && back) back->setFocus(Qt::PopupFocusReason);
    emit finished(confirmed);
}

}  // namespace kestrane::ui
