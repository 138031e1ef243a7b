#pragma once

#include <sys/types.h>

namespace kestrane::platform {

// Signals one process and never another. Opened before the process is checked, it keeps
// aiming at that process even if the process ends and its pid is given to a new one: on
// Linux it is a pidfd; where the system has none (Linux before 5.3, macOS) it falls back to
// kill() on the pid.
class ProcessHandle {
  public:
    // error() tells whether it worked: ESRCH when no such process exists.
    static ProcessHandle open(pid_t pid);

    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ~ProcessHandle();

    // 0, or the errno value of opening.
    int error() const { return error_; }
    // 0, or the errno value (ESRCH once the process has ended, even when its pid lives on).
    int signal(int number) const;

  private:
    ProcessHandle(pid_t pid, int descriptor, int error)
        : pid_(pid), descriptor_(descriptor), error_(error) {}

    pid_t pid_ = 0;
    int descriptor_ = -1;
    int error_ = 0;
};

}  // namespace kestrane::platform
