// The `ps` and `lsof` listings the Antigravity language server is found through.
#include "FuzzSupport.h"
#include "providers/antigravity/AntigravityClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    using providers::AntigravityClient;
    const auto text = fuzz::asText(data, size);
    // Any 32-bit pid and extension port are taken as listed: the pid only selects lsof's
    // listing, and an endpoint outside 1...65535 is refused before any request.
    const auto ports = AntigravityClient::parseListeningPorts(text);
    for (const auto& process : AntigravityClient::parseProcessListing(text)) {
        if (process.csrfToken.empty()) std::abort();
        (void)AntigravityClient::endpoints(process, ports);
    }
    for (const auto& process : AntigravityClient::parseOwnedProcessListing(text, 1000)) {
        if (process.csrfToken.empty()) std::abort();
    }
    for (const int port : AntigravityClient::parseListeningPorts(text)) {
        if (port <= 0 || port > 65535) std::abort();
    }
    (void)AntigravityClient::flag("csrf_token", text);
    return 0;
}
