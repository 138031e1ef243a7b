#include "localservices/LocalProjectResolver.h"

#include <filesystem>
#include <system_error>

namespace kestrane::localservices::LocalProjectResolver {
namespace {

// "." and ".." removed, no trailing slash; symbolic links are left alone on purpose.
std::string standardized(const std::string& path) {
    std::string result = std::filesystem::path(path).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    // POSIX lets "//" mean something special; nothing here needs that distinction.
    while (result.starts_with("//")) result.erase(0, 1);
    return result;
}

std::string parentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return path;
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error) && !error;
}

std::optional<LocalServiceProject> resolve(const std::optional<std::string>& workingDirectory,
                                           const FileExists& exists) {
    if (!workingDirectory || *workingDirectory == "/" || !workingDirectory->starts_with('/')) {
        return std::nullopt;
    }
    std::string current = standardized(*workingDirectory);
    if (current == "/") return std::nullopt;
    for (;;) {
        for (const std::string_view marker : markerFiles) {
            if (exists(current + "/" + std::string(marker))) {
                return LocalServiceProject{current.substr(current.rfind('/') + 1), current};
            }
        }
        const std::string parent = parentOf(current);
        if (parent == current || parent == "/") return std::nullopt;
        current = parent;
    }
}

}  // namespace kestrane::localservices::LocalProjectResolver
