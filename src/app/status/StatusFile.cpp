#include "app/status/StatusFile.h"

#include <sys/types.h>

#include <limits>

#include "platform/Files.h"
#include "platform/ProcessIdentity.h"

namespace kestrane::app::StatusFile {
namespace {

// A snapshot of every provider is about 4 KB; anything far larger is not ours.
constexpr std::size_t maximumSize = 256 * 1024;

}  // namespace

std::optional<std::filesystem::path> location(const platform::Environment& environment) {
    const auto runtime = environment.value("XDG_RUNTIME_DIR");
    if (!runtime || runtime->empty() || runtime->front() != '/') return std::nullopt;
    return std::filesystem::path(*runtime) / "kestrane" / "status.json";
}

std::optional<StatusSnapshot> read(const std::filesystem::path& path) {
    const auto text = platform::readFile(path, maximumSize);
    if (!text) return std::nullopt;
    return StatusSnapshot::decode(*text);
}

std::optional<StatusSnapshot> readLive(const std::filesystem::path& path) {
    auto snapshot = read(path);
    if (!snapshot || snapshot->pid < 1 || snapshot->pid > std::numeric_limits<pid_t>::max()) {
        return std::nullopt;
    }
    const auto start = platform::processStartToken(static_cast<pid_t>(snapshot->pid));
    if (!start || *start != snapshot->processStart) return std::nullopt;
    return snapshot;
}

}  // namespace kestrane::app::StatusFile
