// The Gemini Code Assist answers: retrieveUserQuota's buckets, loadCodeAssist's project and
// tier, and the token endpoint's renewed access token.
#include "FuzzSupport.h"
#include "providers/gemini/GeminiClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto usage = providers::GeminiClient::parseQuota(text, platform::Date{1'765'000'000});
        if (usage.windows.empty()) std::abort();
        fuzz::checkUsage(usage);
    });
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto codeAssist = providers::GeminiClient::parseCodeAssist(text);
        if (codeAssist.project && codeAssist.project->empty()) std::abort();
    });
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        // The token goes into a header line.
        for (const char c : providers::GeminiClient::parseRenewedToken(text)) {
            if (c <= 0x20 || c >= 0x7F) std::abort();
        }
    });
    return 0;
}
