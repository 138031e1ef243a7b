// The Antigravity language server's quota summary, with the user-status answer it takes the
// account from. The input is the summary, optionally followed by a line feed and the status.
#include "FuzzSupport.h"
#include "providers/antigravity/AntigravityClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    const auto split = text.find('\n');
    const auto summary = text.substr(0, split);
    std::optional<std::string> identity;
    if (split != std::string_view::npos) identity = std::string(text.substr(split + 1));
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        fuzz::checkUsage(providers::AntigravityClient::parseQuotaSummary(
            summary, identity, platform::Date{1'765'000'000}));
    });
    return 0;
}
