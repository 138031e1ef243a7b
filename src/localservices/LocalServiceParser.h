#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "localservices/LocalProcessMetadata.h"
#include "platform/Calendar.h"

namespace kestrane::localservices {

// One process with listening TCP sockets, as lsof reports it.
struct LocalListenerRecord {
    std::int32_t pid = 0;
    // 0 until the output names the owner.
    std::uint32_t uid = 0;
    std::string name;
    std::set<int> ports;

    bool operator==(const LocalListenerRecord&) const = default;
};

// Reads the output of lsof (-F field format, one field per line) and ps. Every function takes
// the whole output, skips what it cannot read and never throws.
namespace LocalServiceParser {

// Processes with at least one listening port, by pid ascending.
std::vector<LocalListenerRecord> listeners(std::string_view output);

// The port of an lsof address ("*:3000", "127.0.0.1:8080", "[::1]:5173"); nothing for "*:*".
std::optional<int> port(std::string_view name);

// Lines of "pid uid pcpu rss lstart(5 fields) command...". Start times are read in the
// calendar's time zone, as ps prints them in the local one.
std::map<std::int32_t, LocalProcessMetadata> processMetadata(std::string_view output,
                                                             const platform::Calendar& calendar);

// pid -> current directory, from lsof -d cwd -Fpn.
std::map<std::int32_t, std::string> workingDirectories(std::string_view output);

}  // namespace LocalServiceParser

}  // namespace kestrane::localservices
