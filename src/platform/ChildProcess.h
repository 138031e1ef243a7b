#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/LocalizedError.h"

namespace kestrane::platform {

// A program could not be started; what() is the Russian description of the reason.
class LaunchError : public LocalizedError {
  public:
    explicit LaunchError(int error);
    int error() const { return error_; }

  private:
    int error_;
};

// Russian description of an errno value, for messages shown to the user.
std::string describeSystemError(int error);

struct ChildOptions {
    std::optional<std::filesystem::path> workingDirectory;
    // Give the child a pipe for its standard input (else it inherits ours).
    bool pipeInput = false;
    // Give the child a pipe for its standard output (else it goes to the null device).
    bool pipeOutput = true;
    // Start the child as the leader of a process group of its own; stop() then ends the
    // whole group, so a grandchild that still holds a pipe does not outlive it.
    bool ownProcessGroup = false;
    // The child's PATH (else it inherits ours). The rest of the environment is inherited.
    std::optional<std::string> searchPath;
};

// A started child process. Its standard error goes to the null device, every other
// descriptor of ours is closed in it, and it starts with default signal handling even
// though this process ignores SIGPIPE. Destroying a running child stops it.
class ChildProcess {
  public:
    // Throws LaunchError.
    static ChildProcess start(const std::filesystem::path& executable,
                              const std::vector<std::string>& arguments,
                              const ChildOptions& options = {});

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // -1 when not piped or already closed. Writes to a child that has gone fail with EPIPE.
    int inputDescriptor() const { return input_; }
    int outputDescriptor() const { return output_; }
    void closeInput();
    void closeOutput();

    // Reaps the child if it has exited; true while it still runs.
    bool isRunning();
    // Blocks until the child has exited; its wait status (as from waitpid).
    int wait();
    // Closes the input, sends SIGTERM, checks up to 20 times 10 ms apart, then SIGKILL,
    // and waits. With its own process group, the signals go to the whole group, and what is
    // left of the group is killed before the child is reaped. Safe to call more than once.
    void stop();
    // Waits up to `limit` for the child to exit by itself; its wait status when it did. The
    // child is not reaped, so stop() can still reach its process group.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);

  private:
    ChildProcess(pid_t pid, int input, int output, bool group)
        : pid_(pid), input_(input), output_(output), group_(group) {}
    void release();
    // True once the child has exited (or cannot be waited for); does not reap it.
    bool hasExited() const;
    std::optional<int> exitStatusWithoutReaping() const;

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool reaped_ = false;
    bool group_ = false;
    int status_ = 0;
};

struct CommandOutput {
    // Wait status as from waitpid.
    int status = 0;
    std::string output;
    // Output past the cap was read and dropped.
    bool truncated = false;
    // The child outlived the time limit and was killed.
    bool timedOut = false;

    bool exitedSuccessfully() const;
};

// Whether a command runs in the process group of this program or leads one of its own.
enum class ProcessGroup { shared, own };

// Runs a program to its end and returns its standard output (at most `maxOutputBytes`).
// With a limit, a child still running when it expires is killed. In a group of its own, the
// whole group ends with it: whatever it started and left running (or left holding its output)
// is ended too, when it times out as when it exits. Throws LaunchError.
CommandOutput runCommand(const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, std::size_t maxOutputBytes,
                         std::optional<std::chrono::milliseconds> limit = std::nullopt,
                         ProcessGroup group = ProcessGroup::shared);

}  // namespace kestrane::platform
