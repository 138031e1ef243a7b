#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Date.h"

namespace kestrane::platform {

// RFC 3339 internet date-time: "2025-01-01T10:00:00Z", "2025-01-01T10:00:00+03:00".
// With `fractionalSeconds` the seconds must carry a fraction ("10:00:00.123Z"); without it
// they must not, as with the platform's ISO 8601 formatter and its options.
std::optional<Date> parseInternetDateTime(std::string_view text, bool fractionalSeconds);

// Tries with fractional seconds, then without.
std::optional<Date> parseInternetDateTime(std::string_view text);

}  // namespace kestrane::platform

namespace kestrane::platform {

// "2025-01-01T10:00:00Z": the instant in UTC, whole seconds (a fraction is dropped toward the
// past), as every reader of RFC 3339 accepts it.
std::string formatInternetDateTime(Date date);

}  // namespace kestrane::platform
