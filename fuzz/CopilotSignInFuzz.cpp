// The sign-in files GitHub Copilot is read with: the plug-ins' apps.json and hosts.json, the
// GitHub CLI's hosts.yml and the output of `gh auth token`. Whatever they hold, a token handed
// on must fit in a header line.
#include "FuzzSupport.h"
#include "providers/copilot/CopilotClient.h"

namespace {

void checkToken(const std::string& token) {
    if (token.empty()) std::abort();
    for (const char c : token) {
        if (c <= 0x20 || c >= 0x7F) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    const auto text = fuzz::asText(data, size);
    if (const auto signIn = providers::CopilotClient::decodeCopilotSignIns(text)) {
        checkToken(signIn->token);
    }
    if (const auto signIn = providers::CopilotClient::decodeGithubCliHosts(text)) {
        checkToken(signIn->token);
    }
    if (const auto token = providers::CopilotClient::tokenFromCliOutput(text)) checkToken(*token);
    return 0;
}
