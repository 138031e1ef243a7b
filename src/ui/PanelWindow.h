#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QRect>
#include <QWidget>

#include "ui/WindowCompositing.h"

class QLabel;

namespace kestrane::ui {

class PanelBackdrop;

// The window that drops down under the status item. It floats above other windows without a
// frame and closes itself on Escape and when the application loses activation (on X11 a
// click into another application moves the focus there). Where no system tray exists it is
// shown as an ordinary window instead, so the program is never invisible: a window of the
// panel's fixed size, without a maximise button, that can carry a one-line notice above the
// content (why it is a window and what closing it does).
class PanelWindow : public QWidget {
    Q_OBJECT
  public:
    enum class Presentation { floating, window };
    // The anchor's rectangle in global coordinates, asked afresh on every placement;
    // nothing when the anchor is gone.
    using Anchor = std::function<std::optional<QRect>()>;

    static constexpr int initialWidth = 448;
    static constexpr int initialHeight = 600;
    static constexpr int noticeHeight = 26;

    // The floating panel has rounded corners where `compositing` says the window system
    // shows transparency (the running system's answer when none is given), square ones
    // elsewhere; the ordinary window is always square.
    explicit PanelWindow(Presentation presentation = Presentation::floating,
                         std::unique_ptr<WindowCompositing> compositing = nullptr);
    ~PanelWindow() override;

    Presentation presentation() const { return presentation_; }
    // Whether the corners are rounded over a translucent window.
    bool hasRoundedCorners() const { return rounded_; }
    // Hosts the content on the translucent backdrop; the panel takes ownership.
    void setContentView(QWidget* content);
    QWidget* contentView() const { return content_; }

    // Remembers the anchor, places the panel next to it (see `origin`), brings it to the front and
    // installs the close triggers.
    void show(Anchor anchor);
    void reposition();
    // Removes the triggers, hides the window and tells `closed`; safe to call twice.
    void close();
    void setContentSize(QSize size);
    // The one line above the content; empty hides it. Only the ordinary window shows one.
    void setNotice(const QString& text);
    QString notice() const;
    // Light or dark from now on: the panel's own palette, which every surface in it follows.
    void setDark(bool dark);

    // Where the top-left corner goes: centred on the anchor, keeping 8 from the left and right
    // edges of the visible area (the left margin wins when it is too narrow). An anchor in the
    // upper half of the screen gets the panel 6 below it (or below the top of the visible
    // area), keeping 8 from the bottom; one in the lower half (a bottom tray) gets it 6 above
    // it (or above the bottom of the visible area), keeping 8 from the top. The margin away
    // from the anchor wins when the screen is too short.
    static QPoint origin(const QRectF& anchor, const QSizeF& size, const QRectF& visibleFrame);

  signals:
    // After every close.
    void closed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void installTriggers();
    void removeTriggers();

    Presentation presentation_;
    bool rounded_ = false;
    PanelBackdrop* backdrop_ = nullptr;
    QLabel* notice_ = nullptr;
    QSize contentSize_;
    QWidget* content_ = nullptr;
    Anchor anchor_;
    std::optional<QMetaObject::Connection> applicationStateConnection_;
    bool triggersInstalled_ = false;
    // Deactivation closes the panel only once it has actually been active; a window that
    // never got the focus would otherwise close at once.
    bool hasBeenActive_ = false;
};

}  // namespace kestrane::ui
