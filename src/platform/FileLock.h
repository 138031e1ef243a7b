#pragma once

#include <filesystem>
#include <optional>

namespace kestrane::platform {

// An exclusive advisory lock on a small file, held while this object lives. The kernel drops
// it when the process ends in any way, so a lock left by a crashed process never blocks.
// The descriptor is close-on-exec: child processes do not keep it.
class FileLock {
  public:
    enum class Outcome {
        acquired,
        // Another open of the file holds it (another process, or another owner in this one).
        heldElsewhere,
        // The lock file cannot be created or locked here (read-only folder, no lock support).
        unavailable,
    };

    // Creates `path` when missing (mode 0600) and tries to lock it without waiting.
    static std::pair<Outcome, std::optional<FileLock>> tryAcquire(
        const std::filesystem::path& path);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

  private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace kestrane::platform
