#pragma once

#include <functional>

#include "model/Account.h"
#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/SecretStore.h"

namespace kestrane::providers {

// What every provider client is built from. The defaults are wired once, at start-up.
struct ProviderContext {
    const platform::Environment& environment;
    const platform::Clock& clock;
    // Where the API keys the user typed are kept.
    const platform::SecretStore& secrets;
};

// Runs the matching client's fetch once and turns its outcome into a FetchResult: the
// usage, or the Russian description of whatever went wrong. Blocks; safe on any thread.
model::FetchResult fetchProvider(model::ProviderKind kind, const ProviderContext& context);
// The same for one account of a provider: its client reads that account's sign-in (the
// account's folder as the tool's configuration folder, or its login among several).
model::FetchResult fetchAccount(const model::Account& account, const ProviderContext& context);

// Runs `fetch` and turns anything it throws into a failed result for `kind`: a client's own
// Russian message, else a plain Russian one (library errors carry English texts).
model::FetchResult guardedFetch(model::ProviderKind kind,
                                const std::function<model::FetchResult()>& fetch);

}  // namespace kestrane::providers
