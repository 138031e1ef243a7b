#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace kestrane::testing {

struct ProcessOutput {
    int exitStatus = -1;  // -1 when killed by a signal or not started
    std::string standardOutput;
    std::string standardError;
};

// Runs `program` with `arguments` and exactly `environment`, collects its output and waits
// for it to end (killing it after `limit`).
ProcessOutput runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

// The built kestrane executable, for whole-process tests.
std::string kestraneExecutable();

}  // namespace kestrane::testing
