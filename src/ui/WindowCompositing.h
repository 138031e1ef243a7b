#pragma once

#include <memory>

namespace kestrane::ui {

// Whether the window system blends a window's transparent pixels with what lies behind it.
// Without that (X11 with no compositing manager running) they show as black, so the panel
// then draws square corners filled with its backdrop instead of rounded ones.
class WindowCompositing {
  public:
    virtual ~WindowCompositing() = default;
    virtual bool isComposited() const = 0;
};

// The window system the application runs on, asked afresh on every call. On X11 a compositing
// manager owns the _NET_WM_CM_S<screen> selection; Wayland and the Mac always composite.
class SystemWindowCompositing final : public WindowCompositing {
  public:
    bool isComposited() const override;
};

}  // namespace kestrane::ui
