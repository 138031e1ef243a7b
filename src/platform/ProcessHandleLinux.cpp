#include "platform/ProcessHandle.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrane::platform {

ProcessHandle ProcessHandle::open(pid_t pid) {
    if (pid < 1) return ProcessHandle(pid, -1, ESRCH);
    const long descriptor = ::syscall(SYS_pidfd_open, pid, 0);
    if (descriptor >= 0) return ProcessHandle(pid, static_cast<int>(descriptor), 0);
    const int error = errno;
    // Kernels without pidfds (and sandboxes that forbid them) still have kill().
    if (error == ENOSYS || error == EPERM) {
        return ProcessHandle(pid, -1, ::kill(pid, 0) == 0 || errno == EPERM ? 0 : errno);
    }
    return ProcessHandle(pid, -1, error);
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pid_(other.pid_), descriptor_(std::exchange(other.descriptor_, -1)), error_(other.error_) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        pid_ = other.pid_;
        descriptor_ = std::exchange(other.descriptor_, -1);
        error_ = other.error_;
    }
    return *this;
}

ProcessHandle::~ProcessHandle() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

int ProcessHandle::signal(int number) const {
    if (error_ != 0) return error_;
    if (descriptor_ >= 0) {
        if (::syscall(SYS_pidfd_send_signal, descriptor_, number, nullptr, 0) == 0) return 0;
        if (errno != ENOSYS) return errno;
    }
    return ::kill(pid_, number) == 0 ? 0 : errno;
}

}  // namespace kestrane::platform
