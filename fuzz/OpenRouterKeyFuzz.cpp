// The OpenRouter key endpoint's answer: spending, limit and when a limit resets.
#include "FuzzSupport.h"
#include "providers/openrouter/OpenRouterClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::OpenRouterClient::parseKey(fuzz::asText(data, size),
                                                                 platform::Date{1'765'000'000});
        fuzz::checkUsage(usage);
        if (!usage.spendUsed || !std::isfinite(*usage.spendUsed) || *usage.spendUsed < 0) {
            std::abort();
        }
        if (usage.spendLimit && !std::isfinite(*usage.spendLimit)) std::abort();
    });
    return 0;
}
