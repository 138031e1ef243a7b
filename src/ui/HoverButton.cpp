#include "ui/HoverButton.h"

#include <QEvent>
#include <QKeyEvent>

#include "ui/PanelWidgetKit.h"

namespace kestrane::ui {

void HoverButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
        update();
    }
    QAbstractButton::changeEvent(event);
}

void HoverButton::keyPressEvent(QKeyEvent* event) {
    // The click may rebuild the screen and delete this button: nothing after it.
    if (PanelWidgetKit::isEnterKey(event->key()) && isEnabled()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void HoverButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

}  // namespace kestrane::ui
