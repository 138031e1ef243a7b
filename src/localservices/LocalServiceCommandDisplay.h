#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kestrane::localservices {

// Turns a command line into what the services list shows: a short name and a text with
// credentials masked and its length capped.
namespace LocalServiceCommandDisplay {

// Applied in order; each keeps its first group and hides the value after it.
inline constexpr std::array<std::string_view, 3> secretPatterns{
    R"((?i)((?:--?)?(?:api[-_]?key|access[-_]?token|auth[-_]?token|token|password|passwd|secret)(?:=|\s+))([^\s]+))",
    R"((?i)(\b[A-Z0-9_]*(?:API_KEY|ACCESS_TOKEN|AUTH_TOKEN|TOKEN|PASSWORD|PASSWD|SECRET)=)([^\s]+))",
    R"((?i)(Bearer\s+)([^\s]+))",
};
inline constexpr std::string_view maskTemplate = "$1[скрыто]";
// In characters, not bytes.
inline constexpr std::size_t maximumLength = 240;

// The file name of the command's program, or `fallback` when the command is empty.
std::string readableName(std::string_view processCommand, std::string_view fallback);

// Masks option values, environment assignments and bearer credentials that look secret,
// then cuts the text to 237 characters plus "..." when it is longer than 240.
std::string redact(std::string_view command);

}  // namespace LocalServiceCommandDisplay

}  // namespace kestrane::localservices
