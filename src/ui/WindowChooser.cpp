#include "ui/WindowChooser.h"

#include <algorithm>
#include <cmath>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/PanelButton.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

namespace {

// Widths and elision from the same fractional metrics: a whole-pixel width rounded down from
// the text's true width would make the title it was measured for too wide for itself (as
// happens at fractional scales and without hinting).
int titleWidth(const QFont& font, const QString& text) {
    return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(text)));
}

QString fittedTitle(const QFont& font, const QString& text, int width) {
    return QFontMetricsF(font).elidedText(text, Qt::ElideRight, width);
}

}  // namespace

// The chooser's list, laid over the whole window so that a click beside the list closes it
// (as a click outside a pop-up does). The list itself is a card in the panel's colours.
class WindowChooserList final : public QWidget {
  public:
    static constexpr int rowHeight = 24;
    static constexpr int padding = 4;
    static constexpr int margin = 8;
    static constexpr int textInset = 10;

    WindowChooserList(WindowChooser& chooser, QWidget& window)
        : QWidget(&window), chooser_(&chooser), hovered_(chooser.currentIndex()) {
        setObjectName(QStringLiteral("windowChooserList"));
        setAccessibleName(chooser.accessibleName());
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setGeometry(window.rect());
        card_ = placeCard(chooser, window);
    }

    // Where the card is, in the window's coordinates.
    QRect card() const { return card_; }
    // Row `index`'s title as drawn (the current row's in the medium weight).
    QString shownText(int index) const {
        QFont font = chooser_->font();
        font.setWeight(index == chooser_->currentIndex() ? QFont::Medium : QFont::Normal);
        return fittedTitle(font, chooser_->itemText(index), row(index).width() - 2 * textInset);
    }
    QRect row(int index) const {
        return {card_.left() + padding, card_.top() + padding + index * rowHeight,
                card_.width() - 2 * padding, rowHeight};
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (!chooser_) return;
        QPainter painter(this);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        QPainterPath cardPath;
        cardPath.addRoundedRect(QRectF(card_).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(cardPath, PanelTheme::card().resolve(*this));
        painter.strokePath(cardPath, QPen(PanelTheme::separator().resolve(*this), 1));
        const QColor text = PanelTheme::text().resolve(*this);
        const QColor muted = PanelTheme::muted().resolve(*this);
        for (int i = 0; i < chooser_->count(); ++i) {
            const QRect rowRect = row(i);
            if (i == hovered_) {
                QPainterPath highlight;
                highlight.addRoundedRect(QRectF(rowRect), 5, 5);
                painter.fillPath(highlight, PanelTheme::panel().resolve(*this));
            }
            const bool current = i == chooser_->currentIndex();
            QFont font = chooser_->font();
            font.setWeight(current ? QFont::Medium : QFont::Normal);
            painter.setFont(font);
            painter.setPen(current ? text : muted);
            const QRect textRect = rowRect.adjusted(textInset, 0, -textInset, 0);
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, shownText(i));
        }
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        setHovered(rowAt(event->position().toPoint()));
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (!card_.contains(event->position().toPoint())) dismiss();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        const int index = rowAt(event->position().toPoint());
        if (index >= 0) choose(index);
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (!chooser_) return;
        switch (event->key()) {
            case Qt::Key_Escape:
                dismiss();
                return;
            case Qt::Key_Up:
                setHovered(std::max(0, hovered_ - 1));
                return;
            case Qt::Key_Down:
                setHovered(std::min(chooser_->count() - 1, hovered_ + 1));
                return;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                if (hovered_ >= 0) choose(hovered_);
                return;
            default:
                event->accept();
        }
    }

