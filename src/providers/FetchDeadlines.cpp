#include "providers/FetchDeadlines.h"

#include <algorithm>

#include "providers/antigravity/AntigravityClient.h"
#include "providers/claude/ClaudeClient.h"
#include "providers/codex/CodexClient.h"
#include "providers/cursor/CursorClient.h"
#include "providers/kimi/KimiClient.h"

namespace kestrane::providers {

namespace {

using std::chrono::milliseconds;

// The longest single wait of each client, from the limits it declares.
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
