// The Gemini CLI's files: oauth_creds.json (with the ID token's e-mail claim) and
// settings.json (comments allowed).
#include "FuzzSupport.h"
#include "providers/gemini/GeminiClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    fuzz::rejectingOnlyWithLocalizedErrors([&] {
        const auto credentials = providers::GeminiClient::decodeCredentials(text);
        if (credentials.accessToken.empty() && !credentials.refreshToken) std::abort();
        // Tokens go into header lines.
        const auto checkToken = [](const std::string& token) {
            for (const char c : token) {
                if (c <= 0x20 || c >= 0x7F) std::abort();
            }
        };
        checkToken(credentials.accessToken);
        if (credentials.refreshToken) checkToken(*credentials.refreshToken);
        if (credentials.expiresAt && !std::isfinite(credentials.expiresAt->secondsSince1970)) {
            std::abort();
        }
    });
    (void)providers::GeminiClient::decodeAuthType(text);
    if (const auto email = providers::GeminiClient::emailFromIdToken(text)) {
        if (email->empty()) std::abort();
    }
    return 0;
}
