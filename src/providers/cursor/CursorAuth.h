#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Date.h"
#include "platform/Json.h"

namespace kestrane::providers {

// The editor's access token, a JSON Web Token, and what the dashboard needs from it. Every
// property is derived on demand and throws a QuotaError describing what is wrong.
class CursorAuth {
  public:
    explicit CursorAuth(std::string accessToken) : accessToken_(std::move(accessToken)) {}

    // The token's claims (the second "."-separated piece, base64url, a JSON object).
    platform::Json payload() const;
    // The last non-empty "|" piece of the `sub` claim ("auth0|user_123" gives "user_123").
    std::string userID() const;
    // The `exp` claim.
    platform::Date expiresAt() const;
    // Throws unless the token is valid for more than a minute after `now`.
    void requireUnexpired(platform::Date now) const;
    // The dashboard's session cookie; holds the token, so it must never be shown anywhere.
    std::string cookie() const;

  private:
    std::string accessToken_;
};

}  // namespace kestrane::providers
