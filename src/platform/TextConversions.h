#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// The whole text as a decimal floating-point number: an optional sign, digits with an optional
// fraction, an optional exponent. No white space, no "inf", "nan" or hexadecimal forms, and
// only finite values ("1e999" is refused). Services send such numbers as JSON strings.
std::optional<double> parseDecimalNumber(std::string_view text);

// Each white-space separated word with its first letter in upper case and the rest in lower
// case ("team premium" → "Team Premium"); plan names are ASCII, other bytes stay as they are.
std::string capitalisedWords(std::string_view text);

}  // namespace kestrane::platform
