#include "platform/ProcessIdentity.h"

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

std::optional<std::filesystem::path> currentExecutable() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return path;
}

}  // namespace kestrane::platform
