#pragma once

#include <QComboBox>
#include <QPointer>

namespace kestrane::ui {

class WindowChooserList;

// The window pop-up: borderless, its title in the muted tint with a small chevron after it.
// Its list is drawn by the panel itself, on a card inside the panel's window, instead of the
// toolkit's own pop-up (which has the system's highlight and may run past the panel's edge).
class WindowChooser : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    ~WindowChooser() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void showPopup() override;
    void hidePopup() override;
    // The open list, if any; it lives in the chooser's window.
    QWidget* popupList() const;
    // Where the open list's card is, in the window's coordinates; empty when closed.
    QRect popupRect() const;
    // The current title as drawn at the chooser's width (cut with an ellipsis if it must be).
    QString shownTitle() const;
    // The open list's titles as drawn; empty when closed.
    QStringList shownPopupTitles() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    friend class WindowChooserList;
    // A row of the list was chosen.
    void choose(int index);

    static constexpr int chevronGap = 4;
    static constexpr int chevronSide = 8;
    // Room on either side of the title and chevron for the focus ring.
    static constexpr int inset = 5;
    QPointer<WindowChooserList> list_;
};

}  // namespace kestrane::ui
