#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/Environment.h"
#include "platform/Workspace.h"

namespace kestrane::providers {

// Finds the user's `codex` executables, best first. Never starts anything and never fails:
// an empty list means Codex is not installed. Nothing is cached; every call looks afresh.
namespace CodexExecutableLocator {

// Bundles of the desktop applications that carry the executable: running ones first, in
// the order the workspace reports them, then the installed ones. Not de-duplicated.
std::vector<std::filesystem::path> installedApplications(const platform::Workspace& workspace);

// Absolute paths of executable regular files, in this order of preference: CODEX_PATH,
// copies inside application bundles, the command folders (then ~/.local/bin and ~/bin),
// then the absolute pieces of PATH. A file reachable under several names (symbolic links)
// is listed once, under the first name found.
std::vector<std::string> executables(
    const platform::Environment& environment,
    const std::vector<std::filesystem::path>& applications, const std::filesystem::path& home,
    const std::vector<std::filesystem::path>& applicationDirectories,
    const std::vector<std::filesystem::path>& commandDirectories);

// Executables named `codex` anywhere under bundle/Contents (at most 8 levels deep, outside
// frameworks, plug-ins, localisations and the like), sorted by path.
std::vector<std::filesystem::path> bundledExecutables(const std::filesystem::path& bundle);

}  // namespace CodexExecutableLocator
}  // namespace kestrane::providers
