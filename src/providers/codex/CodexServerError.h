#pragma once

#include <optional>
#include <string_view>

#include "model/QuotaError.h"

namespace kestrane::providers {

// The error for an app-server request that failed with `serverText`. The texts a user meets
// on a first run (signed out, signed in with an API key only, a login that has expired, no
// network, the server refusing or failing) become a Russian message that says what to do;
// any other text is shown as the server wrote it, on one clean line.
model::QuotaError codexServerError(std::string_view serverText);

// The Russian message for a text we know; nothing for any other.
std::optional<model::QuotaError> knownCodexServerError(std::string_view serverText);

// What to tell a user whom "account/read" reported as signed out.
model::QuotaError codexSignedOutError();

}  // namespace kestrane::providers
