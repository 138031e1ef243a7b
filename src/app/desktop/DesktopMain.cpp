// The tray application's own program, started by `kestrane` without a command-line mode.
#include <csignal>
#include <string>
#include <vector>

#include "app/desktop/DesktopApplication.h"

int main(int argc, char** argv) {
    // A child or a peer that goes away must never end this process through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv, argv + argc);
    return kestrane::app::runDesktopApplication(argc, argv, arguments);
}
