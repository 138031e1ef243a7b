#include "platform/ProcessCPUTime.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <string>

namespace kestrane::platform {

std::optional<unsigned long long> cpuTicksOfProcStat(std::string_view stat) {
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    // After the name: state (field 3) ... utime (14), stime (15).
    std::string_view rest = stat.substr(close + 1);
    unsigned long long ticks = 0;
    for (int field = 3; field <= 15; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(start);
        const auto end = std::min(rest.find(' '), rest.size());
        if (field >= 14) {
            unsigned long long value = 0;
            const auto [at, error] = std::from_chars(rest.data(), rest.data() + end, value);
            if (error != std::errc() || at != rest.data() + end) return std::nullopt;
            ticks += value;
        }
        rest.remove_prefix(end);
    }
    return ticks;
}

std::optional<double> processCPUSeconds(pid_t pid) {
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (pid < 1 || ticksPerSecond <= 0) return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // The line is a few hundred bytes; the name is at most 16 of them.
    char buffer[1024];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (length <= 0) return std::nullopt;
    const auto ticks = cpuTicksOfProcStat(std::string_view(buffer, static_cast<std::size_t>(length)));
    if (!ticks) return std::nullopt;
    return static_cast<double>(*ticks) / static_cast<double>(ticksPerSecond);
}

}  // namespace kestrane::platform
