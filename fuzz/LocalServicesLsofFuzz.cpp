// The `lsof -F` listings of the local-services scan: listening sockets and working folders.
#include "FuzzSupport.h"
#include "localservices/LocalServiceParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrane::localservices;
    const auto text = kestrane::fuzz::asText(data, size);
    // These parsers skip what they cannot read and never throw.
    for (const auto& listener : LocalServiceParser::listeners(text)) {
        if (listener.pid <= 0 || listener.ports.empty()) std::abort();
        for (const int port : listener.ports) {
            if (port <= 0 || port > 65535) std::abort();
        }
    }
    for (const auto& [pid, directory] : LocalServiceParser::workingDirectories(text)) {
        if (pid < 1) std::abort();
    }
    (void)LocalServiceParser::port(text);
    return 0;
}
