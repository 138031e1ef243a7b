// The z.ai quota/limit answer, errors answered with HTTP 200 included.
#include "FuzzSupport.h"
#include "providers/zai/ZaiClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::ZaiClient::parseQuota(
            fuzz::asText(data, size), "из переменной ZAI_API_KEY", platform::Date{1'765'000'000});
        fuzz::checkUsage(usage);
        // Refused answers throw: a success always has a window to show.
        if (usage.windows.empty()) std::abort();
    });
    return 0;
}
