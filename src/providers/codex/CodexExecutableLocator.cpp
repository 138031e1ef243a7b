#include "providers/codex/CodexExecutableLocator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

namespace kestrane::providers::CodexExecutableLocator {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 2> kBundleIdentifiers = {"com.openai.codex",
                                                                "com.openai.chat"};
constexpr std::array<std::string_view, 2> kBundleNames = {"ChatGPT.app", "Codex.app"};
// Where the known application versions keep the command-line tool, newest layout first.
constexpr std::array<std::string_view, 4> kBundleRelativePaths = {
    "Contents/Resources/codex-cli/CodexCLI.app/Contents/MacOS/codex",
    "Contents/Resources/codex-cli/bin/codex",
    "Contents/Resources/codex",
    "Contents/MacOS/codex",
};
// Folders that never hold the tool but can hold thousands of files.
constexpr std::array<std::string_view, 5> kExcludedDirectories = {
    "node_modules", "plugins", "skills", "Frameworks", "_CodeSignature"};
constexpr int kMaxBundleDepth = 8;
constexpr std::string_view kExecutableName = "codex";

// Exists, is a regular file after following links, and the current user may run it.
bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return ::access(path.c_str(), X_OK) == 0;
}

// The path with every symbolic link followed; the path itself when it cannot be resolved.
std::string resolved(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? path.lexically_normal().string() : canonical.string();
}

// "~" and "~/…" name the home folder; "~user" forms are left alone.
fs::path expandingTilde(const std::string& value, const fs::path& home) {
    if (value == "~") return home;
    if (value.starts_with("~/")) return home / value.substr(2);
    return value;
}

bool isExcludedDirectory(const fs::path& path) {
    const std::string name = path.filename().string();
    if (std::find(kExcludedDirectories.begin(), kExcludedDirectories.end(), name) !=
        kExcludedDirectories.end()) {
        return true;
    }
    return path.extension() == ".lproj";
}

}  // namespace

std::vector<fs::path> installedApplications(const platform::Workspace& workspace) {
    std::vector<fs::path> bundles;
    for (const auto& application : workspace.runningApplications()) {
        if (!application.bundleIdentifier || !application.bundleLocation) continue;
        if (std::find(kBundleIdentifiers.begin(), kBundleIdentifiers.end(),
                      *application.bundleIdentifier) != kBundleIdentifiers.end()) {
            bundles.push_back(*application.bundleLocation);
        }
    }
    for (const std::string_view identifier : kBundleIdentifiers) {
        if (auto location = workspace.applicationLocation(identifier)) {
            bundles.push_back(std::move(*location));
        }
    }
    return bundles;
}

std::vector<std::string> executables(const platform::Environment& environment,
                                     const std::vector<fs::path>& applications,
                                     const fs::path& home,
                                     const std::vector<fs::path>& applicationDirectories,
                                     const std::vector<fs::path>& commandDirectories) {
    std::vector<fs::path> candidates;

    if (const auto override = environment.value("CODEX_PATH"); override && !override->empty()) {
        // The child is started in another folder, so a relative path would name another file.
        std::error_code error;
        fs::path path = expandingTilde(*override, home);
        fs::path absolute = fs::absolute(path, error);
        candidates.push_back(error ? path : absolute);
    }

    std::vector<fs::path> directories = applicationDirectories;
    directories.push_back(home / "Applications");
    std::vector<fs::path> bundles = applications;
    for (const auto& directory : directories) {
        for (const std::string_view name : kBundleNames) bundles.push_back(directory / name);
    }
    std::set<std::string> seenBundles;
    for (const auto& bundle : bundles) {
        if (!seenBundles.insert(resolved(bundle)).second) continue;
        std::vector<fs::path> found;
        for (const std::string_view relative : kBundleRelativePaths) {
            fs::path path = bundle / relative;
            if (isExecutableFile(path)) found.push_back(std::move(path));
        }
        if (found.empty()) found = bundledExecutables(bundle);
        candidates.insert(candidates.end(), found.begin(), found.end());
    }

    for (const auto& directory : commandDirectories)
        candidates.push_back(directory / kExecutableName);
    candidates.push_back(home / ".local/bin" / kExecutableName);
    candidates.push_back(home / "bin" / kExecutableName);

    const std::string searchPath = environment.value("PATH").value_or("");
    std::string_view rest = searchPath;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view piece = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (piece.starts_with('/')) candidates.push_back(fs::path(piece) / kExecutableName);
    }

    std::vector<std::string> result;
    std::set<std::string> seenFiles;
    for (const auto& candidate : candidates) {
        if (!isExecutableFile(candidate)) continue;
        if (seenFiles.insert(resolved(candidate)).second) result.push_back(candidate.string());
    }
    return result;
}

std::vector<fs::path> bundledExecutables(const fs::path& bundle) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(bundle / "Contents",
                                          fs::directory_options::skip_permission_denied, error);
    if (error) return found;
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) break;
        const fs::path& path = walk->path();
        const bool hidden = path.filename().string().starts_with('.');
        // depth() counts from 0 for the direct children of Contents.
        if (hidden || walk.depth() + 1 > kMaxBundleDepth || isExcludedDirectory(path)) {
            walk.disable_recursion_pending();
            continue;
        }
        if (path.filename() == kExecutableName && isExecutableFile(path)) found.push_back(path);
    }
    std::sort(found.begin(), found.end(),
              [](const fs::path& a, const fs::path& b) { return a.string() < b.string(); });
    return found;
}

}  // namespace kestrane::providers::CodexExecutableLocator
