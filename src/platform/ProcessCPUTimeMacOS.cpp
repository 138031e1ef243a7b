#include "platform/ProcessCPUTime.h"

namespace kestrane::platform {

// ps on macOS already prints a decaying recent average, so no reading of our own is needed.
std::optional<unsigned long long> cpuTicksOfProcStat(std::string_view) { return std::nullopt; }

std::optional<double> processCPUSeconds(pid_t) { return std::nullopt; }

}  // namespace kestrane::platform
