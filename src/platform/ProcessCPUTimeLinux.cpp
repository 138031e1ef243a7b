#include "platform/ProcessCPUTime.h"

#include <unistd.h>

#include <charconv>

#include "platform/ProcStat.h"

namespace kestrane::platform {

std::optional<unsigned long long> cpuTicksOfProcStat(std::string_view stat) {
    unsigned long long ticks = 0;
    // utime is field 14, stime field 15.
    for (const int number : {14, 15}) {
        const auto field = procStatField(stat, number);
        if (!field) return std::nullopt;
        unsigned long long value = 0;
        const auto [at, error] =
            std::from_chars(field->data(), field->data() + field->size(), value);
        if (error != std::errc() || at != field->data() + field->size()) return std::nullopt;
        ticks += value;
    }
    return ticks;
}

std::optional<double> processCPUSeconds(pid_t pid) {
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) return std::nullopt;
    const auto stat = readProcStat(pid);
    if (!stat) return std::nullopt;
    const auto ticks = cpuTicksOfProcStat(*stat);
    if (!ticks) return std::nullopt;
    return static_cast<double>(*ticks) / static_cast<double>(ticksPerSecond);
}

}  // namespace kestrane::platform
