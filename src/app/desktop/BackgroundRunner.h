#pragma once

#include <functional>

namespace kestrane::app {

// Runs `work` away from the main thread, then `done` on the main thread.
using BackgroundRunner =
    std::function<void(std::function<void()> work, std::function<void()> done)>;

// Worker threads, with `done` queued into the main thread's event loop.
BackgroundRunner threadRunner();

}  // namespace kestrane::app
