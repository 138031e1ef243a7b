// The Kimi Code usages answer, and the decimal numbers its counters may arrive as.
#include "FuzzSupport.h"
#include "platform/TextConversions.h"
#include "providers/kimi/KimiClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::KimiClient::parseUsage(fuzz::asText(data, size),
                                                             platform::Date{1'765'000'000});
        if (usage.windows.empty()) std::abort();
        fuzz::checkUsage(usage);
    });
    if (const auto number = platform::parseDecimalNumber(fuzz::asText(data, size))) {
        if (!std::isfinite(*number)) std::abort();
    }
    return 0;
}
