#include "app/StatusFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include "platform/Files.h"
#include "platform/ProcessIdentity.h"

namespace kestrane::app {
namespace {

// A snapshot of five providers is about 3 KB; anything far larger is not ours.
constexpr std::size_t maximumSize = 256 * 1024;

}  // namespace

std::optional<std::filesystem::path> StatusFile::location(
    const platform::Environment& environment) {
    const auto runtime = environment.value("XDG_RUNTIME_DIR");
    if (!runtime || runtime->empty() || runtime->front() != '/') return std::nullopt;
    return std::filesystem::path(*runtime) / "kestrane" / "status.json";
}

std::shared_ptr<StatusFile> StatusFile::forSession(const platform::Environment& environment) {
    const auto path = location(environment);
    if (!path) return nullptr;
    return std::make_shared<StatusFile>(*path, platform::Calendar::current());
}

StatusFile::StatusFile(std::filesystem::path path, platform::Calendar calendar)
    : path_(std::move(path)), calendar_(std::move(calendar)) {}

void StatusFile::publish(const std::vector<model::ProviderKind>& enabled,
                         const std::map<model::ProviderKind, ProviderState>& states,
                         const UsageHistory& history, platform::Date now) {
    StatusSnapshot snapshot = StatusSnapshot::make(enabled, states, history, now, calendar_);
    snapshot.pid = ::getpid();
    snapshot.processStart = platform::processStartToken(::getpid()).value_or("");
    // The folder is the user's own (the runtime folder is); a failure only means that
    // --status finds nothing, which it reports.
    const std::filesystem::path folder = path_.parent_path();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return;
    platform::writeFileAtomically(path_, snapshot.encode(),
                                  std::filesystem::perms::owner_read |
                                      std::filesystem::perms::owner_write);
}

void StatusFile::withdraw() {
    // Only our own file: a newer instance may have taken the place over.
    const auto text = platform::readFile(path_, maximumSize);
    if (!text) return;
    const auto snapshot = StatusSnapshot::decode(*text);
    if (snapshot && snapshot->pid == ::getpid()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
}

std::optional<StatusSnapshot> StatusFile::readLive(const std::filesystem::path& path) {
    const auto text = platform::readFile(path, maximumSize);
    if (!text) return std::nullopt;
    auto snapshot = StatusSnapshot::decode(*text);
    if (!snapshot || snapshot->pid < 1 || snapshot->pid > std::numeric_limits<pid_t>::max()) {
        return std::nullopt;
    }
    const auto start = platform::processStartToken(static_cast<pid_t>(snapshot->pid));
    if (!start || *start != snapshot->processStart) return std::nullopt;
    return snapshot;
}

}  // namespace kestrane::app
