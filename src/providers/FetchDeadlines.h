#pragma once

#include <chrono>

#include "model/ProviderKind.h"

namespace kestrane::providers {

// How long a refresh waits for one provider before it shows a time-out instead. A blocking
// fetch cannot be cancelled, and one stuck provider (a stalled server, a file that never
// ends) must not hold back the figures of the others. Each is the longest single limit of
// that provider's client plus a margin for the rest of its work (reading files, starting a
// child, a second request); a fetch that takes longer has stopped making progress.
constexpr std::chrono::milliseconds providerFetchDeadline(model::ProviderKind kind) {
    using std::chrono::seconds;
    constexpr seconds margin{10};
    switch (kind) {
        case model::ProviderKind::codex:
            // Each answer of the app server: 15 s.
            return seconds{15} + margin;
        case model::ProviderKind::cursor:
            // Each request, whole exchange: 15 s (summary and account run side by side).
            return seconds{15} + margin;
        case model::ProviderKind::claude:
            // Each request, whole exchange: 20 s.
            return seconds{20} + margin;
        case model::ProviderKind::kimi:
            // Each request, whole exchange: 20 s.
            return seconds{20} + margin;
        case model::ProviderKind::antigravity:
            // The process listing: 10 s (socket listings 5 s, requests 3 s).
            return seconds{10} + margin;
        case model::ProviderKind::copilot:
            // The GitHub CLI's token: 5 s; then one request, whole exchange: 20 s.
            return seconds{5} + seconds{20} + margin;
        case model::ProviderKind::gemini:
            // Up to three requests one after another (renewing the session, the project,
            // the quota), whole exchange 15 s each.
            return 3 * seconds{15} + margin;
    }
    return seconds{20} + margin;
}

}  // namespace kestrane::providers
