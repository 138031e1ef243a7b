#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/FetchProvider.h"
#include "app/ProbeRunner.h"
#include "app/desktop/DesktopApplication.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Keychain.h"

namespace kestrane {

// Process entry: the probe mode, or the status-bar application.
struct KestraneApp {
    static int main(int argc, char** argv) {
        // A child or a peer that goes away must never end this process through SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        const std::vector<std::string> arguments(argv, argv + argc);

        if (std::find(arguments.begin(), arguments.end(), "--probe") != arguments.end()) {
            const platform::ProcessEnvironment environment;
            const platform::SystemClock clock;
            const app::ProviderContext context{environment, clock, platform::systemKeychain()};
            const int status = app::ProbeRunner::run(
                arguments,
                [&](model::ProviderKind kind) { return app::fetchProvider(kind, context); },
                std::cout);
            // A provider past its deadline may still be working on its own thread, using the
            // context above and the clients' shared sessions: the process ends without
            // unwinding this frame or running static destructors under it.
            std::cout.flush();
            std::fflush(nullptr);
            std::_Exit(status);
        }

        return app::runDesktopApplication(argc, argv, arguments);
    }
};

}  // namespace kestrane

int main(int argc, char** argv) { return kestrane::KestraneApp::main(argc, argv); }
