#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/FetchResult.h"
#include "model/ProviderKind.h"
#include "platform/SecretStore.h"
#include "providers/FetchProvider.h"

namespace kestrane::providers {

// What the settings' "Ключ API" row of a provider that signs in with a key needs, without Qt.
// Everything here blocks on the keyring or the network: call it off the interface thread.

// Whether the user may type a key for `kind` (z.ai, MiniMax, OpenRouter).
bool usesApiKey(model::ProviderKind kind);
// The environment variable that holds the key of `kind` ("ZAI_API_KEY"); empty for the others.
std::string_view apiKeyVariable(model::ProviderKind kind);

// What the row shows before anything is typed.
struct ApiKeyRowState {
    // Where the key the fetches use comes from ("из переменной ZAI_API_KEY"); nullopt when
    // there is none.
    std::optional<std::string> place;
    // What the keyring says of a key stored for the provider (ok: one is stored).
    platform::SecretStore::Status keyring = platform::SecretStore::Status::notFound;
    // Whether a typed key can be stored: false without a Secret Service, when the row offers
    // only the environment variable.
    bool canStore = false;
    // The line under the row.
    std::string text;
};
ApiKeyRowState apiKeyRowState(model::ProviderKind kind, const ProviderContext& context);

// The outcome of storing or removing a key, and the line that says so.
struct ApiKeyChange {
    bool done = false;
    std::string text;
};
// Stores the typed `key` (trimmed) for `kind` in the keyring; a key that cannot be one
// (spaces, control characters) is refused before the keyring is asked.
ApiKeyChange storeApiKey(model::ProviderKind kind, std::string_view key,
                         const platform::SecretStore& secrets);
ApiKeyChange removeApiKey(model::ProviderKind kind, const platform::SecretStore& secrets);

// The check button: one fetch of `kind` with the typed `key`, which is neither stored nor
// kept. Its failure message says what is wrong, as the probe would.
model::FetchResult checkApiKey(model::ProviderKind kind, std::string_view key,
                               const ProviderContext& context);

}  // namespace kestrane::providers
