#include "platform/ProcessHandle.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrane::platform {

// No process descriptors here: the pid is signalled directly.
ProcessHandle ProcessHandle::open(pid_t pid) {
    if (pid < 1) return ProcessHandle(pid, -1, ESRCH);
    return ProcessHandle(pid, -1, ::kill(pid, 0) == 0 || errno == EPERM ? 0 : errno);
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pid_(other.pid_), descriptor_(std::exchange(other.descriptor_, -1)), error_(other.error_) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    pid_ = other.pid_;
    descriptor_ = std::exchange(other.descriptor_, -1);
    error_ = other.error_;
    return *this;
}

ProcessHandle::~ProcessHandle() = default;

int ProcessHandle::signal(int number) const {
    if (error_ != 0) return error_;
    return ::kill(pid_, number) == 0 ? 0 : errno;
}

}  // namespace kestrane::platform
