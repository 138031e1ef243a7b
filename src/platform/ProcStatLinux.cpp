#include "platform/ProcStat.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace kestrane::platform {

std::optional<std::string> readProcStat(pid_t pid) {
    if (pid < 1) return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // The line is a few hundred bytes; the name is at most 16 of them.
    char buffer[1024];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (length <= 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::optional<std::string_view> procStatField(std::string_view stat, int number) {
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos || number < 3) return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    for (int field = 3;; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(start);
        const auto end = std::min(rest.find(' '), rest.size());
        if (field == number) return rest.substr(0, end);
        rest.remove_prefix(end);
    }
}

}  // namespace kestrane::platform
