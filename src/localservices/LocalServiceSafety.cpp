#include "localservices/LocalServiceSafety.h"

#include <algorithm>

namespace kestrane::localservices::LocalServiceSafety {

bool representsSameProcess(const LocalService& expected, const LocalService& current) {
    if (!expected.startToken || !current.startToken) return false;
    if (expected.pid != current.pid || expected.ownerUID != current.ownerUID ||
        *expected.startToken != *current.startToken || expected.name != current.name) {
        return false;
    }
    if (expected.ports.empty()) return true;
    return std::ranges::any_of(expected.ports, [&](int port) {
        return std::ranges::find(current.ports, port) != current.ports.end();
    });
}

}  // namespace kestrane::localservices::LocalServiceSafety
