#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "localservices/LocalProcessMetadata.h"
#include "localservices/LocalServiceProject.h"

namespace kestrane::localservices {

// Decides which of the user's listening or busy processes are development services worth
// listing. Desktop agents and ordinary applications are left out; runtimes and servers are in.
namespace LocalServiceClassifier {

// Lower-case names of system agents that are never shown.
const std::unordered_set<std::string_view>& hiddenNames();
// Lower-case names of developer runtimes and servers.
const std::unordered_set<std::string_view>& exactRuntimeNames();

// CPU share and resident size at which a process counts as heavy.
inline constexpr double heavyCPUPercent = 20.0;
inline constexpr std::uint64_t heavyMemoryBytes = 536'870'912;  // 512 MiB

// `name` is the listener's command name (or "process"), `command` the raw command line.
bool isRelevant(std::string_view name, std::string_view command,
                const std::optional<std::string>& workingDirectory,
                const std::optional<LocalServiceProject>& project);

// Both arguments already lower-case.
bool isRecognizedRuntime(std::string_view name, std::string_view command);

// Whether a heavy process that listens on nothing is worth showing.
bool isNotableProjectProcess(const LocalProcessMetadata& metadata,
                             const std::optional<std::string>& workingDirectory,
                             const std::optional<LocalServiceProject>& project);

// The first piece of a command line split at any Unicode white space, empty when there is
// none.
std::string_view firstToken(std::string_view command);
// The last component of a path ("/usr/bin/node" -> "node", "/" -> "/").
std::string_view lastPathComponent(std::string_view path);

}  // namespace LocalServiceClassifier

}  // namespace kestrane::localservices
