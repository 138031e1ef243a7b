#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/FetchProvider.h"
#include "app/ProbeRunner.h"
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
            std::cout.flush();
            std::fflush(stdout);
            std::exit(status);
        }

        std::cout << "Приложение в области уведомлений ещё не собрано; запустите kestrane --probe."
                  << std::endl;
        return 1;
    }
};

}  // namespace kestrane

int main(int argc, char** argv) { return kestrane::KestraneApp::main(argc, argv); }
