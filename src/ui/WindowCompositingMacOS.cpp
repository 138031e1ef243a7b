#include "ui/WindowCompositing.h"

namespace kestrane::ui {

// The Mac's window server composites every window.
bool SystemWindowCompositing::isComposited() const { return true; }

}  // namespace kestrane::ui
