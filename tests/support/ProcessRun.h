#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
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

// A program started in the background with exactly `environment`, its output discarded. One
// still running when the value goes is ended (SIGTERM) and waited for.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Whether firstToEnd can wait for it (the kernel gives process descriptors).
    bool canWait() const { return pidDescriptor_ >= 0; }
    // Ends it with SIGTERM if it still runs; its exit status, -1 when a signal ended it.
    int stop();

    // Of `processes`, the index of the first to end by itself within `limit` (it is then
    // reaped; `exitStatus` gets its status); nullopt when all still run at the limit.
    static std::optional<std::size_t> firstToEnd(const std::vector<BackgroundProcess*>& processes,
                                                 std::chrono::milliseconds limit, int& exitStatus);

  private:
    int reap();

    pid_t pid_ = -1;
    int pidDescriptor_ = -1;
    std::optional<int> exitStatus_;
};

// The built kestrane executable, for whole-process tests.
std::string kestraneExecutable();

}  // namespace kestrane::testing
