// The Antigravity language server's older answers: user status and model configurations,
// and the identity read from the user status.
#include "FuzzSupport.h"
#include "providers/antigravity/AntigravityClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        fuzz::checkUsage(
            providers::AntigravityClient::parseLegacyUsage(text, platform::Date{1'765'000'000}));
    });
    // The identity only decorates the usage: it never fails a fetch, so it never throws.
    (void)providers::AntigravityClient::identity(text);
    return 0;
}
