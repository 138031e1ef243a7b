#include "platform/HostDescription.h"

#include <algorithm>

namespace kestrane::platform {

std::string versionTriple(std::string_view version) {
    std::string parts[3] = {"0", "0", "0"};
    std::size_t position = 0;
    for (auto& part : parts) {
        std::size_t end = position;
        while (end < version.size() && version[end] >= '0' && version[end] <= '9') ++end;
        if (end == position) break;
        // Kernel components are small; a run of digits this long is not a version number.
        if (end - position > 9) break;
        part = std::string(version.substr(position, end - position));
        part.erase(0, std::min(part.find_first_not_of('0'), part.size() - 1));
        if (end >= version.size() || version[end] != '.') break;
        position = end + 1;
    }
    return parts[0] + "." + parts[1] + "." + parts[2];
}

}  // namespace kestrane::platform
