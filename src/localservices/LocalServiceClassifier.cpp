#include "localservices/LocalServiceClassifier.h"

#include <array>

#include "platform/DesktopApplications.h"
#include "platform/UnicodeText.h"

namespace kestrane::localservices::LocalServiceClassifier {
namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool isUsableDirectory(const std::optional<std::string>& workingDirectory) {
    return !workingDirectory || *workingDirectory != "/";
}

}  // namespace

const std::unordered_set<std::string_view>& hiddenNames() {
    static const std::unordered_set<std::string_view> names{
        "airplayxpchelper",  "controlcenter", "rapportd", "sharingd",
        "identityservicesd", "wirelessproxd", "remoted",  "coreaudiod",
    };
    return names;
}

const std::unordered_set<std::string_view>& exactRuntimeNames() {
    static const std::unordered_set<std::string_view> names{
        "node", "nodejs", "npm",          "npx",     "pnpm",     "yarn",   "bun",
        "deno", "python", "python3",      "uvicorn", "gunicorn", "flask",  "django-admin",
        "ruby", "rails",  "puma",         "php",     "java",     "gradle", "mvn",
        "go",   "cargo",  "docker-proxy", "podman",  "colima",
    };
    return names;
}

std::string_view firstToken(std::string_view command) {
    // Any Unicode space ends it: a no-break space after "/usr/bin/node" must not hide the
    // runtime behind a name like "node\u00a0server.js".
    const auto [start, end] = platform::nextWord(command, 0);
    return command.substr(start, end - start);
}

std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return path;
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isRecognizedRuntime(std::string_view name, std::string_view command) {
    std::array<std::string, 2> candidates{std::string(name)};
    std::size_t count = 1;
    if (const auto token = firstToken(command); !token.empty()) {
        candidates[count++] = platform::lowercased(lastPathComponent(token));
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view candidate = candidates[i];
        if (exactRuntimeNames().contains(candidate)) return true;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view candidate = candidates[i];
        for (const std::string_view prefix : {"python3.", "ruby", "php"}) {
            if (candidate.starts_with(prefix)) return true;
        }
    }
    for (const std::string_view marker : {"/node_modules/", "/.venv/", "/venv/bin/"}) {
        if (contains(command, marker)) return true;
    }
    return contains(command, " docker compose ");
}

bool isRelevant(std::string_view name, std::string_view command,
                const std::optional<std::string>& workingDirectory,
                const std::optional<LocalServiceProject>& project) {
    const std::string lowerName = platform::lowercased(name);
    const std::string lowerCommand = platform::lowercased(command);
    if (hiddenNames().contains(lowerName)) return false;

    // Desktop applications and the system's own programs stay out; a runtime inside an
    // application counts only when it serves a project.
    const bool runtime = isRecognizedRuntime(lowerName, lowerCommand);
    if (platform::DesktopApplications::hidesListener(lowerCommand, runtime, project.has_value())) {
        return false;
    }
    return runtime || (project.has_value() && isUsableDirectory(workingDirectory));
}

bool isNotableProjectProcess(const LocalProcessMetadata& metadata,
                             const std::optional<std::string>& workingDirectory,
                             const std::optional<LocalServiceProject>& project) {
    if (!project || !workingDirectory || *workingDirectory == "/") return false;
    const std::string lowerCommand = platform::lowercased(metadata.command);
    // Without a listener the process has no name of its own; its program decides.
    const bool runtime = isRecognizedRuntime({}, lowerCommand);
    if (platform::DesktopApplications::hidesBusyProcess(lowerCommand, runtime)) return false;
    if (metadata.cpuPercent && *metadata.cpuPercent >= heavyCPUPercent) return true;
    return metadata.memoryBytes && *metadata.memoryBytes >= heavyMemoryBytes;
}

}  // namespace kestrane::localservices::LocalServiceClassifier
