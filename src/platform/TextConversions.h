#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane::platform {

// The whole text as a decimal floating-point number: an optional sign, digits with an optional
// fraction, an optional exponent. No white space, no "inf", "nan" or hexadecimal forms, and
// only finite values ("1e999" is refused). Services send such numbers as JSON strings.
std::optional<double> parseDecimalNumber(std::string_view text);

// `value` as a 64-bit integer when it is a whole number inside that range, that is
// -2^63 <= value < 2^63 (2^63 is the first double past the largest int64); nullopt otherwise.
std::optional<std::int64_t> wholeInteger(double value);

// Each white-space separated word with its first letter in upper case and the rest in lower
// case ("team premium" → "Team Premium"); plan names are ASCII, other bytes stay as they are.
std::string capitalisedWords(std::string_view text);

// ASCII letters in upper case, every other byte as it is: for words of a protocol (currency
// codes, enumeration names). Unlike std::toupper it does not follow the C library's locale,
// which the desktop program takes from the user.
std::string asciiUppercased(std::string_view text);

// Non-empty, at most `maxBytes` long and only visible ASCII (no space, no control byte): a
// credential that may go into a header line without adding a header or breaking the line.
bool isVisibleAsciiToken(std::string_view text, std::size_t maxBytes);

// No control byte (C0 or DEL) anywhere: text that may go into a header line without ending it
// or adding a header of its own. Bytes beyond ASCII pass.
bool hasNoControlBytes(std::string_view text);

// Only printable ASCII, U+0020...U+007E (spaces included).
bool isPrintableAscii(std::string_view text);

}  // namespace kestrane::platform
