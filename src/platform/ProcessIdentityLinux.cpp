#include "platform/ProcessIdentity.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>
#include <system_error>

namespace kestrane::platform {

std::optional<std::string> processStartToken(pid_t pid) {
    if (pid < 1) return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[1024];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (length <= 0) return std::nullopt;
    std::string_view rest(buffer, static_cast<std::size_t>(length));
    // The name in parentheses may hold spaces and parentheses: fields count from the last ")".
    const auto close = rest.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(close + 1);
    // After the name: state is field 3, starttime (clock ticks after boot) field 22.
    for (int field = 3; field <= 22; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(start);
        const auto end = std::min(rest.find(' '), rest.size());
        if (field == 22) {
            const std::string_view value = rest.substr(0, end);
            if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
                return std::nullopt;
            }
            return std::string(value);
        }
        rest.remove_prefix(end);
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
