// The Claude token endpoint's answer to a refresh.
#include "FuzzSupport.h"
#include "platform/Environment.h"
#include "providers/claude/ClaudeClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    static const platform::MapEnvironment environment({}, "/nonexistent");
    static const fuzz::FixedClock clock;
    static const fuzz::NoKeychain keychain;
    const fuzz::AnsweringHttpClient http(fuzz::asText(data, size));
    const providers::ClaudeClient client(environment, clock, keychain, &http);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto refreshed = client.refresh({.accessToken = "old", .refreshToken = "refresh"});
        if (!refreshed.expiresAt || !std::isfinite(refreshed.expiresAt->secondsSince1970)) {
            std::abort();
        }
    });
    return 0;
}
