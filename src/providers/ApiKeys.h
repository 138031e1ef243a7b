#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/ProviderKind.h"
#include "platform/Environment.h"
#include "platform/SecretStore.h"

namespace kestrane::providers {

// An API key, and what is known of where it came from.
struct ApiKey {
    std::string value;
    // Where it was found, as the end of a Russian sentence: "из переменной ZAI_API_KEY".
    std::string place;
    // The origin of the provider's API that goes with it, when the place names one (a host
    // in mainland China); nullopt for the provider's default.
    std::optional<std::string> origin;
};

// The longest text taken for a key; API keys are a few hundred bytes at most.
inline constexpr std::size_t kMaxApiKeyBytes = 4096;

// The key in an environment variable's `value`, trimmed; nullopt when it is unset or blank.
// Throws QuotaError when it cannot be a key (spaces or control characters inside).
std::optional<ApiKey> variableApiKey(const std::optional<std::string>& value,
                                     std::string_view variable);

// The key the user stored for `kind` in the keyring. Throws QuotaError saying what to do when
// there is none, the keyring cannot be read, or it holds something that is not a key;
// `variable` is offered as the way around the keyring.
ApiKey storedApiKey(const platform::SecretStore& secrets, model::ProviderKind kind,
                    std::string_view variable);

// Whether `text` can be sent as a key: visible ASCII only, at most kMaxApiKeyBytes.
bool isUsableApiKey(std::string_view text);

// What the keyring item of `kind` is called, for the keyring's own window:
// "Kestrane: ключ API z.ai".
std::string apiKeyLabel(model::ProviderKind kind);

}  // namespace kestrane::providers
