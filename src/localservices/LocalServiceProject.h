#pragma once

#include <string>

namespace kestrane::localservices {

// The project folder a process works in: the nearest folder with a project marker file.
struct LocalServiceProject {
    // Last path component of the folder.
    std::string name;
    // Absolute path with "." and ".." removed (symbolic links kept as they are).
    std::string path;

    bool operator==(const LocalServiceProject&) const = default;
};

}  // namespace kestrane::localservices
