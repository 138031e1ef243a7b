#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/LocalizedError.h"

namespace kestrane::platform {

using Json = nlohmann::json;

// Parses outside JSON. Throws DecodingError for invalid text or nesting deeper than any
// answer we read could need (deep nesting is refused before it reaches the parser).
Json parseJson(std::string_view text);

// Strict typed members, for documents where a value of the wrong type invalidates the whole
// document: an absent member and null both give nullopt; any other type throws DecodingError.
std::optional<std::string> stringMember(const Json& object, std::string_view key);
std::optional<double> numberMember(const Json& object, std::string_view key);
// Accepts integral numbers only (a float that holds a whole number counts).
std::optional<std::int64_t> integerMember(const Json& object, std::string_view key);
std::optional<bool> boolMember(const Json& object, std::string_view key);
// nullptr when absent or null; throws DecodingError when present but not an object/array.
const Json* objectMember(const Json& object, std::string_view key);
const Json* arrayMember(const Json& object, std::string_view key);

// Throws DecodingError unless `value` is a JSON object.
const Json& requireObject(const Json& value);

}  // namespace kestrane::platform
