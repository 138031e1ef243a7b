#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/CommandLine.h"
#include "app/DesktopLauncher.h"
#include "app/FetchProvider.h"
#include "app/ProbeJson.h"
#include "app/ProbeRunner.h"
#include "app/ServicesCommand.h"
#include "app/StatusReport.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Keychain.h"

namespace kestrane {

// Process entry: the command-line modes, or the tray application (a program of its own, so
// that nothing here loads the desktop libraries).
struct KestraneApp {
    static int main(int argc, char** argv) {
        // A child or a peer that goes away must never end this process through SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        const std::vector<std::string> arguments(argv, argv + argc);
        const auto parsed = app::CommandLine::parse(
            std::vector<std::string>(arguments.begin() + (argc > 0 ? 1 : 0), arguments.end()));
        if (const auto* error = std::get_if<std::string>(&parsed)) {
            std::cerr << *error << std::endl;
            return 2;
        }
        const app::CommandLine& line = std::get<app::CommandLine>(parsed);
        using Mode = app::CommandLine::Mode;
        switch (line.mode) {
            case Mode::help:
                std::cout << app::CommandLine::helpText();
                return 0;
            case Mode::version:
                std::cout << "kestrane " KESTRANE_VERSION "\n";
                return 0;
            case Mode::probe:
                probe(arguments, line.format == app::CommandLine::Format::json);
            case Mode::status: {
                const platform::ProcessEnvironment environment;
                const platform::SystemClock clock;
                return app::StatusReport::run(line, environment, clock.now(), std::cout);
            }
            case Mode::services:
                return app::ServicesCommand::list(app::ServicesCommand::currentSystem(),
                                                  line.format == app::CommandLine::Format::json,
                                                  std::cout);
            case Mode::stop:
                return app::ServicesCommand::stop(app::ServicesCommand::currentSystem(), line.pid,
                                                  std::cout);
            case Mode::application:
                return app::DesktopLauncher::run(argv);
        }
        return 2;
    }

    [[noreturn]] static void probe(const std::vector<std::string>& arguments, bool json) {
        const platform::ProcessEnvironment environment;
        const platform::SystemClock clock;
        const app::ProviderContext context{environment, clock, platform::systemKeychain()};
        const app::Fetch fetch = [&](model::ProviderKind kind) {
            return app::fetchProvider(kind, context);
        };
        const int status = json ? app::ProbeJson::run(arguments, fetch, std::cout)
                                : app::ProbeRunner::run(arguments, fetch, std::cout);
        // A provider past its deadline may still be working on its own thread, using the
        // context above and the clients' shared sessions: the process ends without
        // unwinding this frame or running static destructors under it.
        std::cout.flush();
        std::fflush(nullptr);
        std::_Exit(status);
    }
};

}  // namespace kestrane

int main(int argc, char** argv) { return kestrane::KestraneApp::main(argc, argv); }
