// The Kimi Code usages answer.
#include "FuzzSupport.h"
#include "providers/kimi/KimiClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::KimiClient::parseUsage(fuzz::asText(data, size),
                                                             platform::Date{1'765'000'000});
        if (usage.windows.empty()) std::abort();
        fuzz::checkUsage(usage);
    });
    (void)providers::KimiClient::decimalNumber(fuzz::asText(data, size));
    return 0;
}
