#include <csignal>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/commandline/CommandLine.h"
#include "app/launcher/SiblingProgram.h"
#include "app/status/StatusReport.h"
#include "platform/Clock.h"
#include "platform/Environment.h"

namespace kestrane {

// Process entry. Reads the command line and answers what needs nothing else (help, version,
// the running application's state); the probe and the services list, and the tray
// application, are programs of their own that replace this process (see SiblingProgram).
struct KestraneApp {
    static int main(int argc, char** argv) {
        // A child or a peer that goes away must never end this process through SIGPIPE.
        std::signal(SIGPIPE, SIG_IGN);
        const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        const auto parsed = app::CommandLine::parse(arguments);
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
            case Mode::status: {
                const platform::ProcessEnvironment environment;
                const platform::SystemClock clock;
                return app::StatusReport::run(line, environment, clock.now(), std::cout);
            }
            case Mode::probe:
            case Mode::services:
            case Mode::stop:
                return app::SiblingProgram::replaceProcess(app::SiblingProgram::commandLineTools,
                                                           argv);
            case Mode::application:
                return app::SiblingProgram::replaceProcess(app::SiblingProgram::desktopApplication,
                                                           argv);
        }
        return 2;
    }
};

}  // namespace kestrane

int main(int argc, char** argv) { return kestrane::KestraneApp::main(argc, argv); }
