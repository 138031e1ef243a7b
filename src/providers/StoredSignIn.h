#pragma once

#include "model/ProviderKind.h"
#include "providers/FetchProvider.h"

namespace kestrane::providers {

// Whether the provider's own tool has left a sign-in on this machine for its client to use,
// or, for a provider that signs in with an API key, whether its key is found (which may ask
// the keyring, never unlocking it). Only looks where the client would: no network, no child
// process, nothing written, and never throws. An expired session still counts: its tool
// renews it.
bool hasStoredSignIn(model::ProviderKind kind, const ProviderContext& context);

}  // namespace kestrane::providers
