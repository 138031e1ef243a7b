#pragma once

#include <optional>
#include <string>
#include <vector>

#include "localservices/LocalService.h"

namespace kestrane::localservices {

// What one scan found: the rows, and a note for the user when part of the machinery was
// missing (without ps no row can be checked, so none can be stopped).
struct LocalServiceScan {
    std::vector<LocalService> services;
    std::optional<std::string> notice;

    bool operator==(const LocalServiceScan&) const = default;
};

}  // namespace kestrane::localservices
