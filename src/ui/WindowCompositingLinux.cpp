#include "ui/WindowCompositing.h"

#include <cstdlib>
#include <string>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include <xcb/xcb.h>

namespace kestrane::ui {

namespace {

// The screen part of DISPLAY (":1.2" → 2); 0 when absent or unreadable.
int screenNumber() {
    const char* display = std::getenv("DISPLAY");
    if (!display) return 0;
    const std::string text(display);
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return 0;
    const auto dot = text.find('.', colon);
    if (dot == std::string::npos || dot + 1 >= text.size()) return 0;
    int number = 0;
    for (std::size_t i = dot + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || number > 1000) return 0;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

bool x11HasCompositingManager(xcb_connection_t* connection) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(screenNumber());
    const xcb_intern_atom_cookie_t atomCookie = xcb_intern_atom(
        connection, /*only_if_exists=*/1, static_cast<uint16_t>(name.size()), name.c_str());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (!atom) return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    // A selection nobody ever named has no owner either.
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner) return false;
    const bool owned = owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return owned;
}

}  // namespace

bool SystemWindowCompositing::isComposited() const {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return false;
    return x11HasCompositingManager(x11->connection());
}

}  // namespace kestrane::ui
