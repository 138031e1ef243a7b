#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// Strict standard base64 (RFC 4648 alphabet, length a multiple of 4, at most two "=" and only
// at the end); nullopt for anything else. Tokens of web sign-ins carry their claims this way.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace kestrane::platform
