// The GitHub Copilot quota answer (copilot_internal/user) and the reset dates it carries.
#include "FuzzSupport.h"
#include "providers/copilot/CopilotClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::CopilotClient::parseUsage(fuzz::asText(data, size),
                                                                platform::Date{1'765'000'000});
        fuzz::checkUsage(usage);
        if (usage.email && usage.email->empty()) std::abort();
    });
    if (const auto date = providers::CopilotClient::parseResetDate(fuzz::asText(data, size))) {
        if (!std::isfinite(date->secondsSince1970)) std::abort();
    }
    return 0;
}