  private:
    static QRect placeCard(const WindowChooser& chooser, const QWidget& window) {
        QFont medium = chooser.font();
        medium.setWeight(QFont::Medium);
        int widest = 0;
        for (int i = 0; i < chooser.count(); ++i) {
            widest = std::max(widest, titleWidth(medium, chooser.itemText(i)));
        }
        const int room = window.width() - 2 * margin;
        const int width =
            std::min(room, std::max(chooser.width(), widest + 2 * textInset + 2 * padding));
        const int height = chooser.count() * rowHeight + 2 * padding;
        const QRect anchor(chooser.mapTo(&window, QPoint()), chooser.size());
        // Under the chooser, its right edge on the chooser's (the chooser sits at the right of
        // its row), kept inside the window; above it when there is no room below.
        int x = anchor.right() + 1 - width;
        x = std::clamp(x, margin, std::max(margin, window.width() - margin - width));
        int y = anchor.bottom() + 1 + 4;
        if (y + height > window.height() - margin && anchor.top() - 4 - height >= margin) {
            y = anchor.top() - 4 - height;
        }
        y = std::max(margin, std::min(y, window.height() - margin - height));
        return {x, y, width, height};
    }

    int rowAt(QPoint point) const {
        if (!chooser_) return -1;
        for (int i = 0; i < chooser_->count(); ++i) {
            if (row(i).contains(point)) return i;
        }
        return -1;
    }

    void setHovered(int index) {
        if (index == hovered_) return;
        hovered_ = index;
        update();
    }

    void choose(int index) {
        QPointer<WindowChooser> chooser = chooser_;
        dismiss();
        if (chooser) chooser->choose(index);
    }

    // The focus goes back to the chooser, as from the toolkit's own pop-up.
    void dismiss() {
        if (chooser_ && hasFocus()) chooser_->setFocus(Qt::PopupFocusReason);
        hide();
        deleteLater();
    }

    QPointer<WindowChooser> chooser_;
    int hovered_;
    QRect card_;
};

WindowChooser::~WindowChooser() {
    if (list_) list_->deleteLater();
}

QSize WindowChooser::sizeHint() const {
    const int textWidth = titleWidth(font(), currentText());
    return {std::min(maximumWidth(), textWidth + chevronGap + chevronSide + 2 * inset), 22};
}

QSize WindowChooser::minimumSizeHint() const { return {chevronSide + 20 + 2 * inset, 22}; }

void WindowChooser::showPopup() {
    if (list_ || count() == 0) return;
    QWidget* host = window();
    list_ = new WindowChooserList(*this, *host);
    list_->show();
    list_->raise();
    list_->setFocus(Qt::PopupFocusReason);
}

void WindowChooser::hidePopup() {
    if (list_) {
        list_->hide();
        list_->deleteLater();
        list_.clear();
    }
}

QWidget* WindowChooser::popupList() const { return list_; }

QRect WindowChooser::popupRect() const { return list_ ? list_->card() : QRect(); }

void WindowChooser::choose(int index) {
    if (index < 0 || index >= count()) return;
    setCurrentIndex(index);
    // What a choice in the toolkit's own list reports; the panel re-renders on it, which may
    // delete this chooser.
    emit activated(index);
}

QString WindowChooser::shownTitle() const {
    return fittedTitle(font(), currentText(), width() - chevronGap - chevronSide - 2 * inset);
}

QStringList WindowChooser::shownPopupTitles() const {
    QStringList titles;
    if (list_) {
        for (int i = 0; i < count(); ++i) titles << list_->shownText(i);
    }
    return titles;
}

void WindowChooser::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const QColor color = PanelTheme::muted().resolve(*this);
    const QString title = shownTitle();
    const qreal drawnWidth = QFontMetricsF(font()).horizontalAdvance(title);
    painter.setPen(color);
    painter.setFont(font());
    painter.drawText(QRectF(inset, 0, drawnWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    const QImage chevron = PanelButton::symbolImage(QStringLiteral("chevron.down"), color,
                                                    chevronSide, devicePixelRatioF());
    painter.drawImage(QRectF(inset + std::ceil(drawnWidth) + chevronGap,
                             (height() - chevronSide) / 2.0, chevronSide, chevronSide),
                      chevron);
    if (hasFocus()) {
        PanelWidgetKit::paintFocusRing(painter, QRectF(rect()), 5, *this);
    }
}

void WindowChooser::keyPressEvent(QKeyEvent* event) {
    // The toolkit opens the list on Space only; Enter opens it too, as on every other control.
    if (PanelWidgetKit::isEnterKey(event->key())) {
        showPopup();
        return;
    }
    QComboBox::keyPressEvent(event);
}

}  // namespace kestrane::ui
