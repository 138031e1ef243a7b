// The `ps` and `lsof` listings the Antigravity language server is found through.
#include "FuzzSupport.h"
#include "providers/antigravity/AntigravityClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    using providers::AntigravityClient;
    const auto text = fuzz::asText(data, size);
    for (const auto& process : AntigravityClient::parseProcessListing(text)) {
        if (process.pid <= 0 || process.csrfToken.empty()) std::abort();
        if (process.extensionPort &&
            (*process.extensionPort <= 0 || *process.extensionPort > 65535))
            std::abort();
        (void)AntigravityClient::endpoints(process, AntigravityClient::parseListeningPorts(text));
    }
    for (const int port : AntigravityClient::parseListeningPorts(text)) {
        if (port <= 0 || port > 65535) std::abort();
    }
    (void)AntigravityClient::flag("csrf_token", text);
    return 0;
}
