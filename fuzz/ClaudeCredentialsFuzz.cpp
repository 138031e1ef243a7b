// The Claude command-line tool's credentials file (or keychain item).
#include "FuzzSupport.h"
#include "providers/claude/ClaudeClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto credentials =
            providers::ClaudeClient::decodeCredentials(fuzz::asText(data, size));
        if (credentials.accessToken.empty()) std::abort();
        (void)credentials.plan();
    });
    return 0;
}
