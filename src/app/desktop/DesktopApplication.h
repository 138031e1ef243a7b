#pragma once

#include <string>
#include <vector>

namespace kestrane::app {

// The tray application: builds the delegate and its collaborators and runs the event loop.
// Never returns normally: the process ends when the loop does.
int runDesktopApplication(int argc, char** argv, const std::vector<std::string>& arguments);

}  // namespace kestrane::app
