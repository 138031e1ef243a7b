// The `ps` listing of the local-services scan (pid, owner, CPU, memory, start time, command).
#include "FuzzSupport.h"
#include "localservices/LocalServiceParser.h"
#include "platform/Calendar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane;
    static const platform::Calendar calendar("Europe/Moscow");
    // Never throws: what it cannot read it skips.
    const auto table =
        localservices::LocalServiceParser::processMetadata(fuzz::asText(data, size), calendar);
    for (const auto& [pid, metadata] : table) {
        if (pid < 1 || metadata.pid != pid) std::abort();
        if (metadata.cpuPercent && !std::isfinite(*metadata.cpuPercent)) std::abort();
    }
    return 0;
}
