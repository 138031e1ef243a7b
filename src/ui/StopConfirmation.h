#pragma once

#include <QPointer>
#include <QWidget>

#include "localservices/LocalService.h"

class QLabel;

namespace kestrane::ui {

class PanelButton;

// The question asked before a service is stopped, drawn inside the panel's window over the
// dimmed panel (as the window chooser's list is) rather than in a window of its own, which
// would have a title bar and could open behind the tray panel. A warning mark, "Остановить
// <name>?", what will be done, and the buttons "Остановить" (first, the default) and "Отмена".
// It holds the keyboard while open: Tab goes between its two buttons, Enter and Space press
// the focused one, Escape or a click beside the card cancels. The focus then goes back to where
// it was when the question opened.
class StopConfirmation final : public QWidget {
    Q_OBJECT
  public:
    static constexpr int cardWidth = 336;
    static constexpr int margin = 16;

    // Laid over the whole of `window`; hidden until open().
    StopConfirmation(const localservices::LocalService& service, QWidget& window);

    // The question and what it says will be done (the name is the process's own, shown as
    // written).
    static QString message(const localservices::LocalService& service);
    static QString informativeText(const localservices::LocalService& service);

    // Shows it, puts the focus on "Остановить".
    void open();
    PanelButton* stopButton() const { return stop_; }
    PanelButton* cancelButton() const { return cancel_; }
    // Where the card is, in the window's coordinates.
    QRect cardRect() const;

  signals:
    // Told once, with true when "Остановить" was pressed; the overlay then goes away.
    void finished(bool confirmed);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void place();
    void finish(bool confirmed);

    QWidget* card_ = nullptr;
    PanelButton* stop_ = nullptr;
    PanelButton* cancel_ = nullptr;
    QPointer<QWidget> previousFocus_;
    bool finished_ = false;
};

}  // namespace kestrane::ui
