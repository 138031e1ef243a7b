#include "ui/PanelWindow.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/PanelBackdrop.h"
#include "ui/PanelTheme.h"
#include "ui/PanelWidgetKit.h"
#include "ui/WindowCompositing.h"

namespace kestrane::ui {

PanelWindow::PanelWindow(Presentation presentation, std::unique_ptr<WindowCompositing> compositing)
    : QWidget(nullptr, presentation == Presentation::floating
                           ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                 Qt::NoDropShadowWindowHint
                           // A fixed-size window has nothing to maximise.
                           : Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                 Qt::WindowCloseButtonHint),
      presentation_(presentation) {
    setWindowTitle(QStringLiteral("Kestrane"));
    setAccessibleName(QStringLiteral("Kestrane"));
    if (presentation_ == Presentation::floating) {
        if (!compositing) compositing = std::make_unique<SystemWindowCompositing>();
        rounded_ = compositing->isComposited();
    }
    if (rounded_) {
        // The backdrop draws the rounded corners; outside them the window stays clear.
        setAttribute(Qt::WA_TranslucentBackground);
    }
    backdrop_ = new PanelBackdrop(this);
    backdrop_->setCorners(rounded_ ? PanelBackdrop::Corners::rounded
                                   : PanelBackdrop::Corners::square);
    // A window with a frame has its own edge.
    backdrop_->setDrawsEdge(presentation_ == Presentation::floating);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(backdrop_);
    new QVBoxLayout(backdrop_);
    backdrop_->layout()->setContentsMargins(0, 0, 0, 0);
    backdrop_->layout()->setSpacing(0);
    notice_ =
        PanelWidgetKit::makeLabel(QString(), 11, QFont::Normal, PanelTheme::muted(), backdrop_);
    notice_->setObjectName(QStringLiteral("windowNotice"));
    notice_->setContentsMargins(20, 8, 20, 0);
    notice_->setFixedHeight(noticeHeight);
    notice_->hide();
    backdrop_->layout()->addWidget(notice_);
    setContentSize(QSize(initialWidth, initialHeight));
}

PanelWindow::~PanelWindow() { removeTriggers(); }

void PanelWindow::setContentView(QWidget* content) {
    if (content_) content_->deleteLater();
    content_ = content;
    if (!content_) return;
    // The content holds the focus while no control does, so opening the panel marks none of
    // them; Tab goes on from it to the first control, and keys reach the panel through it.
    if (content_->focusPolicy() == Qt::NoFocus) content_->setFocusPolicy(Qt::ClickFocus);
    backdrop_->layout()->addWidget(content_);
}

QPoint PanelWindow::origin(const QRectF& anchor, const QSizeF& size, const QRectF& visibleFrame) {
    double x = anchor.center().x() - size.width() / 2;
    x = std::min(x, visibleFrame.right() - size.width() - 8);
    x = std::max(x, visibleFrame.left() + 8);
    double y = 0;
    if (anchor.center().y() > visibleFrame.center().y()) {
        y = std::min(visibleFrame.bottom(), anchor.top()) - 6 - size.height();
        y = std::max(y, visibleFrame.top() + 8);
    } else {
        y = std::max(visibleFrame.top(), anchor.bottom()) + 6;
        y = std::min(y, visibleFrame.bottom() - 8 - size.height());
    }
    return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
}

void PanelWindow::show(Anchor anchor) {
    anchor_ = std::move(anchor);
    reposition();
    QWidget::show();
    raise();
    activateWindow();
    if (content_ && !content_->isAncestorOf(focusWidget())) {
        content_->setFocus(Qt::ActiveWindowFocusReason);
    }
    installTriggers();
}

void PanelWindow::reposition() {
    if (!anchor_ || presentation_ == Presentation::window) return;
    const std::optional<QRect> anchorRect = anchor_();
    if (!anchorRect) return;
    QScreen* screen = QGuiApplication::screenAt(anchorRect->center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    // QRect's right() and bottom() stop one pixel short of the edge.
    const QRectF visible(available.x(), available.y(), available.width(), available.height());
    const QRectF anchorF(anchorRect->x(), anchorRect->y(), anchorRect->width(),
                         anchorRect->height());
    move(origin(anchorF, QSizeF(frameGeometry().size()), visible));
}

void PanelWindow::close() {
    removeTriggers();
    hide();
    emit closed();
}

void PanelWindow::setContentSize(QSize size) {
    contentSize_ = size;
    // A fixed size (minimum equal to maximum) is what tiling Wayland compositors take as
    // "float this window": Wayland gives a client no other say in tiling.
    setFixedSize(size + QSize(0, notice_->isVisibleTo(this) ? noticeHeight : 0));
    reposition();
}

void PanelWindow::setNotice(const QString& text) {
    const bool shown = presentation_ == Presentation::window && !text.isEmpty();
    notice_->setText(text);
    notice_->setAccessibleName(text);
    notice_->setVisible(shown);
    setContentSize(contentSize_);
}

QString PanelWindow::notice() const {
    return notice_->isVisibleTo(this) ? notice_->text() : QString();
}

void PanelWindow::setDark(bool dark) {
    const QPalette wanted = PanelTheme::palette(dark, QApplication::palette());
    if (testAttribute(Qt::WA_SetPalette) && palette() == wanted) return;
    setPalette(wanted);
}

void PanelWindow::installTriggers() {
    if (triggersInstalled_ || presentation_ == Presentation::window) return;
    triggersInstalled_ = true;
    hasBeenActive_ = isActiveWindow();
    applicationStateConnection_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                                          [this](Qt::ApplicationState s) {
                                              if (s != Qt::ApplicationActive && hasBeenActive_)
                                                  close();
                                          });
}

void PanelWindow::removeTriggers() {
    if (!triggersInstalled_) return;
    triggersInstalled_ = false;
    if (applicationStateConnection_) {
        disconnect(*applicationStateConnection_);
        applicationStateConnection_.reset();
    }
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    // The ordinary window too: the keyboard closes whatever the panel is shown as.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The window system closing us (the window's close button, a key of the desktop) takes
    // the same road as every other close.
    event->ignore();
    if (isVisible()) close();
}

void PanelWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        PanelWidgetKit::setTextColor(notice_, PanelTheme::muted(), *this);
    }
    if (event->type() == QEvent::ActivationChange && triggersInstalled_) {
        if (isActiveWindow()) {
            hasBeenActive_ = true;
        } else if (hasBeenActive_ && !QApplication::activeModalWidget()) {
            // A question the panel asks (the stop confirmation) takes the focus for a
            // moment; that is not the user leaving.
            close();
            return;
        }
    }
    QWidget::changeEvent(event);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible()) reposition();
}

}  // namespace kestrane::ui
