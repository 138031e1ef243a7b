// kestrane-cli: the probe and the services list, started by `kestrane` in its place with the
// same arguments once it has checked them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "app/cli/ProbeJson.h"
#include "app/cli/ProbeRunner.h"
#include "app/cli/ServicesCommand.h"
#include "app/commandline/CommandLine.h"
#include "platform/Calendar.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SecretStore.h"
#include "providers/FetchProvider.h"
#include "providers/StoredSignIn.h"

namespace kestrane {
namespace {

[[noreturn]] void probe(const std::vector<std::string>& arguments, bool json) {
    const platform::ProcessEnvironment environment;
    const platform::SystemClock clock;
    const providers::ProviderContext context{environment, clock, platform::systemSecretStore()};
    const providers::Fetch fetch = [&](const model::Account& account) {
        return providers::fetchAccount(account, context);
    };
    const app::ProbeRunner::ProbedByDefault probedByDefault = [&](model::ProviderKind kind) {
        return providers::hasStoredSignIn(kind, context);
    };
    const int status =
        json ? app::ProbeJson::run(arguments, fetch, std::cout, providers::providerFetchDeadline,
                                   probedByDefault)
             : app::ProbeRunner::run(arguments, fetch, std::cout, providers::providerFetchDeadline,
                                     probedByDefault);
    // A provider past its deadline may still be working on its own thread, using the context
    // above and the clients' shared sessions: the process ends without unwinding this frame
    // or running static destructors under it.
    std::cout.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace
}  // namespace kestrane

int main(int argc, char** argv) {
    using namespace kestrane;
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto parsed =
        app::CommandLine::parse(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << *error << std::endl;
        return 2;
    }
    const app::CommandLine& line = std::get<app::CommandLine>(parsed);
    const bool json = line.format == app::CommandLine::Format::json;
    switch (line.mode) {
        case app::CommandLine::Mode::probe:
            probe(arguments, json);
        case app::CommandLine::Mode::services:
            // The list shows start times and reads ps's times in the local zone; without ICU's
            // data both would come out blank or in GMT. (The probe shows no such texts.)
            if (!platform::Calendar::hasLocaleData()) {
                std::cerr << platform::Calendar::missingLocaleDataMessage() << std::endl;
                return 1;
            }
            return app::ServicesCommand::list(app::ServicesCommand::currentSystem(), json,
                                              std::cout);
        case app::CommandLine::Mode::stop:
            return app::ServicesCommand::stop(app::ServicesCommand::currentSystem(), line.pid,
                                              std::cout);
        default:
            // Only `kestrane` starts this program, and only for the modes above.
            std::cerr << "kestrane-cli: запускайте kestrane." << std::endl;
            return 2;
    }
}
