#include "platform/ProcessIdentity.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>

#include <string_view>
#include <system_error>

#include "platform/ProcStat.h"

namespace kestrane::platform {

std::optional<std::string> processStartToken(pid_t pid) {
    const auto stat = readProcStat(pid);
    if (!stat) return std::nullopt;
    // starttime: clock ticks after boot.
    const auto value = procStatField(*stat, 22);
    if (!value || value->empty() ||
        value->find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(*value);
}

std::optional<uid_t> processOwner(pid_t pid) {
    if (pid < 1) return std::nullopt;
    // Not the owner of /proc/<pid>: that is root for a process that made itself
    // non-dumpable (ssh-agent, gpg-agent), whoever runs it.
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // "Uid:" comes within the first dozen lines.
    char buffer[4096];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (length <= 0) return std::nullopt;
    const std::string_view text(buffer, static_cast<std::size_t>(length));
    // "Uid:\t<real>\t<effective>\t<saved>\t<filesystem>"
    const auto line = text.find("\nUid:");
    if (line == std::string_view::npos) return std::nullopt;
    std::string_view rest = text.substr(line + 5);
    for (int field = 0; field < 2; ++field) {
        const auto start = rest.find_first_not_of(" \t");
        if (start == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(start);
        uid_t value = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (error != std::errc()) return std::nullopt;
        if (field == 1) return value;
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> currentExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return path;
}

}  // namespace kestrane::platform
