#include "providers/FetchDeadlines.h"

#include <algorithm>

#include "providers/antigravity/AntigravityClient.h"
#include "providers/claude/ClaudeClient.h"
#include "providers/codex/CodexClient.h"
#include "providers/copilot/CopilotClient.h"
#include "providers/cursor/CursorClient.h"
#include "providers/gemini/GeminiClient.h"
#include "providers/kimi/KimiClient.h"
#include "providers/minimax/MiniMaxClient.h"
#include "providers/openrouter/OpenRouterClient.h"
#include "providers/zai/ZaiClient.h"

namespace kestrane::providers {

namespace {

using std::chrono::milliseconds;

// The longest wait of each client, from the limits it declares.
constexpr milliseconds longestWait(model::ProviderKind kind) {
    switch (kind) {
        case model::ProviderKind::codex:
            // Each answer of the app server.
            return CodexClient::Limits{}.longest();
        case model::ProviderKind::cursor:
            // Each request's whole exchange.
            return CursorClient::requestExchangeLimit;
        case model::ProviderKind::claude:
            return ClaudeClient::requestExchangeLimit;
        case model::ProviderKind::kimi:
            return KimiClient::requestExchangeLimit;
        case model::ProviderKind::antigravity:
            // Finding the servers, then one request to each in turn.
            return std::max({AntigravityClient::processListingLimit,
                             AntigravityClient::socketListingLimit,
                             AntigravityClient::defaultRequestLimit});
        case model::ProviderKind::copilot:
            // The GitHub CLI's token, then one request.
            return CopilotClient::githubCliLimit + CopilotClient::requestExchangeLimit;
        case model::ProviderKind::gemini:
            // Its requests run one after another.
            return GeminiClient::requestsPerFetch * GeminiClient::requestExchangeLimit;
        // The key may come from the keyring first, then one request.
        case model::ProviderKind::zai:
            return platform::SecretStore::lookupLimit + ZaiClient::requestExchangeLimit;
        case model::ProviderKind::minimax:
            return platform::SecretStore::lookupLimit + MiniMaxClient::requestExchangeLimit;
        case model::ProviderKind::openrouter:
            return platform::SecretStore::lookupLimit + OpenRouterClient::requestExchangeLimit;
    }
    // Not a provider of this build: the longest of them all.
    milliseconds longest{0};
    for (const model::ProviderKind known : model::allProviderKinds) {
        longest = std::max(longest, longestWait(known));
    }
    return longest;
}

}  // namespace

milliseconds providerFetchDeadline(model::ProviderKind kind) {
    return longestWait(kind) + fetchDeadlineMargin;
}

}  // namespace kestrane::providers
