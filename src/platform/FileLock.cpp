#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrane::platform {

std::pair<FileLock::Outcome, std::optional<FileLock>> FileLock::tryAcquire(
    const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return {Outcome::unavailable, std::nullopt};
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        return {error == EWOULDBLOCK ? Outcome::heldElsewhere : Outcome::unavailable, std::nullopt};
    }
    return {Outcome::acquired, FileLock(fd)};
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FileLock::~FileLock() {
    // Closing the only descriptor of this open file releases the lock.
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace kestrane::platform
