// The MiniMax Coding Plan's remains answer, in either of its shapes or neither.
#include "FuzzSupport.h"
#include "providers/minimax/MiniMaxClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::MiniMaxClient::parseRemains(fuzz::asText(data, size),
                                                                  "из переменной MINIMAX_API_KEY",
                                                                  platform::Date{1'765'000'000});
        fuzz::checkUsage(usage);
        if (usage.windows.empty()) std::abort();
        for (const auto& window : usage.windows) {
            if (!window.id.starts_with("minimax-")) std::abort();
        }
    });
    return 0;
}
